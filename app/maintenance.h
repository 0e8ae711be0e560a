#pragma once

// The maintenance commands on one open camera: dumping and erasing its
// serial flash and switching its LED. The window's buttons and the
// one-camera commands of the command line run the same code.

#include "device/camera_link.h"

#include <cstdint>
#include <string>

namespace tessell {

// The name a dump gets when nobody chose one.
inline constexpr const char* kDefaultDumpName = "DUMP_BIN.bin";

// Reads the first 64 KiB of the flash (family index of its part) and writes
// exactly those bytes to `path`, created or truncated. A failure's reason
// says what failed; nothing is written when the flash could not be read.
Result dumpFlashToFile(CameraLink& link, std::uint8_t familyIndex, const std::string& path);

// Erases the first 64 KiB of the flash sector by sector, then resets the
// chip whatever the outcome. Fails when the camera refused a sector or a
// byte did not read erased afterwards.
Result eraseFlashAndReset(CameraLink& link, std::uint8_t familyIndex);

// Switches the camera's LED: both LED registers, on or off. Fails with the
// status of a register write that failed.
Result switchLed(CameraLink& link, bool on);

} // namespace tessell
