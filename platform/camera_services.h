#pragma once

// The camera-facing services of the machine the tool runs on: its device
// lists, USB location and hotplug notifications. Each backend (Linux, the
// simulated cameras, later Windows) provides all three.

#include "platform/capture_devices.h"
#include "platform/hotplug.h"
#include "platform/usb_location.h"

#include <string>

namespace tessell::platform {

struct CameraServices {
    CaptureDevices* devices = nullptr;
    UsbLocation* usb = nullptr;
    Hotplug* hotplug = nullptr;

    explicit operator bool() const { return devices && usb && hotplug; }
};

// The real cameras of this machine, built on first use and kept for the
// life of the process. Empty, with `error` saying why, when the backend
// cannot serve.
CameraServices hostCameraServices(std::string& error);

} // namespace tessell::platform
