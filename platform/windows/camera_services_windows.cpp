// The cameras of a Windows machine: the DirectShow and Media Foundation
// device lists, their USB places from the device tree and the hubs, and the
// device-interface notifications of video devices.

#include "platform/camera_services.h"
#include "platform/frame_sources.h"
#include "platform/windows/device_notifications.h"
#include "platform/windows/dshow_devices.h"
#include "platform/windows/dshow_frame_source.h"
#include "platform/windows/usb_location_windows.h"

#include <memory>

namespace tessell::platform {

CameraServices hostCameraServices(std::string& error) {
    // Built on first use: a process that only reads settings never starts
    // COM or the notification thread.
    static const std::unique_ptr<CaptureDevices> devices = windows::makeDirectShowDevices();
    static const std::unique_ptr<UsbLocation> usb = windows::makeSetupApiUsbLocation();
    static const std::unique_ptr<Hotplug> hotplug = windows::makeDeviceNotifications();
    error.clear();
    if (!devices || !usb || !hotplug) {
        error = "the camera services of this system could not be started";
        return {};
    }
    return {devices.get(), usb.get(), hotplug.get()};
}

std::unique_ptr<preview::FrameSources> hostFrameSources() {
    return windows::makeDirectShowFrameSources();
}

} // namespace tessell::platform
