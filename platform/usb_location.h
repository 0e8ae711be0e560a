#pragma once

// Where a camera sits on the USB tree and what its USB identity is. The
// records keep the forms the identity-matching code relies on: instance
// identifiers like usb\vid_1209&pid_0002&mi_00\6&2f1b2c3&0&0000 whose key also
// occurs in the camera's device path, and hardware ids like
// USB\VID_1209&PID_0002&REV_0100.

#include "platform/guid.h"
#include "platform/status.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessell::platform {

// One present device of the imaging-device class, in the platform's order.
struct ImagingDevice {
    std::string instanceId;
    std::string hardwareId;               // the first hardware id
    std::optional<std::uint16_t> address; // the hub port, when readable
    std::string hubInstanceId;            // instance id of the hub above the device
    // The device's own manufacturer and serial-number strings, where the
    // system gives them with the device (empty otherwise). Unlike the walk
    // by port below, they cannot mix up two cameras on equal ports of two hubs.
    std::string manufacturer;
    std::string serialNumber;
};

// What the hub-tree walk finds for a device on a port.
struct UsbDescriptorInfo {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
    std::string manufacturer; // at most 64 bytes
    std::string product;      // at most 64 bytes
    std::string serialNumber; // at most 64 bytes
};

class UsbLocation {
public:
    virtual ~UsbLocation() = default;

    // The present imaging-class devices. status::kNothingDone when the list
    // cannot be created.
    virtual Status imagingDevices(std::vector<ImagingDevice>& devices) = 0;

    // Walks the USB tree (controllers in order, hubs depth-first, ports in
    // ascending order) for the first device on port number `port` whose
    // configuration carries an Extension Unit with `extensionCode`. Fills
    // `found` and returns kOk when one is found; kOk with `found` cleared when
    // none is; a failure status when the walk itself failed.
    virtual Status findDeviceOnPort(std::uint8_t port, const Guid& extensionCode,
                                    UsbDescriptorInfo& found) = 0;
};

} // namespace tessell::platform
