#pragma once

// Rework: a camera that is re-worked keeps the strings it already carries.
// keep_camera_strings reads the camera's string blocks from its flash, keeps
// a copy in the temporary folder for a camera on the same port that has lost
// them, and places them into the image before the download.
//
// The work files and every byte read from a camera are untrusted: anything
// malformed is refused with a line in the dialog log, or replaced by the
// built-in default blocks, rather than written into an image.

#include "device/camera_link.h"
#include "device/ic_type.h"
#include "device/result.h"
#include "download/firmware_image.h"
#include "download/serial_number.h"
#include "platform/usb_location.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace tessell {

// The work files of one camera: the rework prefix of its family (the chip
// family table), the camera's USB port when known, then "HVSN.bin" and
// "HVSN-2.bin", in `folder`. Keyed by the port so that cameras burning side
// by side never share them: "7315_1-2_3_HVSN.bin" for port 3 of hub 1-2.
struct ReworkFiles {
    std::filesystem::path firstBlock;
    std::filesystem::path serialBlock;
};
ReworkFiles reworkFiles(IcType camera, const std::filesystem::path& folder,
                        const platform::UsbAddress& address);

// Used when neither the camera nor a work file has a valid block.
extern const std::array<std::uint8_t, 32> kDefaultFirstBlock;
extern const std::array<std::uint8_t, 6> kDefaultSerialBlock;

// The rework works in a 64 KiB buffer: larger images are refused.
constexpr std::size_t kReworkLimit = 0x10000;

// Places the camera's own string blocks (read from its flash with
// `flashType`, a flash code or family index) into the image and gives the
// new image length, which the image also takes. Fails with the read's
// status when a flash read failed; refused for an image too large or
// without the pointer table the block places come from, or a block place
// outside the image. Either leaves a line in `output`'s log. The caller
// restores the image after the download.
Outcome<std::size_t> keep_camera_strings(FirmwareImage& image, CameraLink& link,
                                         std::uint8_t flashType, const ReworkFiles& files,
                                         SerialNumberOutput& output);

} // namespace tessell
