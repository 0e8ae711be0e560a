#include "platform/linux/usb_descriptors.h"

#include "common/little_endian.h"
#include "platform/usb_descriptor.h"

#include <algorithm>

namespace tessell::platform {

namespace {

// Fixed part of an Extension Unit descriptor up to bNrInPins, and the fields
// after the source ids: bControlSize, then bmControls.
constexpr std::size_t kUnitGuidOffset = 4;
constexpr std::size_t kUnitPinsOffset = 21;
constexpr std::size_t kUnitSourcesOffset = 22;

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
        if (type == usb::kDescriptorDevice && offset == 0 &&
            length >= usb::kDeviceDescriptorLength) {
            scan.identity = DeviceIdentity{le::load16(d, 8), le::load16(d, 10), le::load16(d, 12)};
        } else if (type == usb::kDescriptorConfiguration && length >= 6) {
            inConfiguration = d[5] == configuration;
            inVideoControl = false;
        } else if (type == usb::kDescriptorInterface && length >= 7) {
            interfaceNumber = d[2];
            inVideoControl = d[5] == usb::kClassVideo && d[6] == usb::kSubclassVideoControl;
        } else if (type == usb::kDescriptorClassInterface && inConfiguration && inVideoControl &&
                   length >= 3 && d[2] == usb::kVideoControlExtensionUnit) {
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
