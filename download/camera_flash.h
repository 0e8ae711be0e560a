#pragma once

// What the tool reads from the image a camera already carries in its flash:
// where its string blocks lie, its type number, and the identity lines shown
// when a camera is selected. Every value read from the flash is untrusted:
// a pointer that leads outside the 16-bit flash address space is refused
// rather than wrapped, and a read that fails says so: an unreadable flash
// is told apart from a flash that holds no image the rule can follow.

#include "device/camera_link.h"
#include "device/ic_type.h"
#include "device/result.h"
#include "download/firmware_image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessell {

// The big-endian word at a flash address, read through the firmware's
// 64-byte block control: the read's failure, or refused when the word would
// reach past 0xFFFF.
Outcome<std::uint16_t> readFlashWord(CameraLink& link, std::uint32_t address);

// Where the camera keeps its first string block: the fixed sector of its
// family, or the image rule (image::imageStringBlockOffset) over its flash
// read a word at a time. Refused for other families and a flash whose
// header the rule cannot follow; the read's failure when one failed.
Outcome<std::size_t> cameraStringBlockOffset(CameraLink& link, IcType camera);

// The type number in the camera's flash (image::cameraTypeNumber), a word
// inside a fixed sector read with the identified flash part. Refused for
// other families and a header without one; the read's failure when the
// flash cannot be read.
Outcome<std::uint16_t> cameraTypeNumber(CameraLink& link, IcType camera);

// The camera identity shown when a camera is selected.
struct CameraIdentityDisplay {
    // The three camera-version fields, "%04x" each.
    std::string bcdDeviceText, productIdText, vendorIdText;
    // "%.4x", or empty when the camera's family keeps no type number (or
    // its flash could not be read).
    std::string typeNumberText;
    // Lines for the dialog log and the burn log, in order.
    std::vector<FirmwareImage::LogLine> log;
    // Kept for the download worker.
    std::uint16_t vid = 0, pid = 0, bcdDevice = 0;
};

CameraIdentityDisplay cameraIdentityDisplay(CameraLink& link, IcType camera, std::uint16_t vid,
                                            std::uint16_t pid, std::uint16_t bcdDevice,
                                            bool showFirmwareVersion);

} // namespace tessell
