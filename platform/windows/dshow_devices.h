#pragma once

// The two device lists on Windows: the DirectShow video-input category
// (ordinary webcams) and the sensor-camera category through Media
// Foundation. Devices are named by their symbolic link ("DevicePath" of a
// DirectShow moniker, the symbolic-link attribute of a device source).

#include "platform/capture_devices.h"
#include "platform/guid.h"

#include <memory>

namespace tessell::platform::windows {

// KSCATEGORY_SENSOR_CAMERA, missing from MinGW's headers.
inline const Guid kSensorCameraCategory = *Guid::parse("{24E552D7-6523-47F7-A647-D3465BF1F5CA}");

std::unique_ptr<CaptureDevices> makeDirectShowDevices();

} // namespace tessell::platform::windows
