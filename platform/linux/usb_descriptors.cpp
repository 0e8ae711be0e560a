#include "platform/linux/usb_descriptors.h"

#include <algorithm>

namespace tessell::platform {

namespace {

constexpr std::uint8_t kTypeDevice = 0x01;
constexpr std::uint8_t kTypeConfiguration = 0x02;
constexpr std::uint8_t kTypeInterface = 0x04;
constexpr std::uint8_t kTypeClassInterface = 0x24;
constexpr std::uint8_t kSubtypeExtensionUnit = 0x06;
constexpr std::uint8_t kClassVideo = 0x0E;
constexpr std::uint8_t kSubclassVideoControl = 0x01;
constexpr std::size_t kDeviceDescriptorLength = 18;

// Fixed part of an Extension Unit descriptor up to bNrInPins, and the fields
// after the source ids: bControlSize, then bmControls.
constexpr std::size_t kUnitGuidOffset = 4;
constexpr std::size_t kUnitPinsOffset = 21;
constexpr std::size_t kUnitSourcesOffset = 22;

std::uint16_t word(std::span<const std::uint8_t> d, std::size_t offset) {
    return static_cast<std::uint16_t>(d[offset] | d[offset + 1] << 8);
}

std::string at(std::size_t offset, const std::string& what) {
    return what + " at byte " + std::to_string(offset);
}

} // namespace

bool ExtensionUnit::advertises(std::uint32_t selector) const {
    if (selector == 0)
        return false;
    const std::uint32_t bit = selector - 1;
    if (bit / 8 >= controls.size())
        return false;
    return (controls[bit / 8] >> (bit % 8) & 1) != 0;
}

DescriptorScan scanDescriptors(std::span<const std::uint8_t> bytes, std::uint8_t configuration) {
    DescriptorScan scan;
    bool inConfiguration = false;
    bool inVideoControl = false;
    std::uint8_t interfaceNumber = 0;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const std::size_t length = bytes[offset];
        if (length < 2) {
            scan.fault = at(offset, "descriptor length " + std::to_string(length));
            break;
        }
        if (length > bytes.size() - offset) {
            scan.fault =
                at(offset, "descriptor of " + std::to_string(length) + " bytes runs past the end");
            break;
        }
        const auto d = bytes.subspan(offset, length);
        const std::uint8_t type = d[1];
        if (type == kTypeDevice && offset == 0 && length >= kDeviceDescriptorLength) {
            scan.identity = DeviceIdentity{word(d, 8), word(d, 10), word(d, 12)};
        } else if (type == kTypeConfiguration && length >= 6) {
            inConfiguration = d[5] == configuration;
            inVideoControl = false;
        } else if (type == kTypeInterface && length >= 7) {
            interfaceNumber = d[2];
            inVideoControl = d[5] == kClassVideo && d[6] == kSubclassVideoControl;
        } else if (type == kTypeClassInterface && inConfiguration && inVideoControl &&
                   length >= 3 && d[2] == kSubtypeExtensionUnit) {
            // bNrInPins p, then p source ids, bControlSize n, n bytes of bmControls.
            if (length <= kUnitPinsOffset) {
                scan.fault = at(offset, "Extension Unit too short");
            } else {
                const std::size_t pins = d[kUnitPinsOffset];
                const std::size_t sizeOffset = kUnitSourcesOffset + pins;
                if (sizeOffset >= length || sizeOffset + 1 + d[sizeOffset] > length) {
                    scan.fault = at(offset, "Extension Unit too short for its controls");
                } else {
                    ExtensionUnit unit;
                    unit.interfaceNumber = interfaceNumber;
                    unit.unitId = d[3];
                    std::copy_n(d.begin() + kUnitGuidOffset, unit.guid.bytes.size(),
                                unit.guid.bytes.begin());
                    const auto controls = d.subspan(sizeOffset + 1, d[sizeOffset]);
                    unit.controls.assign(controls.begin(), controls.end());
                    scan.units.push_back(std::move(unit));
                }
            }
        }
        offset += length;
    }
    return scan;
}

std::vector<ExtensionUnit> unitsOfInterface(const DescriptorScan& scan,
                                            std::uint8_t interfaceNumber) {
    std::vector<ExtensionUnit> units;
    for (const auto& unit : scan.units)
        if (unit.interfaceNumber == interfaceNumber)
            units.push_back(unit);
    return units;
}

} // namespace tessell::platform
