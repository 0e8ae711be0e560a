#pragma once

// The camera's serial flash as the download, serial-number and maintenance
// code reach it: loading a part's opcode table into the camera firmware, the
// flash-type byte an image carries, and range operations (erase, read,
// write, verify). The part tables themselves live in device/flash_parts.h.
//
// Flash addresses on the wire are 16-bit: only the first 64 KiB of a part is
// reachable, and a range beyond it is refused rather than wrapped.

#include "device/camera_link.h"
#include "device/flash_parts.h"
#include "device/ic_type.h"
#include "device/result.h"
#include "platform/status.h"

#include <cstdint>
#include <span>
#include <string>

namespace tessell {

// Highest flash address + 1 that the 16-bit address blocks can name.
constexpr std::uint32_t kFlashWindow = 0x10000;
// The erase unit of every supported part.
constexpr std::uint32_t kFlashSectorSize = 0x1000;
// Largest block a camera may report for the flash data control.
constexpr std::uint32_t kMaxFlashBlock = 4096;

// Loads the opcode table for a flash code or family index and returns the data block size
// the camera reports for selector 15 (status of that query). A size outside 1..4096 is not
// trusted and answered as a failed query.
Status select_flash(CameraLink& link, std::uint8_t codeOrFamily, std::uint32_t& blockSize);

// Writes the image flash-type value for the camera family (no change for other families).
void set_image_flash_type(std::span<std::uint8_t> image, IcType camera, std::uint8_t codeOrFamily);

// Erases the 16 sectors of the first 64 KiB and reads them back: fails at the first sector the
// camera refused, or with the first byte that did not read 0xFF afterwards.
Result erase_all(CameraLink& link, std::uint8_t familyIndex);

// Copies flash [start, end) into buffer[start, end) (buffer mirrors the flash address space).
// Fails with the address of the read that failed; refused when the range does not fit the
// buffer or the 64 KiB window.
Result read_range(CameraLink& link, std::span<std::uint8_t> buffer, std::uint8_t code,
                  std::uint32_t start, std::uint32_t end);

// Up to 64 bytes at a flash address. Families whose firmware writes the flash through its 64-byte
// block; the others page-programmed through the serial-port registers. Fails with the address
// of the write that failed.
Result write_bytes(CameraLink& link, std::uint16_t address, std::span<const std::uint8_t> data);

// Whether the flash from address 0 holds `expected` (at most 64 KiB): fails with the first
// address that differs, or the read that failed.
Result verify(CameraLink& link, std::uint8_t code, std::span<const std::uint8_t> expected);

// What the dialog shows beside its flash-type selector.
struct FlashChoice {
    std::string name;
    int familyIndex = 0;
    int listIndex = 0;
};
// Fills `choice` for a known part; any other code leaves it unchanged.
void show_flash_name(std::uint8_t code, FlashChoice& choice);

} // namespace tessell
