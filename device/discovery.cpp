#include "device/discovery.h"

#include "device/xu_channel.h"
#include "platform/device_path.h"

#include <vector>

namespace tessell {

namespace {

using platform::DeviceListKind;

int countUsbDevices(platform::CaptureDevices& devices, DeviceListKind kind, int& count) {
    count = 0;
    std::vector<platform::DeviceEntry> entries;
    if (devices.list(kind, entries) != status::kOk)
        return status::kNothingDone;
    int found = 0;
    for (const auto& entry : entries)
        if (entry.devicePathRead && entry.usb)
            ++found;
    count = found;
    return status::kOk;
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

int countXuCameras(platform::CaptureDevices& devices, DeviceListKind kind, int& count) {
    std::vector<platform::DeviceEntry> entries;
    if (devices.list(kind, entries) != status::kOk)
        return status::kNothingDone;
    const bool sensorList = kind == DeviceListKind::SensorCamera;
    int found = 0;
    for (std::size_t position = 0; position < entries.size(); ++position) {
        const auto& entry = entries[position];
        if (!entry.devicePathRead || !entry.usb)
            continue;
        const auto device = devices.bind(kind, position, entry);
        if (!device) {
            if (sensorList)
                return status::kNothingDone; // an activation failure ends the count
            continue;
        }
        if (extensionUnitAnswers(*device, sensorList))
            ++found;
    }
    count = found;
    return status::kOk;
}

} // namespace

int CountVideoCameras(platform::CaptureDevices& devices, int& count) {
    return countUsbDevices(devices, DeviceListKind::VideoInput, count);
}

int CountSensorCamerasDs(platform::CaptureDevices& devices, int& count) {
    return countUsbDevices(devices, DeviceListKind::SensorCamera, count);
}

int CountXuCamerasDs(platform::CaptureDevices& devices, int& count) {
    return countXuCameras(devices, DeviceListKind::VideoInput, count);
}

int CountXuCamerasMf(platform::CaptureDevices& devices, int& count) {
    return countXuCameras(devices, DeviceListKind::SensorCamera, count);
}

} // namespace tessell
