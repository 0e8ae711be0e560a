#include "device/camera_link.h"
#include "device/usb_identity.h"
#include "tests/support/sim_rig.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using nlohmann::json;

// Two cameras on port 1 of two hubs, a camera of another make on port 2 of
// the first, and port 2 of the second hub holding a camera of our own again:
// what the port number alone cannot tell apart.
json twoHubStation() {
    return json::array({
        {{"hub", "1-1"}, {"port", 1}, {"rom", {{"serial", "SERIAL-A"}, {"manufacturer", "Maker"}}}},
        {{"hub", "1-1"}, {"port", 2}, {"chip_id", nullptr}},
        {{"hub", "1-2"}, {"port", 1}, {"rom", {{"serial", "SERIAL-B"}}}},
    });
}

TEST(UsbIdentity, CamerasAreFoundAgainByHubAndPortAndCarryTheirOwnStrings) {
    auto station = twoHubStation();
    // "a" followed by 17 x "Ä": 35 bytes of UTF-8, 18 single-byte characters.
    std::string umlauts = "a";
    for (int i = 0; i < 17; ++i)
        umlauts += "\xC3\x84";
    station[2]["rom"]["manufacturer"] = umlauts + umlauts;
    testing::SimRig rig(station);
    ASSERT_TRUE(rig);
    auto& platform = rig.platform();

    CameraLink link(platform);
    ASSERT_EQ(OpenCameraAt(link, platform, chip::kAnyFamily, {"1-2", 1}).status(), 0);
    const auto identity = GetUsbIdentity(platform, link);
    ASSERT_TRUE(identity.ok()) << identity.reason();
    EXPECT_EQ(identity->address, (platform::UsbAddress{"1-2", 1}));
    EXPECT_EQ(ReadUsbString(platform, link, kUsbSerialNumberString).value_or(""), "SERIAL-B");
    // Cut at 32 characters as the files count them, never inside a character.
    EXPECT_EQ(ReadUsbString(platform, link, kUsbManufacturerString).value_or(""),
              umlauts + umlauts.substr(0, 1 + 13 * 2));

    ASSERT_EQ(OpenCameraAt(link, platform, chip::kAnyFamily, {"1-1", 1}).status(), 0);
    EXPECT_EQ(ReadUsbString(platform, link, kUsbSerialNumberString).value_or(""), "SERIAL-A");

    // Port 2 of hub 1-1 holds no camera of ours; port 3 nothing at all; a
    // family the camera is not is not opened either.
    EXPECT_EQ(OpenCameraAt(link, platform, chip::kAnyFamily, {"1-1", 2}).status(), 1);
    EXPECT_EQ(link.device(), nullptr);
    EXPECT_EQ(OpenCameraAt(link, platform, chip::kAnyFamily, {"1-2", 3}).status(), 1);
    EXPECT_EQ(OpenCameraAt(link, platform, IcType::m, {"1-2", 1}).status(), 1);

    EXPECT_EQ(GetHubPortByIndex(platform, 2).value_or({}), (platform::UsbAddress{"1-2", 1}));
    EXPECT_EQ(GetHubPortByIndex(platform, 3).status(), 1);
}

} // namespace
} // namespace tessell
