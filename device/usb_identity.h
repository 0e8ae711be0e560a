#pragma once

// Where an opened camera sits on the USB tree and what its USB identity is,
// and finding a camera again by its USB port. The platform locates the USB
// device of a capture device; everything here works on those typed fields,
// so that no camera is ever taken for another that shares a port number on
// another hub.

#include "device/ic_type.h"
#include "device/result.h"
#include "platform/status.h"
#include "platform/usb_location.h"

#include <cstdint>
#include <string>

namespace tessell {

class CameraLink;

struct UsbIdentity {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
    platform::UsbAddress address; // port 0 until the camera was located
    std::string friendlyName;
    std::string manufacturer; // UTF-8, as the device gives it
    std::string serialNumber;
};

// The USB device of the opened camera; status 1 (kNothingDone) when no
// camera is open or it could not be located.
Outcome<UsbIdentity> GetUsbIdentity(platform::UsbLocation& usb, const CameraLink& camera);

// Port and hub id of the n-th imaging device (positions count every device
// of the class); status 1 (kNothingDone) when there is no such device or no
// address.
Outcome<platform::UsbAddress> GetHubPortByIndex(platform::UsbLocation& usb, int position);

// Which string `ReadUsbString` gives.
constexpr int kUsbManufacturerString = 0;
constexpr int kUsbSerialNumberString = 1; // any non-zero value
// The files that carry a camera string keep 32 single-byte characters of it.
constexpr std::size_t kUsbStringCopy = 32;

// The manufacturer (which = 0) or serial-number string of the camera, cut to
// 32 characters as the single-byte files count them (characters outside
// Latin-1 become '?'); GetUsbIdentity's failure when the camera could not be
// located.
Outcome<std::string> ReadUsbString(platform::UsbLocation& usb, const CameraLink& camera, int which);

// Opens on `link` the camera of `family` (`chip::kAnyFamily` for any) that is on the USB
// port `address` of the video-input list now; status 1 (kNothingDone) when
// no such camera is there (not plugged, still re-enumerating, or another
// family).
Result OpenCameraAt(CameraLink& link, platform::UsbLocation& usb, IcType family,
                    const platform::UsbAddress& address);

} // namespace tessell
