#pragma once

// How many of the tool's cameras are plugged in, list by list, so that a
// dialog can list them and later open the k-th one (list, position) with
// `OpenCamera`. Each count is a fresh walk; nothing is cached.

#include "device/result.h"
#include "platform/capture_devices.h"

namespace tessell {

// Every USB device of the video-input list; status 1 (kNothingDone) when
// the list cannot be created or is empty.
Outcome<int> CountVideoCameras(platform::CaptureDevices& devices);
// Every USB device of the sensor-camera list; as above.
Outcome<int> CountSensorCamerasDs(platform::CaptureDevices& devices);

// USB devices of the video-input list whose Extension Unit answers (or that
// offer the vendor interface without a topology); status 1 when the list
// cannot be created or is empty.
Outcome<int> CountXuCamerasDs(platform::CaptureDevices& devices);
// The same over the sensor-camera list; a device that cannot be activated
// ends the count with status 1.
Outcome<int> CountXuCamerasMf(platform::CaptureDevices& devices);

} // namespace tessell
