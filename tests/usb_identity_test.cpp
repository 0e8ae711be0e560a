#include "device/camera_link.h"
#include "device/usb_identity.h"
#include "device/xu_channel.h"
#include "device/xu_protocol.h"
#include "tests/support/fake_camera.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ParseHex4, DigitsLettersAndWhatEndsTheParse) {
    const std::pair<std::string_view, std::uint16_t> rows[] = {
        {"00A5", 0x00A5}, {"0g12", 0xFFFF}, {"1a2B", 0x1A2B},
        {":;<?", 0xABCF}, {"12 4", 0x1204}, {"12", 0x1200},
        {"", 0x0000},     {"ffff", 0xFFFF}, {"1234&PID", 0x1234},
    };
    for (const auto& [text, value] : rows)
        EXPECT_EQ(ParseHex4(text), value) << text;
}

TEST(UsbMatchingKey, SecondFieldOfTheInstancePart) {
    EXPECT_EQ(UsbMatchingKey("usb\\vid_1209&pid_0002&mi_00\\6&2f1b2c3&0&0000"), "2f1b2c3");
    EXPECT_EQ(UsbMatchingKey("USB\\VID_1209&PID_0002&MI_00\\6&2F1B2C3&0&0000"), "2f1b2c3");
    EXPECT_EQ(UsbMatchingKey("usb\\vid_1209&pid_0002\\6&2f1b2c3"), "2f1b2c3");
    EXPECT_EQ(UsbMatchingKey("usb\\vid_1209&pid_0002\\5&1234"), "1234");
    EXPECT_EQ(UsbMatchingKey("usb\\vid_1209&pid_0002\\0001"), std::nullopt)
        << "a serial-number instance without '&' gives no key";
    EXPECT_EQ(UsbMatchingKey("usb\\vid_1209&pid_0002"), std::nullopt);
    EXPECT_EQ(UsbMatchingKey("usb\\vid_1209&pid_0002\\6&&0"), std::nullopt);
}

struct Station {
    testing::FakeCaptureDevices devices;
    testing::FakeUsbLocation usb;
    CameraLink link{devices};

    Station() {
        testing::FakeDevice camera;
        camera.path = testing::usbDevicePath("2f1b2c3");
        camera.friendlyName = "Fixture Camera";
        camera.camera = std::make_shared<testing::FakeCamera>();
        devices.add(camera);
        usb.devices = {
            {"USB\\VID_0000&PID_0000\\5&aaaaaaa&0&1", "USB\\VID_0000&PID_0000&REV_0000", 1,
             "USB\\ROOT_HUB30\\4&1", "", ""},
            {"USB\\VID_1209&PID_000C&MI_00\\6&2F1B2C3&0&0000", "USB\\VID_1209&PID_000C&REV_0100",
             0x0103, "USB\\VID_1209&PID_0009\\5&37A1&0&3", "", ""},
            {"USB\\VID_1209&PID_000E\\0001", "USB\\VID_1209&PID_000E&REV_0000", 4, "hub", "", ""},
        };
    }
};

TEST(GetUsbIdentity, FindsTheOpenedCameraByItsKey) {
    Station station;
    ASSERT_EQ(station.link.OpenCamera('e', 0, 0), 0);
    UsbIdentity identity;
    EXPECT_EQ(GetUsbIdentity(station.usb, station.link, identity), 0);
    EXPECT_EQ(identity.vid, 0x1209);
    EXPECT_EQ(identity.pid, 0x000C);
    EXPECT_EQ(identity.bcdDevice, 0x0100);
    EXPECT_EQ(identity.port, 3) << "the first byte of the address";
    EXPECT_EQ(identity.hubId, "USB\\VID_1209&PID_0009\\5&37A1&0&3");
    EXPECT_EQ(identity.instanceId, "usb\\vid_1209&pid_000c&mi_00\\6&2f1b2c3&0&0000");
    EXPECT_EQ(identity.friendlyName, "Fixture Camera");

    // Without a match the record keeps its values, bar the instance id of the
    // last device examined; a list that cannot be made gives 1.
    station.usb.devices.erase(station.usb.devices.begin() + 1);
    UsbIdentity unmatched;
    unmatched.vid = 0xBEEF;
    EXPECT_EQ(GetUsbIdentity(station.usb, station.link, unmatched), 0);
    EXPECT_EQ(unmatched.vid, 0xBEEF);
    EXPECT_EQ(unmatched.port, 0);
    EXPECT_EQ(unmatched.instanceId, "usb\\vid_1209&pid_000e\\0001");
    station.usb.listFailure = status::kNothingDone;
    EXPECT_EQ(GetUsbIdentity(station.usb, station.link, unmatched), 1);
}

