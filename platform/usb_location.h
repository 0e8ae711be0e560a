#pragma once

// Where a camera sits on the USB tree and what its USB identity is, as typed
// fields. Each backend reads them the way its system offers them (sysfs on
// Linux, the device-setup services on Windows, the station file in the
// simulator); the device code above never parses a system's id strings.

#include "platform/status.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessell::platform {

// A USB port: the hub a device hangs on and the port of that hub. It is what
// finds a camera again after it left the bus (a chip reset re-enumerates it,
// possibly under another device path or list position), and what tells two
// cameras apart on a station with several hubs.
struct UsbAddress {
    std::string hub;        // the hub's id as the system names it ("1-2" on Linux)
    std::uint16_t port = 0; // hub ports count from 1; 0 is "not known"

    bool known() const { return port != 0; }
    // "hub:port", the camera's tag in traces and logs.
    std::string text() const { return hub + ":" + std::to_string(port); }
    friend bool operator==(const UsbAddress&, const UsbAddress&) = default;
};

// The USB device a capture device belongs to.
struct UsbDeviceInfo {
    UsbAddress address;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
    // The device's own strings (UTF-8; empty when it has none).
    std::string manufacturer;
    std::string serialNumber;
};

class UsbLocation {
public:
    virtual ~UsbLocation() = default;

    // The USB device of the capture device with this device path (as a device
    // list gave it); none when it is not a USB device, is gone, or the system
    // cannot tell.
    virtual std::optional<UsbDeviceInfo> locate(std::string_view devicePath) = 0;

    // The present imaging-class devices (one per camera function), in the
    // platform's order. status::kNothingDone when the list cannot be created.
    virtual Status imagingDevices(std::vector<UsbDeviceInfo>& devices) = 0;
};

} // namespace tessell::platform
