#pragma once

// The USB identity a simulated camera presents, read from the image in its
// flash the way the tool itself reads images and string blocks, so that what
// the tool writes is what the camera shows after its next arrival.

#include "device/ic_type.h"

#include <cstdint>
#include <span>
#include <string>

namespace tessell::sim {

// What the chip's boot code presents when the flash holds nothing bootable;
// by default 1209:0001, an identity reserved for testing, so that no example
// station stands for a real maker's product.
struct RomIdentity {
    std::uint16_t vid = 0x1209, pid = 0x0001, bcd = 0x0100;
    std::string manufacturer, product, serial;
};

struct SimUsbIdentity {
    std::uint16_t vid = 0, pid = 0, bcdDevice = 0;
    std::string manufacturer, product, serial; // UTF-8
};

// The flash begins 0x55 0x90, or 0x89 followed by 0x10..0x2F.
bool isBootable(std::span<const std::uint8_t> flash);

// While the flash is bootable: VID, PID and bcdDevice as the tool reads them
// from an image of the flash's first 0x20000 bytes, each one that reads as 0
// replaced by the rom's; the manufacturer string from the valid string block
// at the camera family's string-block offset, the serial number from the
// valid block 0x1000 above it, each the rom's when its block is missing or
// not valid. The product string is always the rom's: images carry it at no
// place the tool knows. A flash that is not bootable gives the rom identity.
SimUsbIdentity identityFromFlash(std::span<const std::uint8_t> flash, IcType camera,
                                 const RomIdentity& rom);

} // namespace tessell::sim
