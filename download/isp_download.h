#pragma once

// In-system programming of a camera's serial flash through the camera's ISP
// path: write protection off, download mode on, the image streamed in the
// camera's block size, the camera's checksum compared, and only then the
// image's valid header signature written (or the camera told the download is
// complete) and protection switched back on. Until that last step the flash
// carries an invalid signature, so an interrupted download leaves a camera
// that does not start half-written firmware.
//
// Progress and both checksums go to the `DownloadStatus` given (it may be
// null); step-by-step diagnostics go to the trace. Each procedure's result is
// a `Result`: success, refused (status::kRefused: nothing sent), or a failure
// with the reason.

#include "device/camera_link.h"
#include "device/download_status.h"
#include "device/result.h"
#include "download/builtin_image.h"
#include "download/firmware_image.h"

#include <cstdint>
#include <span>

namespace tessell {

// Valid ISP flash types: family indexes 0..6 and the known part codes.
bool isIspFlashType(std::uint8_t flashType);

// Refused for a flash type outside the valid ones. `flashType` is a family index 0..6 or a
// flash code 0x79..0x8C. With `finish` false the camera is left in download mode and not
// reset (the multi-camera burn finishes it itself).
Result isp_download(FirmwareImage& image, CameraLink& link, std::uint8_t flashType,
                    DownloadStatus* status, bool finish);
// The same for an image held elsewhere (a multi-camera job's copy): `bytes` holds at least
// the image; `headerVariant18` tells whether the file began 0x89 0x18.
Result isp_download(std::span<std::uint8_t> bytes, std::size_t length, bool headerVariant18,
                    CameraLink& link, std::uint8_t flashType, DownloadStatus* status, bool finish);

// Macronix 25L5121E/25L1021E flash on families 'f', 'g', 'h': programmed sector by sector
// and verified by reading back. Sets byte 0 of the image to the
// signature 0x55 it writes.
Result mx32_download(FirmwareImage& image, CameraLink& link, std::uint8_t flashType,
                     DownloadStatus* status);

// Burns the program's own 8 KiB image with the identified flash code; refused for a code
// that names no flash part. Reports to a status block of its own.
Result burn_builtin_image(CameraLink& link, FlashCode code);

} // namespace tessell
