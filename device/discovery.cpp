#include "device/discovery.h"

#include "device/xu_channel.h"
#include "platform/device_path.h"

#include <string>
#include <vector>

namespace tessell {

namespace {

using platform::DeviceListKind;

Result listUnreadable() {
    return Result::failure(status::kNothingDone, "the camera list could not be read or is empty");
}

Outcome<int> countUsbDevices(platform::CaptureDevices& devices, DeviceListKind kind) {
    std::vector<platform::DeviceEntry> entries;
    if (devices.list(kind, entries) != status::kOk)
        return listUnreadable();
    int found = 0;
    for (const auto& entry : entries)
        if (entry.devicePathRead && entry.usb)
            ++found;
    return found;
}

// Whether a bound device's Extension Unit answers the probe. A device
// without a topology counts when it offers the vendor interface; no request
// is sent to it. The sensor-camera walk also needs the property control for that.
bool extensionUnitAnswers(platform::CaptureDevice& device, bool vendorNeedsControl) {
    XuChannel channel;
    channel.setControl(device.control());
    if (platform::Topology* topology = device.topology()) {
        channel.setMode(XU_MODE_KS);
        return channel.FindXuNode(topology) == status::kOk;
    }
    if (vendorNeedsControl && !device.control())
        return false;
    return device.vendor() != nullptr;
}

Outcome<int> countXuCameras(platform::CaptureDevices& devices, DeviceListKind kind) {
    std::vector<platform::DeviceEntry> entries;
    if (devices.list(kind, entries) != status::kOk)
        return listUnreadable();
    const bool sensorList = kind == DeviceListKind::SensorCamera;
    int found = 0;
    for (std::size_t position = 0; position < entries.size(); ++position) {
        const auto& entry = entries[position];
        if (!entry.devicePathRead || !entry.usb)
            continue;
        const auto device = devices.bind(kind, position, entry);
        if (!device) {
            // An activation failure ends the count of the sensor-camera list.
            if (sensorList)
                return Result::failure(status::kNothingDone, "camera " + std::to_string(position) +
                                                                 " could not be activated");
            continue;
        }
        if (extensionUnitAnswers(*device, sensorList))
            ++found;
    }
    return found;
}

} // namespace

Outcome<int> CountVideoCameras(platform::CaptureDevices& devices) {
    return countUsbDevices(devices, DeviceListKind::VideoInput);
}

Outcome<int> CountSensorCamerasDs(platform::CaptureDevices& devices) {
    return countUsbDevices(devices, DeviceListKind::SensorCamera);
}

Outcome<int> CountXuCamerasDs(platform::CaptureDevices& devices) {
    return countXuCameras(devices, DeviceListKind::VideoInput);
}

Outcome<int> CountXuCamerasMf(platform::CaptureDevices& devices) {
    return countXuCameras(devices, DeviceListKind::SensorCamera);
}

} // namespace tessell
