#pragma once

// The Extension Units of a UVC camera, read from the raw descriptors the
// kernel keeps for every USB device (sysfs `descriptors`: the device
// descriptor, then each configuration with all its interface and class
// descriptors). No device I/O: the bytes are what the device sent when it
// enumerated, and they are untrusted.

#include "platform/guid.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessell::platform {

struct ExtensionUnit {
    std::uint8_t interfaceNumber = 0; // the VideoControl interface it belongs to
    std::uint8_t unitId = 0;
    Guid guid;                          // guidExtensionCode, bytes as on the wire
    std::vector<std::uint8_t> controls; // bmControls: bit (selector - 1) per control

    // Whether the unit announces control `selector` (1-based).
    bool advertises(std::uint32_t selector) const;
};

struct DeviceIdentity {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
};

struct DescriptorScan {
    // In descriptor order: the units of the configuration asked for.
    std::vector<ExtensionUnit> units;
    std::optional<DeviceIdentity> identity; // from a well-formed device descriptor
    // Empty when the walk reached the end cleanly; else what stopped it or
    // what was passed over. Units found before a fault are kept: the kernel
    // read the same bytes and bound the camera with them.
    std::string fault;
};

// Walks `bytes` descriptor by descriptor (each by its bLength) and collects
// the Extension Units (class-specific interface descriptor 0x24, subtype
// 0x06) inside the VideoControl interfaces (class 0x0E, subclass 0x01) of the
// configuration whose bConfigurationValue is `configuration`. A bLength
// below 2 or past the end stops the walk; a unit too short for the fields
// it announces is passed over.
DescriptorScan scanDescriptors(std::span<const std::uint8_t> bytes, std::uint8_t configuration);

// The units of `scan` that belong to VideoControl interface `interfaceNumber`.
std::vector<ExtensionUnit> unitsOfInterface(const DescriptorScan& scan,
                                            std::uint8_t interfaceNumber);

} // namespace tessell::platform
