#include "multi/attached_cameras.h"

#include "device/discovery.h"
#include "device/ic_type.h"

namespace tessell {

using platform::DeviceListKind;

std::vector<AttachedCamera> OpenAttachedCameras(platform::CaptureDevices& devices,
                                                platform::UsbLocation& usb) {
    std::vector<AttachedCamera> cameras;
    for (const DeviceListKind kind : kStationLists) {
        std::vector<platform::DeviceEntry> entries;
        if (devices.list(kind, entries) != status::kOk)
            continue;
        for (std::size_t position = 0; position < entries.size(); ++position) {
            const platform::DeviceEntry& entry = entries[position];
            if (!entry.devicePathRead || !entry.usb)
                continue;
            AttachedCamera camera;
            camera.list = kind;
            camera.position = static_cast<int>(position);
            camera.devicePath = entry.devicePath;
            if (const auto located = usb.locate(entry.devicePath))
                camera.identity.address = located->address;
            auto link = std::make_unique<CameraLink>(devices);
            // The open takes the first camera of ours at or after the
            // position: another device means this one is not ours.
            if (link->OpenCamera(chip::kAnyFamily, camera.position,
                                 kind == DeviceListKind::SensorCamera ? 1 : 0)
                    .ok() &&
                link->device()->devicePath() == entry.devicePath) {
                if (auto identity = GetUsbIdentity(usb, *link); identity.ok()) {
                    camera.identity = std::move(*identity);
                    camera.link = std::move(link);
                }
            }
            cameras.push_back(std::move(camera));
        }
    }
    return cameras;
}

int CountAttachedCameras(platform::CaptureDevices& devices) {
    // A list that cannot be walked counts no camera.
    return CountVideoCameras(devices).value_or(0) + CountSensorCamerasDs(devices).value_or(0);
}

} // namespace tessell
