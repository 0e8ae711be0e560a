#pragma once

// The checks a camera and an image pass before the single-camera tools start
// a download, as verdicts and texts. Whether an image fits the camera's chip
// is download/image_fit.h, the rule every tool asks.

#include "download/firmware_image.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tessell {

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
