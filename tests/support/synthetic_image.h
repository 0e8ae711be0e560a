#pragma once

// Synthetic firmware images for tests: a synthesis that fails fails the test
// that asked for it and gives no bytes, so no test runs on against an image
// that is not there.

#include "download/image_synthesis.h"
#include "tests/support/test_env.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace tessell::testing {

// The identity most tests give their image: VID 1234, PID 5678, bcdDevice 0102.
inline image::SynthesisRequest lineImage(ImageFamily family, std::uint16_t bcdDevice = 0x0102) {
    image::SynthesisRequest request;
    request.family = family;
    request.vid = 0x1234;
    request.pid = 0x5678;
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

} // namespace tessell::testing
