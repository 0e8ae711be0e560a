#pragma once

// The cameras on the station now, in the order the multi-camera tool numbers
// them: the video-input list first, then the sensor-camera list, each in its
// own order. Each is opened and located on the USB tree; one that cannot be
// opened as a camera of ours is still listed, with its USB port when the
// system knows it, so that the station can tell the operator about it.

#include "device/camera_link.h"
#include "device/usb_identity.h"
#include "platform/capture_devices.h"
#include "platform/usb_location.h"

#include <memory>
#include <string>
#include <vector>

namespace tessell {

// The two device lists, in the order the station numbers their cameras.
constexpr platform::DeviceListKind kStationLists[] = {platform::DeviceListKind::VideoInput,
                                                      platform::DeviceListKind::SensorCamera};

struct AttachedCamera {
    platform::DeviceListKind list = platform::DeviceListKind::VideoInput;
    int position = 0; // within its list
    std::string devicePath;
    // The camera opened (null when it could not be) and what its USB device
    // says; `identity.address` is filled from the system even when the
    // camera could not be opened.
    std::unique_ptr<CameraLink> link;
    UsbIdentity identity;
};

// Every USB device of both lists, opened.
std::vector<AttachedCamera> OpenAttachedCameras(platform::CaptureDevices& devices,
                                                platform::UsbLocation& usb);

// How many USB devices both lists hold now.
int CountAttachedCameras(platform::CaptureDevices& devices);

} // namespace tessell
