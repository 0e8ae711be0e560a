#pragma once

// The camera's Extension-Unit protocol: property sets and selectors. The
// channel, the download procedures and the simulated firmware share these.

#include "device/flash_parts.h"
#include "platform/guid.h"

#include <array>
#include <cstdint>

namespace tessell {

// The Extension Unit answers under one of two property sets (its extension
// code); the primary set is tried first.
inline const Guid XU_PROPSET_PRIMARY = *Guid::parse("{63610682-5070-49AB-B8CC-B3855E8D221D}");
inline const Guid XU_PROPSET_FALLBACK = *Guid::parse("{7D5A1D99-5B32-428B-8CAD-671B8A65F37A}");

enum XuSelector : std::uint32_t {
    XU_REG_ADDRESS = 2,          // W 2: chip register address, low byte first
    XU_REG_DATA = 3,             // W/R 1: data of the selected register
    XU_SF_CMD_INDEX = 7,         // W 1: opcode-table slot 1..12; 13 = identification
    XU_SF_CMD_VALUE = 8,         // W 1: opcode for the chosen slot
    XU_DFU_ENABLE_CONTROL = 9,   // W 1: 1 enters download mode, 0 leaves it
    XU_DFU_ACCESS_CONTROL = 10,  // L/W: firmware data block
    XU_DFU_CHECKSUM = 11,        // R: checksum of the download; 1 byte for the probe
    XU_ISP_FW_DOWNLOAD_OK = 12,  // W 1: end of download
    XU_SF_SECTOR_ERASE = 13,     // W 4: erase the 4 KiB sector {low, high, 0, 0}
    XU_SF_ADDRESS = 14,          // W 4: flash address for selectors 15 and 22
    XU_SF_DATA_4K = 15,          // L/W/R: flash data block
    XU_SF_CMD_FLAGS = 16,        // W 1: program mode, the 13th byte of an opcode table
    XU_ISP_SERIAL_FLASH = 20,    // W 1: download target (1 serial flash, 0 module)
    XU_SF_DATA_64 = 22,          // W/R 64: flash data block
    XU_SF_ID = 23,               // R 3: the latched identification bytes
    XU_SF_PARAM_BLOCK = 24,      // W 27: module command sequence
    XU_FW_CHECKSUM_TRIGGER = 26, // W 1 starts the checksum; R 1 = busy
};

// Slot number of XU_SF_CMD_INDEX that selects the identification command.
constexpr std::uint8_t kIdentificationSlot = 13;

// Module command sequences of XU_SF_PARAM_BLOCK: nine triples (address high,
// address low, data) of the JEDEC command cycles unlock AA/55, erase setup 80,
// unlock, chip erase 10, unlock, program A0. The two module families differ
// only in their unlock addresses.
using ModuleSequence = std::array<std::uint8_t, 27>;
inline constexpr ModuleSequence kModuleSequence254 = {
    0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0x80, 0x05, 0x55, 0xAA, 0x02, 0xAA,
    0x55, 0x05, 0x55, 0x10, 0x05, 0x55, 0xAA, 0x02, 0xAA, 0x55, 0x05, 0x55, 0xA0};
inline constexpr ModuleSequence kModuleSequence255 = {
    0x55, 0x55, 0xAA, 0x2A, 0xAA, 0x55, 0x55, 0x55, 0x80, 0x55, 0x55, 0xAA, 0x2A, 0xAA,
    0x55, 0x55, 0x55, 0x10, 0x55, 0x55, 0xAA, 0x2A, 0xAA, 0x55, 0x55, 0x55, 0xA0};

// The sequence of a module family index (254 or 255); null for a flash family.
constexpr const ModuleSequence* moduleSequence(std::uint8_t familyIndex) {
    if (familyIndex == flash::kModuleFamily0)
        return &kModuleSequence254;
    if (familyIndex == flash::kModuleFamily1)
        return &kModuleSequence255;
    return nullptr;
}

// Name used in trace lines ("put_Property XU_DFU_ACCESS_CONTROL fail.").
const char* xuSelectorName(std::uint32_t selector);

} // namespace tessell
