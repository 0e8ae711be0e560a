#pragma once

// The checks a camera and an image pass before a download starts, as
// verdicts and texts, so that every tool that burns cameras asks the same.

#include "device/ic_type.h"
#include "download/firmware_image.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tessell {

// Whether the image seems to be for another chip than the camera's: the
// operator is then asked before it is written.
bool imageRefusedForChip(const FirmwareImage& image, IcType camera);

// The camera's and the image's product and vendor IDs side by side, the
// differing ones marked; none when both agree.
std::optional<std::string> pidVidMismatchText(std::uint16_t cameraVid, std::uint16_t cameraPid,
                                              const FirmwareImage& image);

// Register 0x2509's upper four bits: the camera is streaming, and a download
// would fight the stream.
constexpr std::uint16_t kStreamingRegister = 0x2509;
constexpr bool cameraStreaming(std::uint8_t streamingRegister) {
    return (streamingRegister & 0xF0) != 0;
}

} // namespace tessell
