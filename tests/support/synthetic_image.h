#pragma once

// Synthetic firmware images for tests: a synthesis that fails fails the test
// that asked for it and gives no bytes, so no test runs on against an image
// that is not there.

#include "device/ic_type.h"
#include "download/image_synthesis.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace tessell::testing {

// The identity most tests give their image: VID 1209, PID 0002, bcdDevice 0102
// (a simulated camera with nothing bootable presents PID 0001).
inline image::SynthesisRequest lineImage(ImageFamily family, std::uint16_t bcdDevice = 0x0102) {
    image::SynthesisRequest request;
    request.family = family;
    request.vid = 0x1209;
    request.pid = 0x0002;
    request.bcdDevice = bcdDevice;
    return request;
}

inline std::vector<std::uint8_t> synthesized(const image::SynthesisRequest& request) {
    std::string error;
    auto bytes = image::synthesizeImage(request, error);
    EXPECT_TRUE(bytes) << error;
    return bytes ? std::move(*bytes) : std::vector<std::uint8_t>{};
}

// Writes `bytes` to `name` in `dir`; the file's path.
inline std::filesystem::path writeImage(const TempDir& dir, std::string_view name,
                                        const std::vector<std::uint8_t>& bytes) {
    return dir.write(name, std::string(bytes.begin(), bytes.end()));
}

// What the flash must hold after a good download: the image as loaded, with
// the flash-type byte the camera reads. The values are written out here, not
// taken from the tables of the code under test, so that a wrong entry there
// cannot also make the expected flash wrong.
inline std::vector<std::uint8_t> expectedFlash(const std::vector<std::uint8_t>& image,
                                               IcType camera, std::uint8_t flashCode) {
    // Opcode table of each code; family indexes 0..6 stand for themselves.
    int table = flashCode <= 6 ? flashCode : 0;
    switch (flashCode) {
    case 0x7A:
        table = 1;
        break;
    case 0x7B:
    case 0x7C:
    case 0x7D:
        table = 2;
        break;
    case 0x7F:
    case 0x89:
        table = 3;
        break;
    case 0x80:
        table = 4;
        break;
    case 0x7E:
        table = 5;
        break;
    case 0x81:
    case 0x82:
        table = 6;
        break;
    default:
        break;
    }
    struct TypeByte {
        std::size_t offset;
        std::uint8_t values[7];
    };
    static constexpr TypeByte kOlder{0xC006, {0, 1, 4, 5, 6, 3, 7}};   // 'f', 'g'
    static constexpr TypeByte k7310{0x501F, {0, 1, 4, 5, 6, 3, 7}};    // 'h'
    static constexpr TypeByte k7318{0x6010, {1, 2, 5, 6, 7, 4, 8}};    // 'i'
    static constexpr TypeByte kHeader{0x0002, {4, 1, 2, 9, 10, 8, 5}}; // 'j', 'k', 'm'
    const TypeByte* type = camera == IcType::f || camera == IcType::g ? &kOlder
                           : camera == IcType::h                      ? &k7310
                           : camera == IcType::i                      ? &k7318
                           : camera == IcType::j || camera == IcType::k || camera == IcType::m
                               ? &kHeader
                               : nullptr;
    std::vector<std::uint8_t> expected = image;
    if (type && type->offset < expected.size())
        expected[type->offset] = type->values[table];
    return expected;
}

// Whether `flash` (a flash file's bytes or a camera's flash) begins with `expected`.
template <typename Flash>
::testing::AssertionResult flashBeginsWith(const Flash& flash,
                                           const std::vector<std::uint8_t>& expected) {
    if (flash.size() < expected.size())
        return ::testing::AssertionFailure()
               << "the flash holds " << flash.size() << " bytes, fewer than the image's "
               << expected.size();
    const auto differs =
        std::mismatch(expected.begin(), expected.end(), flash.begin(),
                      [](std::uint8_t a, auto b) { return a == static_cast<std::uint8_t>(b); });
    if (differs.first != expected.end())
        return ::testing::AssertionFailure()
               << "the flash differs from the image at byte " << (differs.first - expected.begin());
    return ::testing::AssertionSuccess();
}

} // namespace tessell::testing
