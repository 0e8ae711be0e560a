#include "device/ic_type.h"

#include <algorithm>
#include <ostream>

namespace tessell {

std::ostream& operator<<(std::ostream& out, IcType type) {
    return out << chip::letter(type);
}

namespace chip {

namespace {

constexpr std::array<std::uint8_t, 7> kNoFlashType{};
constexpr std::array<std::uint8_t, 7> kOlderFlashType = {0, 1, 4, 5, 6, 3, 7};
constexpr std::array<std::uint8_t, 7> k7318FlashType = {1, 2, 5, 6, 7, 4, 8};
constexpr std::array<std::uint8_t, 7> kFirmwareFlashType = {4, 1, 2, 9, 10, 8, 5};

// A family whose flash the tool writes itself and that keeps no strings the
// tool knows of: the shape of 'd', 'e' and 'l' and the start of the others.
constexpr Family olderFamily(IcType type, char letter, std::string_view name) {
    return Family{.type = type,
                  .letter = letter,
                  .name = name,
                  .chipBits = 0,
                  .moreChipBits = 0,
                  .variant = Variant::Any,
                  .openArgument = true,
                  .anyFamily = false,
                  .spiCsValue = 0,
                  .firmwareWritesFlash = false,
                  .countInBlock = false,
                  .flashTypeOffset = 0,
                  .flashTypeValues = kNoFlashType,
                  .procedure = Procedure::Isp,
                  .mx32 = false,
                  .invalidHeaderInData = false,
                  .selectsSerialFlash = false,
                  .invalidByte = 0xF5,
                  .identityAt = 0xF000,
                  .validHeader = ValidHeader::Byte55,
                  .resetAfterStationFinish = false,
                  .strings = StringBlocks::None,
                  .stringSector = 0,
                  .stringPointerField = 0,
                  .serialIndexAt = 0,
                  .typeNumber = TypeNumberPlace::None,
                  .typeNumberAt = 0,
                  .reworkPrefix = {},
                  .showsImageVersion = true};
}

constexpr Family makeD() {
    Family f = olderFamily(IcType::d, 'd', {});
    f.chipBits = 0xA0;
    f.variant = Variant::Is10;
    f.openArgument = false; // the channel's value before detection, never an argument
    return f;
}

constexpr Family makeE() {
    Family f = olderFamily(IcType::e, 'e', {});
    f.anyFamily = true;
    return f;
}

// 'f' and 'g': the 7300 chips.
constexpr Family make7300(IcType type, char letter, std::string_view name, std::uint8_t bits) {
    Family f = olderFamily(type, letter, name);
    f.chipBits = bits;
    f.spiCsValue = 2;
    f.flashTypeOffset = 0xC006;
    f.flashTypeValues = kOlderFlashType;
    f.mx32 = true;
    f.identityAt = 0x8008;
    return f;
}

constexpr Family makeH() {
    Family f = olderFamily(IcType::h, 'h', "ZLTA_7310");
    f.chipBits = 0x80;
    f.flashTypeOffset = 0x501F;
    f.flashTypeValues = kOlderFlashType;
    f.mx32 = true;
    f.identityAt = 0xB70A;
    f.strings = StringBlocks::Sector;
    f.stringSector = 0xE000;
    f.serialIndexAt = 0xB712;
    f.typeNumber = TypeNumberPlace::InSector;
    f.typeNumberAt = 0x3FF8;
    f.reworkPrefix = "7310_";
    return f;
}

constexpr Family makeI() {
    Family f = olderFamily(IcType::i, 'i', "ZLTA_7318");
    f.chipBits = 0xA0;
    f.variant = Variant::Not10;
    f.flashTypeOffset = 0x6010;
    f.flashTypeValues = k7318FlashType;
    f.selectsSerialFlash = true;
    f.invalidByte = 0xF9;
    f.identityAt = 0x678A;
    f.validHeader = ValidHeader::Header8916;
    f.strings = StringBlocks::Sector;
    f.stringSector = 0xE000;
    f.serialIndexAt = 0x6792;
    f.typeNumber = TypeNumberPlace::InSector;
    f.typeNumberAt = 0x4FF8;
    f.reworkPrefix = "7318_";
    return f;
}

// 'j', 'k' and 'm': the firmware writes the flash, the strings are found
// through a pointer in the image header.
constexpr Family firmwareFamily(IcType type, char letter, std::string_view name, std::uint8_t bits,
                                std::uint16_t stringPointerField, std::string_view reworkPrefix) {
    Family f = olderFamily(type, letter, name);
    f.chipBits = bits;
    f.firmwareWritesFlash = true;
    f.flashTypeOffset = 2;
    f.flashTypeValues = kFirmwareFlashType;
    f.strings = StringBlocks::Pointer;
    f.stringPointerField = stringPointerField;
    f.reworkPrefix = reworkPrefix;
    return f;
}

constexpr Family makeJ() {
    Family f = firmwareFamily(IcType::j, 'j', "ZLTA_7312", 0xB0, 0x74, "7312_");
    f.countInBlock = true;
    f.procedure = Procedure::Dfu7312;
    f.validHeader = ValidHeader::FirmwareFinishes;
    f.resetAfterStationFinish = true;
    f.typeNumber = TypeNumberPlace::BeforeHeader;
    return f;
}

constexpr Family makeK() {
    Family f = firmwareFamily(IcType::k, 'k', "ZLTA_7315/23/13/17 series", 0xC0, 0x7A, "7315_");
    f.moreChipBits = 0xE0;
    f.procedure = Procedure::ResetThenIsp;
    f.invalidHeaderInData = true;
    f.validHeader = ValidHeader::Header89Kind;
    f.resetAfterStationFinish = true;
    f.typeNumber = TypeNumberPlace::BeforeHeader;
    return f;
}

constexpr Family makeL() {
    Family f = olderFamily(IcType::l, 'l', "ZLTA_7330/76x0 series");
    f.showsImageVersion = false;
    return f;
}

constexpr Family makeM() {
    Family f = firmwareFamily(IcType::m, 'm', {}, 0xD0, 0x9C, "7610_");
    f.procedure = Procedure::ModuleOrIsp;
    f.invalidHeaderInData = true;
    f.selectsSerialFlash = true;
    f.validHeader = ValidHeader::FirmwareFinishes;
    return f;
}

// In the order of the enumerators.
constexpr std::array<Family, 10> kFamilies = {
    makeD(),
    makeE(),
    make7300(IcType::f, 'f', "ZLTA_7300BC", 0x60),
    make7300(IcType::g, 'g', "ZLTA_7300D", 0x90),
    makeH(),
    makeI(),
    makeJ(),
    makeK(),
    makeL(),
    makeM(),
};

constexpr bool familiesInEnumeratorOrder() {
    for (std::size_t i = 0; i < kFamilies.size(); ++i)
        if (static_cast<std::size_t>(kFamilies[i].type) != i)
            return false;
    return true;
}
static_assert(familiesInEnumeratorOrder());

bool detectedFrom(const Family& f, std::uint8_t bits) {
    return bits != 0 && (f.chipBits == bits || f.moreChipBits == bits);
}

} // namespace

const Family& family(IcType type) {
    const auto at = static_cast<std::size_t>(type);
    return kFamilies[at < kFamilies.size() ? at : 0];
}

std::span<const Family> families() {
    return kFamilies;
}

std::optional<IcType> fromLetter(char letter) {
    for (const Family& f : kFamilies)
        if (f.letter == letter)
            return f.type;
    return std::nullopt;
}

std::optional<std::uint8_t> familyBits(std::uint8_t chipIdByte) {
    const auto bits = static_cast<std::uint8_t>(chipIdByte & 0xF0);
    if (std::any_of(kFamilies.begin(), kFamilies.end(),
                    [bits](const Family& f) { return detectedFrom(f, bits); }))
        return bits;
    return std::nullopt;
}

bool needsVariant(std::uint8_t bits) {
    return std::any_of(kFamilies.begin(), kFamilies.end(), [bits](const Family& f) {
        return detectedFrom(f, bits) && f.variant != Variant::Any;
    });
}

std::optional<IcType> icTypeFromChip(std::uint8_t chipIdByte, std::uint8_t variant) {
    const auto bits = familyBits(chipIdByte);
    if (!bits)
        return std::nullopt;
    for (const Family& f : kFamilies) {
        if (!detectedFrom(f, *bits))
            continue;
        if (f.variant == Variant::Any || (f.variant == Variant::Is10) == (variant == 0x10))
            return f.type;
    }
    return std::nullopt;
}

bool familyFilterAccepts(IcType filter, std::uint8_t bits) {
    const Family& f = family(filter);
    if (f.anyFamily)
        return familyBits(bits).has_value();
    // Only the first bit pattern: the second belongs to the "any" filter.
    return f.openArgument && f.chipBits != 0 && f.chipBits == bits;
}

} // namespace chip
} // namespace tessell
