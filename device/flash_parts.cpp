#include "device/flash_parts.h"

#include <algorithm>

namespace tessell::flash {

namespace {

constexpr ManufacturerIdRow kManufacturerIds[] = {
    {{0xC2, 0x05, 0xC2}, 0x79}, {{0xC2, 0x10, 0xC2}, 0x87}, {{0xC2, 0x12, 0xC2}, 0x8C},
    {{0xBF, 0x48, 0xBF}, 0x7A}, {{0x1C, 0x05, 0x1C}, 0x7F}, {{0x1C, 0x12, 0x1C}, 0x89},
    {{0x42, 0x05, 0xC2}, 0x80}, {{0x9D, 0x05, 0x7F}, 0x7B}, {{0x9D, 0x05, 0xC4}, 0x88},
    {{0x9D, 0x02, 0x7F}, 0x7C}, {{0xC8, 0x05, 0xC8}, 0x83}, {{0xA1, 0x05, 0xA1}, 0x84},
    {{0x51, 0x05, 0x51}, 0x85}, {{0x51, 0x10, 0x51}, 0x86}, {{0xEF, 0x05, 0xEF}, 0x8B},
};

constexpr SecondReadRow kSecondReads[] = {
    {command::kReleasePowerDownId, {0x9D, 0x7B, 0x7F}, 0x7D},
    {command::kReadJedecId, {0x1F, 0x65, 0x00}, 0x7E},
    {command::kReadJedecId, {0xC2, 0x22, 0x10}, 0x81},
    {command::kReadJedecId, {0xC2, 0x22, 0x11}, 0x82},
};

constexpr PartName kPartNames[] = {
    {0x79, "MX 25L512", 0, 0},
    {0x7A, "SST 25VF512", 1, 1},
    {0x7B, "PM25LD512/PM25LQ512", 2, 2},
    {0x7D, "PM25LV512D", 2, 2},
    {0x7E, "ATM AT25F512B", 5, 5},
    {0x7F, "EON EN25F05", 3, 3},
    {0x80, "AMIC A25LS512", 4, 4},
    {0x81, "MX(KH) 25L5121E", 6, 6},
    {0x82, "MX 25L1021E", 6, 6},
    {0x83, "GD25Q512/GD25D05B/GD25D10B", 0, 7},
    {0x84, "FM 25F005", 0, 8},
    {0x85, "MD25D512", 0, 8},
    {0x86, "MD25D10", 0, 8},
    {0x87, "MX25L1006E", 0, 8},
    {0x88, "GT25F512", 0, 8},
    {0x8B, "W25X05CL/W25E05MV", 0, 0},
    {0x8C, "MK25D40", 0, 8},
};

// Slots: read, fast read, read status, write enable, write disable, sector
// erase, block erase, chip erase, page program, auto-increment program,
// enable write of status, write status; then the program mode.
constexpr OpcodeTable kGeneric{
    {0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 0};
constexpr OpcodeTable kOpcodeTables[7] = {
    kGeneric,
    {{0x03, 0xFF, 0x05, 0x06, 0x04, 0x20, 0x52, 0x60, 0x02, 0xAF, 0x50, 0x01}, 1}, // SST
    {{0x03, 0x0B, 0x05, 0x06, 0x04, 0xD7, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 0}, // PMC
    kGeneric,                                                                      // EON
    kGeneric,                                                                      // AMIC
    kGeneric,                                                                      // Atmel
    {{0x03, 0x0B, 0x05, 0x06, 0x04, 0x20, 0xD8, 0xC7, 0x02, 0xFF, 0xFF, 0x01}, 2}, // MX 5121E
};

bool isZeroOrBlank(const IdBytes& answer) {
    return answer == IdBytes{0, 0, 0} || answer == IdBytes{0xFF, 0xFF, 0xFF};
}

} // namespace

std::span<const ManufacturerIdRow> manufacturerIdTable() {
    return kManufacturerIds;
}
std::span<const SecondReadRow> secondReadTable() {
    return kSecondReads;
}

std::optional<FlashCode> codeFromManufacturerId(const IdBytes& answer) {
    if (isZeroOrBlank(answer))
        return std::nullopt;
    for (const auto& row : kManufacturerIds)
        if (row.bytes == answer)
            return row.code;
    return kUnknown;
}

std::optional<FlashCode> codeFromSecondRead(std::uint8_t command, const IdBytes& answer) {
    for (const auto& row : kSecondReads)
        if (row.command == command && row.bytes == answer)
            return row.code;
    return std::nullopt;
}

bool isValidForProtection(std::uint8_t codeOrFamily) {
    return codeOrFamily <= 6 || (codeOrFamily >= kFirstKnown && codeOrFamily <= kLastKnown);
}

std::span<const PartName> partNames() {
    return kPartNames;
}

const PartName* findPartName(FlashCode code) {
    const auto* found = std::find_if(std::begin(kPartNames), std::end(kPartNames),
                                     [code](const PartName& row) { return row.code == code; });
    return found == std::end(kPartNames) ? nullptr : found;
}

int opcodeTableNumber(std::uint8_t codeOrFamily) {
    switch (codeOrFamily) {
    case 0x79:
    case 0x83:
    case 0x84:
    case 0x85:
    case 0x86:
    case 0x87:
    case 0x88:
    case 0x8B:
        return 0;
    case 0x7A:
        return 1;
    case 0x7B:
    case 0x7C:
    case 0x7D:
        return 2;
    case 0x7F:
    case 0x89:
        return 3;
    case 0x80:
        return 4;
    case 0x7E:
        return 5;
    case 0x81:
    case 0x82:
        return 6;
    default:
        return codeOrFamily <= 6 ? codeOrFamily : 0;
    }
}

const OpcodeTable& opcodeTable(int tableNumber) {
    return kOpcodeTables[tableNumber >= 0 && tableNumber <= 6 ? tableNumber : 0];
}

std::optional<ImageFlashType> imageFlashType(IcType camera, int tableNumber) {
    const chip::Family& family = chip::family(camera);
    if (family.flashTypeOffset == 0)
        return std::nullopt;
    const auto t = static_cast<std::size_t>(tableNumber >= 0 && tableNumber <= 6 ? tableNumber : 0);
    return ImageFlashType{family.flashTypeOffset, family.flashTypeValues[t]};
}

std::size_t defaultPartSize(FlashCode code) {
    switch (code) {
    case 0x82:
    case 0x86:
    case 0x87:
        return 131072;
    case 0x8C:
        return 524288;
    default:
        return 65536;
    }
}

} // namespace tessell::flash
