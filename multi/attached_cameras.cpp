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
            const bool opened =
                link->OpenCamera(chip::kAnyFamily, camera.position,
                                 kind == DeviceListKind::SensorCamera ? 1 : 0) == status::kOk &&
                link->device()->devicePath() == entry.devicePath &&
                GetUsbIdentity(usb, *link, camera.identity) == status::kOk;
            if (opened)
                camera.link = std::move(link);
            cameras.push_back(std::move(camera));
        }
    }
    return cameras;
}

int CountAttachedCameras(platform::CaptureDevices& devices) {
    int video = 0;
    int sensor = 0;
    CountVideoCameras(devices, video);
    CountSensorCamerasDs(devices, sensor);
    return video + sensor;
}

} // namespace tessell
