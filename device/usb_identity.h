#pragma once

// Where an opened camera sits on the USB tree and what its USB identity is.
// The platform lists the imaging-class devices and walks the hub tree; the
// steps here (parsing, matching a device to the opened camera, choosing the
// port) are the same on every platform.

#include "platform/status.h"
#include "platform/usb_location.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tessell {

class CameraLink;

struct UsbIdentity {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t port = 0;
    std::string hubId;      // instance id of the hub above the device
    std::string instanceId; // the device's own instance id, lower case
    std::string friendlyName;
};

// Four hexadecimal characters, most significant first. ':'..'?' count as
// 10..15 like 'A'..'F'; a NUL, a space or a character past the end counts
// as 0; any other character gives 0xFFFF.
std::uint16_t ParseHex4(std::string_view characters);

// The key that finds the opened camera among the imaging devices: the second
// "&" field of the third "\" component of the lower-cased instance id
// (usb\vid_1209&pid_0002&mi_00\6&2f1b2c3&0&0000 gives 2f1b2c3). None when
// the id has no such field.
std::optional<std::string> UsbMatchingKey(std::string_view instanceId);

// Fills `identity` from the imaging device whose key occurs in the camera's
// device path; `instanceId` is overwritten for every device examined. 0 when
// the list ended normally (matched or not), 1 when it cannot be created.
int GetUsbIdentity(platform::UsbLocation& usb, const CameraLink& camera, UsbIdentity& identity);

// Port and hub id of the n-th imaging device (positions count every device
// of the class). 0, or 1 when there is no such device or no address.
int GetHubPortByIndex(platform::UsbLocation& usb, int position, std::uint16_t& port,
                      std::string& hubId);

// Which string `ReadUsbString` and `FindUsbDeviceOnPort` copy.
constexpr int kUsbManufacturerString = 0;
constexpr int kUsbSerialNumberString = 1; // any non-zero value
constexpr std::size_t kUsbStringCopy = 32;

// The manufacturer (which = 0) or serial-number string of the camera, at
// most 32 bytes into `buffer`. 1 without a walk when the buffer is missing.
Status ReadUsbString(platform::UsbLocation& usb, const CameraLink& camera,
                     std::span<std::uint8_t> buffer, int which);

// Walks the USB tree for the first device on `port` carrying the camera's
// Extension Unit (`CurrentXuGuid`) and gives its VID, PID, bcdDevice and at
// most 32 bytes (and at most buffer.size()) of one of its strings; zeros
// when none is found. 1 when an output is missing or the buffer is empty,
// else the status of the walk.
Status FindUsbDeviceOnPort(platform::UsbLocation& usb, std::uint16_t* vid, std::uint16_t* pid,
                           std::uint16_t* bcdDevice, std::span<std::uint8_t> buffer,
                           std::uint8_t port, int which);

} // namespace tessell
