#pragma once

// A `CameraLink` opened on one fake camera that records what is sent.

#include "device/camera_link.h"
#include "fake_camera.h"

#include <gtest/gtest.h>
#include <memory>

namespace tessell::testing {

struct FakeLink {
    std::shared_ptr<FakeCamera> camera;
    FakeCaptureDevices devices;
    CameraLink link{devices};

    explicit FakeLink(std::uint8_t chipId = 0xC0) : camera(std::make_shared<FakeCamera>(chipId)) {
        FakeDevice device;
        device.path = usbDevicePath("4242424");
        device.camera = camera;
        devices.add(device);
        EXPECT_TRUE(link.OpenCamera(IcType::e, 0, 0).ok());
        camera->requests.clear();
        camera->spiFrames.clear();
    }
};

} // namespace tessell::testing