TEST(GetHubPortByIndex, PositionsCountEveryImagingDevice) {
    Station station;
    std::uint16_t port = 0;
    std::string hub;
    EXPECT_EQ(GetHubPortByIndex(station.usb, 1, port, hub), 0);
    EXPECT_EQ(port, 0x0103);
    EXPECT_EQ(hub, "USB\\VID_1209&PID_0009\\5&37A1&0&3");
    EXPECT_EQ(GetHubPortByIndex(station.usb, 3, port, hub), 1);
    EXPECT_EQ(GetHubPortByIndex(station.usb, -1, port, hub), 1);
    station.usb.devices[0].address.reset();
    EXPECT_EQ(GetHubPortByIndex(station.usb, 0, port, hub), 1);
}

TEST(UsbStrings, CopyAtMostThirtyTwoBytesOfTheCameraOnThePort) {
    Station station;
    ASSERT_EQ(station.link.OpenCamera('e', 0, 0), 0);
    station.usb.extensionCode = CurrentXuGuid();
    station.usb.cameraOnPort[3] = {
        0x1209, 0x000C, 0x0100, "A manufacturer name of forty bytes......", "Product", "SN42"};

    Bytes manufacturer(40, 0xEE);
    EXPECT_EQ(ReadUsbString(station.usb, station.link, manufacturer, kUsbManufacturerString), 0);
    EXPECT_EQ(std::string(manufacturer.begin(), manufacturer.begin() + 32),
              "A manufacturer name of forty byt");
    EXPECT_EQ(manufacturer[32], 0xEE) << "nothing past 32 bytes is touched";

    Bytes serial(32, 0xEE);
    EXPECT_EQ(ReadUsbString(station.usb, station.link, serial, kUsbSerialNumberString), 0);
    EXPECT_EQ(std::string(serial.begin(), serial.begin() + 4), "SN42");
    EXPECT_EQ(serial[4], 0);
    EXPECT_EQ(serial[31], 0);

    // A short buffer is never overrun; a missing one or output gives 1.
    Bytes small(8, 0xEE);
    std::uint16_t vid = 0, pid = 0, bcd = 0;
    EXPECT_EQ(FindUsbDeviceOnPort(station.usb, &vid, &pid, &bcd, small, 3, 0), 0);
    EXPECT_EQ(std::string(small.begin(), small.end()), "A manufa");
    EXPECT_EQ(vid, 0x1209);
    EXPECT_EQ(FindUsbDeviceOnPort(station.usb, nullptr, &pid, &bcd, small, 3, 0), 1);
    EXPECT_EQ(ReadUsbString(station.usb, station.link, {}, 0), 1);

    // Port 0 (camera not matched) or no extension code: nothing is looked for.
    const int walks = station.usb.walks;
    EXPECT_EQ(FindUsbDeviceOnPort(station.usb, &vid, &pid, &bcd, small, 0, 0), 0);
    EXPECT_EQ(vid, 0);
    EXPECT_EQ(small, Bytes(8, 0));
    SetCurrentXuGuid({});
    EXPECT_EQ(FindUsbDeviceOnPort(station.usb, &vid, &pid, &bcd, small, 3, 0), 0);
    EXPECT_EQ(vid, 0);
    EXPECT_EQ(station.usb.walks, walks);
}

} // namespace
} // namespace tessell
