#pragma once

// Everything known about the serial-flash parts, as data: how a part answers
// the identification commands, its display name and indexes, its opcode
// table, and the flash-type value an image carries for it. The device layer,
// the download procedures and the simulated flash all read these tables.

#include "device/ic_type.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tessell {

using FlashCode = std::uint8_t;

namespace flash {

constexpr FlashCode kUnknown = 0x78;
constexpr FlashCode kFirstKnown = 0x79;
constexpr FlashCode kLastKnown = 0x8C;

// Family indexes 254 and 255 are not flash chips: they select the download
// into a multi-chip module.
constexpr std::uint8_t kModuleFamily0 = 254;
constexpr std::uint8_t kModuleFamily1 = 255;

// Serial-flash command bytes the tool sends itself.
namespace command {
constexpr std::uint8_t kWriteStatus = 0x01;
constexpr std::uint8_t kPageProgram = 0x02;
constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kWriteDisable = 0x04;
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::uint8_t kWriteEnable = 0x06;
constexpr std::uint8_t kFastRead = 0x0B;
constexpr std::uint8_t kEnableWriteStatus = 0x50;
constexpr std::uint8_t kReadManufacturerId = 0x90;
constexpr std::uint8_t kReleasePowerDownId = 0xAB;
constexpr std::uint8_t kReadJedecId = 0x9F;
} // namespace command

constexpr std::uint8_t kStatusWriteInProgress = 0x01;
constexpr std::uint8_t kStatusWriteEnableLatch = 0x02;
constexpr std::uint8_t kStatusBlockProtect = 0x0C;

using IdBytes = std::array<std::uint8_t, 3>;

// First identification read: command 0x90, all three bytes compared.
struct ManufacturerIdRow {
    IdBytes bytes;
    FlashCode code;
};
std::span<const ManufacturerIdRow> manufacturerIdTable();

// Parts that answer 00 00 00 or FF FF FF to 0x90 and are named by a second
// read: 0xAB first, then 0x9F.
struct SecondReadRow {
    std::uint8_t command;
    IdBytes bytes;
    FlashCode code;
};
std::span<const SecondReadRow> secondReadTable();

// Outcome of the first read: a code, or "go on with the second reads".
std::optional<FlashCode> codeFromManufacturerId(const IdBytes& answer);
// Outcome of a second read (0xAB or 0x9F): a code, or none from this read.
std::optional<FlashCode> codeFromSecondRead(std::uint8_t command, const IdBytes& answer);

// A code is valid for protection changes when it is a family index 0..6 or
// a known part 0x79..0x8C.
bool isValidForProtection(std::uint8_t codeOrFamily);

// Display row of a known part.
struct PartName {
    FlashCode code;
    std::string_view name;
    std::uint8_t familyIndex;
    std::uint8_t listIndex;
};
std::span<const PartName> partNames();
const PartName* findPartName(FlashCode code);

// Opcode table of a part: slots 1..12 (index 0..11) and the program mode.
struct OpcodeTable {
    std::array<std::uint8_t, 12> slots;
    std::uint8_t programMode;

    std::uint8_t slot(int number) const { return slots[static_cast<std::size_t>(number - 1)]; }
};

namespace slot {
constexpr int kRead = 1;
constexpr int kFastRead = 2;
constexpr int kReadStatus = 3;
constexpr int kWriteEnable = 4;
constexpr int kWriteDisable = 5;
constexpr int kSectorErase = 6;
constexpr int kBlockErase = 7;
constexpr int kChipErase = 8;
constexpr int kPageProgram = 9;
constexpr int kAutoIncrementProgram = 10;
constexpr int kEnableWriteStatus = 11;
constexpr int kWriteStatus = 12;
} // namespace slot

constexpr std::uint8_t kNoOpcode = 0xFF;

// Table number 0..6 for a raw flash code or a family index.
int opcodeTableNumber(std::uint8_t codeOrFamily);
const OpcodeTable& opcodeTable(int tableNumber);

// Offset and value of the flash-type byte an image carries, for a camera
// family and a table number; none for families that carry none.
struct ImageFlashType {
    std::size_t offset;
    std::uint8_t value;
};
std::optional<ImageFlashType> imageFlashType(IcType camera, int tableNumber);

// Default size of a part in bytes (what a camera's flash holds).
std::size_t defaultPartSize(FlashCode code);

} // namespace flash
} // namespace tessell
