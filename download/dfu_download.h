#pragma once

// Downloads in which the camera firmware itself receives the image: the tool
// switches the camera into download mode, streams the image in blocks of the
// size the camera announces, asks the camera for the 8-bit checksum of what it
// received and confirms or abandons the download.
//
// download_7312 serves the 7312 family ('j'). Download_Fw serves the 'm'
// family: into the memory of a multi-chip module (family index 254 or 255)
// or into the serial flash (a family index 0..6). prepare_module and
// prepare_module_2 are the register steps the worker runs on an 'm' camera
// before a module download.
//
// The procedures run on the download worker's thread, report through the
// status block (which may be null) and send their step-by-step diagnostics to
// the trace channel. Every wait is bounded: a camera that stops answering
// ends the run as a failure.

#include "device/camera_link.h"
#include "device/download_status.h"
#include "device/result.h"
#include "download/firmware_image.h"
#include "platform/usb_location.h"

#include <chrono>
#include <cstdint>

namespace tessell {

// Registers of the 'm' family that the module download uses. What the
// firmware does with them beyond the bits named here is its own.
namespace reg {
constexpr std::uint16_t kResetControl = 0x2C00;   // bit 1 set: the camera resets itself
constexpr std::uint16_t kModuleEnable = 0x20EB;   // bit 7: module path on
constexpr std::uint16_t kModuleChecksum = 0x20E9; // bit 5: module checksum pending
constexpr std::uint16_t kRestartArm = 0x20F8;     // 1 arms the firmware restart
constexpr std::uint16_t kRestartKey0 = 0x20F5;    // 0xAA,
constexpr std::uint16_t kRestartKey1 = 0x20F6;    // 0x55,
constexpr std::uint16_t kRestartTrigger = 0x20F7; // then 0xA0 restarts the camera
constexpr std::uint16_t kBootControl = 0x2501;    // bit 1 cleared before a download
} // namespace reg

// Chip identification bytes of the two module chips.
constexpr std::uint8_t kModuleChipD0 = 0xD0;
constexpr std::uint8_t kModuleChipD2 = 0xD2; // computes the module checksum on request

// After the firmware restart of prepare_module the camera is looked for every
// 500 ms for this long (tool time) before the preparation gives up, as the
// worker does after a chip reset.
constexpr auto kModuleReopenPause = std::chrono::milliseconds(500);
constexpr auto kModuleReopenBudget = std::chrono::seconds(15);

// Writes the image flash-type value into `image`,
// sends 2 x the link's download value + 1 as the enable byte, and always ends
// with the chip reset and stage 24 (the result tells the outcome).
Result download_7312(FirmwareImage& image, CameraLink& link, std::uint8_t familyIndex,
                     DownloadStatus* status);

// `familyIndex` 254/255 streams into the module memory,
// anything else into the serial flash with that flash family. The computed
// and the camera's checksum go into `status`. `timeoutCount` bounds the
// one-second polls of the module's checksum-busy flag (the `Timeout` setting).
Result Download_Fw(FirmwareImage& image, CameraLink& link, std::uint8_t familyIndex,
                   DownloadStatus* status, int timeoutCount);

// Register steps before a module download of an 'm' camera (nothing for
// other families): the firmware restart of chip 0xD2, the reopen of the
// camera on its USB port `address`, and the burn of the built-in image into
// its serial flash. Fails when the camera cannot be read or did not come
// back within the budget.
Result prepare_module(CameraLink& link, platform::UsbLocation& usb,
                      const platform::UsbAddress& address);
// Clears bit 1 of register 0x2501; fails when the register could not be
// read or written.
Result prepare_module_2(CameraLink& link);

} // namespace tessell
