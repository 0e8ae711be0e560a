#pragma once

// How many of the tool's cameras are plugged in, list by list, so that a
// dialog can list them and later open the k-th one (list, position) with
// `OpenCamera`. Each count is a fresh walk; nothing is cached.

#include "platform/capture_devices.h"

namespace tessell {

// Every USB device of the video-input list. 0, or 1 when the list cannot be
// created or is empty; `count` is set to 0 first.
int CountVideoCameras(platform::CaptureDevices& devices, int& count);
// Every USB device of the sensor-camera list; as above.
int CountSensorCamerasDs(platform::CaptureDevices& devices, int& count);

// USB devices of the video-input list whose Extension Unit answers (or that
// offer the vendor interface without a topology). 0 with `count` written; 1
// without writing it.
int CountXuCamerasDs(platform::CaptureDevices& devices, int& count);
// The same over the sensor-camera list; a device that cannot be activated
// ends the count with 1.
int CountXuCamerasMf(platform::CaptureDevices& devices, int& count);

} // namespace tessell
