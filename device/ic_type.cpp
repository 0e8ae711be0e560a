#include "device/ic_type.h"

namespace tessell::chip {

std::optional<std::uint8_t> familyBits(std::uint8_t chipIdByte) {
    const std::uint8_t bits = chipIdByte & 0xF0;
    switch (bits) {
    case 0x60:
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xC0:
    case 0xD0:
    case 0xE0:
        return bits;
    default:
        return std::nullopt;
    }
}

std::optional<IcType> icTypeFromChip(std::uint8_t chipIdByte, std::uint8_t variant) {
    const auto bits = familyBits(chipIdByte);
    if (!bits)
        return std::nullopt;
    switch (*bits) {
    case 0x60:
        return 'f';
    case 0x90:
        return 'g';
    case 0x80:
        return 'h';
    case 0xA0:
        return variant == 0x10 ? 'd' : 'i';
    case 0xB0:
        return 'j';
    case 0xC0:
    case 0xE0:
        return 'k';
    default: // 0xD0
        return 'm';
    }
}

bool familyFilterAccepts(IcType filter, std::uint8_t bits) {
    switch (filter) {
    case 'e':
        return familyBits(bits).has_value();
    case 'f':
        return bits == 0x60;
    case 'g':
        return bits == 0x90;
    case 'h':
        return bits == 0x80;
    case 'i':
        return bits == 0xA0;
    case 'j':
        return bits == 0xB0;
    case 'k':
        return bits == 0xC0;
    case 'm':
        return bits == 0xD0;
    default: // 'l' has no family bits: it accepts no chip
        return false;
    }
}

std::uint8_t spiCsValue(IcType type) {
    return type == 'f' || type == 'g' ? 2 : 0;
}

std::string_view icTypeName(IcType type) {
    switch (type) {
    case 'f':
        return "ZLTA_7300BC";
    case 'g':
        return "ZLTA_7300D";
    case 'h':
        return "ZLTA_7310";
    case 'i':
        return "ZLTA_7318";
    case 'j':
        return "ZLTA_7312";
    case 'k':
        return "ZLTA_7315/23/13/17 series";
    case 'l':
        return "ZLTA_7330/76x0 series";
    default:
        return {};
    }
}

} // namespace tessell::chip
