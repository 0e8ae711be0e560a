#include "download/camera_flash.h"
#include "download/image_synthesis.h"
#include "support/sim_link.h"
#include "tests/support/synthetic_image.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace tessell::testing {
namespace {

Bytes synthesize(ImageFamily family, std::uint16_t typeNumber,
                 std::optional<image::HeaderBytes> header = std::nullopt) {
    image::SynthesisRequest request;
    request.family = family;
    request.header = header;
    request.typeNumber = typeNumber;
    return synthesized(request);
}

json camera(const TempDir& dir, const char* chip, const Bytes& content,
            json faults = json::array()) {
    Bytes flash(0x10000, 0xFF);
    std::copy_n(content.begin(), std::min(content.size(), flash.size()), flash.begin());
    return json::array({{{"chip_id", chip},
                         {"faults", faults},
                         {"flash", {{"part", "0x79"}, {"file", flashFile(dir, flash)}}}}});
}

TEST(CameraIdentityDisplay, TypeNumberComesFromEachFamilysPlace) {
    struct Case {
        const char* chip;
        IcType camera;
        Bytes flash;
        const char* typeNumber;
    };
    const Case cases[] = {
        {"0xC0", IcType::k, synthesize(ImageFamily::f, 0x12AB), "12ab"},
        {"0xB0", IcType::j, synthesize(ImageFamily::g, 0x0042), "0042"},
        {"0x80", IcType::h, synthesize(ImageFamily::d, 0x7A01), "7a01"},
        {"0xA0", IcType::i, synthesize(ImageFamily::e, 0xBEEF), "beef"},
        {"0xD0", IcType::m, synthesize(ImageFamily::h, 0x1111), ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        SimLink sim(camera(dir, c.chip, c.flash));
        ASSERT_TRUE(sim.opened);
        const auto display =
            cameraIdentityDisplay(sim.link, c.camera, 0x1209, 0x000C, 0x0917, true);
        EXPECT_EQ(display.typeNumberText, c.typeNumber) << c.camera;
        ASSERT_EQ(display.log.size(), 2u);
        EXPECT_EQ(display.log[0].text, "(Camera) Current bcdDevice version = 0917\r\n");
        EXPECT_EQ(display.log[1].text,
                  std::string("(Camera) Type Number = ") + c.typeNumber + "\r\n");
        EXPECT_TRUE(display.log[0].burnLog && display.log[1].burnLog);
        EXPECT_EQ(display.bcdDeviceText, "0917");
        EXPECT_EQ(display.productIdText, "000c");
        EXPECT_EQ(display.vendorIdText, "1209");
        EXPECT_EQ(display.vid, 0x1209);
        EXPECT_EQ(display.pid, 0x000C);
        EXPECT_EQ(display.bcdDevice, 0x0917);
    }

    // Without ShowFWVer only the version line.
    TempDir dir;
    SimLink sim(camera(dir, "0xC0", synthesize(ImageFamily::f, 0x12AB)));
    ASSERT_TRUE(sim.opened);
    const auto quiet = cameraIdentityDisplay(sim.link, IcType::k, 1, 2, 0xABCD, false);
    ASSERT_EQ(quiet.log.size(), 1u);
    EXPECT_EQ(quiet.log[0].text, "(Camera) Current bcdDevice version = abcd\r\n");
    EXPECT_EQ(quiet.typeNumberText, "12ab");
}

TEST(CameraIdentityDisplay, UnreadableFlashGivesNoTypeNumber) {
    {
        // H = 1: the type number would lie before the flash.
        TempDir dir;
        SimLink sim(camera(dir, "0xC0", Bytes{0x89, 0x17, 0, 0, 0x00, 0x01}));
        ASSERT_TRUE(sim.opened);
        EXPECT_TRUE(cameraTypeNumber(sim.link, IcType::k).wasRefused()) << "read, but no image";
    }
    {
        // The sector reads of an 'h' camera fail.
        TempDir dir;
        SimLink sim(camera(dir, "0x80", synthesize(ImageFamily::d, 0x7A01),
                           json::array({{{"op", "get"},
                                         {"selector", 15},
                                         {"nth", 1},
                                         {"times", 1000},
                                         {"status", "0x8007001F"}}})));
        ASSERT_TRUE(sim.opened);
        const auto display = cameraIdentityDisplay(sim.link, IcType::h, 0, 0, 0, true);
        EXPECT_EQ(display.typeNumberText, "");
        EXPECT_EQ(display.log.back().text, "(Camera) Type Number = \r\n");
    }
    {
        // Block reads of a 'j' camera fail.
        TempDir dir;
        SimLink sim(camera(dir, "0xB0", synthesize(ImageFamily::g, 0x0042),
                           json::array({{{"op", "get"},
                                         {"selector", 22},
                                         {"nth", 1},
                                         {"times", 1000},
                                         {"status", "0x8007001F"}}})));
        ASSERT_TRUE(sim.opened);
        // Unreadable, not refused: the reason is the camera's.
        EXPECT_EQ(cameraTypeNumber(sim.link, IcType::j).status(), status::kDeviceGone);
        EXPECT_EQ(cameraStringBlockOffset(sim.link, IcType::j).status(), status::kDeviceGone);
    }
}

TEST(CameraStringBlockOffset, PointersFromTheFlashStayInsideIt) {
    struct Case {
        const char* what;
        Bytes flash;
        IcType camera;
        std::optional<std::size_t> offset;
    };
    auto header = [](std::uint8_t kind, std::uint16_t h) {
        Bytes bytes(0x10000, 0xFF);
        bytes[0] = 0x89;
        bytes[1] = kind;
        bytes[4] = static_cast<std::uint8_t>(h >> 8);
        bytes[5] = static_cast<std::uint8_t>(h);
        return bytes;
    };
    auto withPointer = [](Bytes bytes, std::size_t at, std::uint16_t p) {
        bytes[at] = static_cast<std::uint8_t>(p >> 8);
        bytes[at + 1] = static_cast<std::uint8_t>(p);
        return bytes;
    };
    const Case cases[] = {
        {"'k' pointer at H+0x7A", withPointer(header(0x17, 0x100), 0x17A, 0x2000), IcType::k,
         0x3000},
        {"'j' pointer at H+0x74", withPointer(header(0x16, 0x100), 0x174, 0x2000), IcType::j,
         0x3000},
        {"'m' pointer at H+0x9C", withPointer(header(0x26, 0x100), 0x19C, 0xE000), IcType::m,
         0xF000},
        {"P = 0xFFFF", header(0x17, 0x100), IcType::k, std::nullopt},
        {"a pointer field beyond 64 KiB", header(0x17, 0xFFF0), IcType::k, std::nullopt},
        {"0x89 0x30 is no header", withPointer(header(0x30, 0x100), 0x17A, 0x2000), IcType::k,
         std::nullopt},
        {"'h' keeps them at 0xE000", Bytes{}, IcType::h, 0xE000},
        {"'i' keeps them at 0xE000", Bytes{}, IcType::i, 0xE000},
        {"'f' keeps none", withPointer(header(0x17, 0x100), 0x17A, 0x2000), IcType::f,
         std::nullopt},
    };
    for (const auto& c : cases) {
        TempDir dir;
        SimLink sim(camera(dir, "0xC0", c.flash));
        ASSERT_TRUE(sim.opened);
        const auto offset = cameraStringBlockOffset(sim.link, c.camera);
        EXPECT_EQ(offset.ok() ? std::optional(*offset) : std::nullopt, c.offset) << c.what;
        EXPECT_EQ(offset.wasRefused(), !c.offset) << c.what << ": " << offset.reason();
    }
    TempDir dir;
    SimLink sim(camera(dir, "0xC0", Bytes{0x89, 0x17}));
    ASSERT_TRUE(sim.opened);
    EXPECT_EQ(readFlashWord(sim.link, 0).value_or(0), 0x8917);
    EXPECT_EQ(readFlashWord(sim.link, 0xFFFE).value_or(0), 0xFFFF);
    EXPECT_TRUE(readFlashWord(sim.link, 0xFFFF).wasRefused()) << "the second byte would wrap to 0";
    sim.link.CloseCamera();
    EXPECT_FALSE(readFlashWord(sim.link, 0).ok()) << "no camera opened";
}

} // namespace
} // namespace tessell::testing
