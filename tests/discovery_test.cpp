#include "device/discovery.h"
#include "tests/support/fake_camera.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using platform::DeviceListKind;
using testing::FakeCamera;
using testing::FakeCaptureDevices;
using testing::FakeDevice;

FakeDevice device(const std::string& key, std::shared_ptr<FakeCamera> camera,
                  DeviceListKind list = DeviceListKind::VideoInput) {
    FakeDevice fake;
    fake.list = list;
    fake.path = testing::usbDevicePath(key);
    fake.camera = std::move(camera);
    return fake;
}

TEST(Discovery, CountsUsbDevicesAndThoseWhoseExtensionUnitAnswers) {
    FakeCaptureDevices devices;
    FakeDevice virtualCamera = device("0000000", std::make_shared<FakeCamera>());
    virtualCamera.path = "\\\\?\\root#image#0000#{e5323777-f976-4f5b-9b55-b94699c46e44}";
    devices.add(virtualCamera);
    devices.add(device("1111111", std::make_shared<FakeCamera>()));
    devices.add(device("2222222", nullptr)); // a webcam of another make
    auto vendorCamera = std::make_shared<FakeCamera>();
    FakeDevice vendorOnly = device("3333333", vendorCamera);
    vendorOnly.topology = false;
    vendorOnly.vendor = true;
    vendorOnly.control = false;
    devices.add(vendorOnly);

    EXPECT_EQ(CountVideoCameras(devices).value_or(-1), 3) << "every USB device, answering or not";
    EXPECT_EQ(CountXuCamerasDs(devices).value_or(-1), 2);
    EXPECT_TRUE(vendorCamera->requests.empty()) << "the vendor interface is only asked for";

    // The same devices in the sensor list: without a property control the
    // vendor-only camera does not count there.
    for (auto& fake : devices.devices)
        fake.list = DeviceListKind::SensorCamera;
    EXPECT_EQ(CountSensorCamerasDs(devices).value_or(-1), 3);
    EXPECT_EQ(CountXuCamerasMf(devices).value_or(-1), 1);
}

TEST(Discovery, EmptyListsAndFailedActivations) {
    FakeCaptureDevices devices;
    EXPECT_EQ(CountVideoCameras(devices).status(), 1);
    EXPECT_EQ(CountXuCamerasDs(devices).status(), 1);

    devices.add(device("1111111", std::make_shared<FakeCamera>(), DeviceListKind::SensorCamera));
    devices.add(device("2222222", std::make_shared<FakeCamera>(), DeviceListKind::SensorCamera));
    devices.devices[1].bindable = false;
    EXPECT_EQ(CountXuCamerasMf(devices).status(), 1) << "an activation failure ends the count";

    devices.listFailure = status::kFail;
    EXPECT_EQ(CountSensorCamerasDs(devices).status(), 1);
}

} // namespace
} // namespace tessell
