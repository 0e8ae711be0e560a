#pragma once

// Chip families (`IcType`): how a camera's chip identification register
// names its family, and everything the tool does differently per family.
// One table holds it all (ic_type.cpp); the rest of the code asks the table
// for a property and never compares families itself.
//
// It lives in the device layer because the lowest users are here (chip
// detection, the flash chip select, the firmware's block-write form); the
// download code reads the rest of a row. Image layouts are the image
// parser's own (download/firmware_image): this table does not know them.

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string_view>

namespace tessell {

// The camera's chip family. The enumerators carry the family letters the
// settings, logs and JSON show; `chip::letter` gives them as text.
enum class IcType : std::uint8_t { d, e, f, g, h, i, j, k, l, m };
// Writes the letter.
std::ostream& operator<<(std::ostream& out, IcType type);

namespace chip {

constexpr std::uint16_t kChipIdRegister = 0x20FF;  // `ChipIdByte`
constexpr std::uint16_t kVariantRegister = 0x20D0; // tells the two families of bits 0xA0 apart

// The family before detection, and the "any family" argument of opening.
constexpr IcType kUndetected = IcType::d;
constexpr IcType kAnyFamily = IcType::e;

// How the download worker downloads to a camera of the family.
enum class Procedure : std::uint8_t {
    Isp,          // the ISP procedure
    ResetThenIsp, // flash header cleared, chip reset and reopened, then ISP
    ModuleOrIsp,  // the module download, or ISP as the settings and image say
    Dfu7312,      // the 7312 DFU procedure
};

// What a verified ISP download writes to make the flash valid.
enum class ValidHeader : std::uint8_t {
    FirmwareFinishes, // nothing: the firmware is told the download is complete
    Header89Kind,     // 0x89 then the file's header kind (0x18 or 0x17)
    Header8916,       // 0x89 0x16
    Byte55,           // the one byte 0x55
};

// Where a camera of the family keeps its string blocks.
enum class StringBlocks : std::uint8_t {
    None,
    Sector,  // in a fixed sector, taken whole by a rework (older headers)
    Pointer, // at P + 0x1000, P read from the image header
};

// Where the camera's type number lies in its flash.
enum class TypeNumberPlace : std::uint8_t {
    None,
    BeforeHeader, // the word 2 bytes before H
    InSector,     // a fixed word inside a 4 KiB sector
};

// How the chip's variant register takes part in detection.
enum class Variant : std::uint8_t { Any, Is10, Not10 };

struct Family {
    IcType type;
    char letter;
    std::string_view name; // shown in logs; empty for families without one

    // Detection: the upper four bits of `ChipIdByte` that give the family
    // (0 = none), and what the variant register must read.
    std::uint8_t chipBits;
    std::uint8_t moreChipBits; // a second bit pattern of the same family
    Variant variant;
    // As the family argument of opening: refused outright, any family, or
    // the family's own `chipBits` (none for a family without bits).
    bool openArgument;
    bool anyFamily;

    // Serial flash.
    std::uint8_t spiCsValue;  // written to 0x2025 to select the flash
    bool firmwareWritesFlash; // through the firmware's 64-byte block controls
    bool countInBlock;        // those blocks carry the count in byte 0
    // The image's flash-type byte: its offset (0 = none) and the value per
    // opcode table 0..6.
    std::uint16_t flashTypeOffset;
    std::array<std::uint8_t, 7> flashTypeValues;

    // Download.
    Procedure procedure;
    bool mx32;                // Macronix 25L5121E/1021E flash programmed sector by sector
    bool invalidHeaderInData; // the image is sent with 0xF9 0xFF at its start
    bool selectsSerialFlash;  // XU_ISP_SERIAL_FLASH is put with 1 before the ISP download
    std::uint8_t invalidByte; // written at flash 0 after the first block (tool-written flash)
    std::uint16_t identityAt; // six identity bytes re-written after the first block
    ValidHeader validHeader;
    bool resetAfterStationFinish; // soft-reset when a multi-camera station finishes

    // The image in the camera's flash.
    StringBlocks strings;
    std::uint16_t stringSector;       // Sector
    std::uint16_t stringPointerField; // Pointer: P at H + this
    std::uint16_t serialIndexAt;      // Sector: where the image keeps iSerialNumber
    TypeNumberPlace typeNumber;
    std::uint16_t typeNumberAt;    // InSector: the word's address
    std::string_view reworkPrefix; // of the rework work files
    bool showsImageVersion;        // the file's bcdDevice is logged when loaded
};

// The row of a family, and the whole table.
const Family& family(IcType type);
std::span<const Family> families();

// The family of a letter; none for anything else.
std::optional<IcType> fromLetter(char letter);
inline char letter(IcType type) {
    return family(type).letter;
}

// Family bits (upper four bits of `ChipIdByte`) of the tool's chips; none for
// a chip of another make.
std::optional<std::uint8_t> familyBits(std::uint8_t chipIdByte);

// The camera's `IcType` from its chip byte and, for the bits that two
// families share, the variant register; none for a chip that is not one of
// the tool's.
std::optional<IcType> icTypeFromChip(std::uint8_t chipIdByte, std::uint8_t variant);

// Whether two families' chips share family bits, so that the variant
// register must be read to tell them apart.
bool needsVariant(std::uint8_t familyBits);

// Whether an opening filter accepts a chip: `kAnyFamily` accepts every
// family, each other family exactly its own first bit pattern.
bool familyFilterAccepts(IcType filter, std::uint8_t familyBits);

// Value written to register 0x2025 to select the serial flash (2 minus it
// releases it).
inline std::uint8_t spiCsValue(IcType type) {
    return family(type).spiCsValue;
}

// Name shown in logs; empty for the families without one.
inline std::string_view icTypeName(IcType type) {
    return family(type).name;
}

} // namespace chip
} // namespace tessell
