#pragma once

// Packed YUYV (YUY2), the uncompressed format every UVC camera offers: each
// four bytes Y0 U Y1 V carry two pixels that share their colour. Cameras
// send studio-range BT.601, which is what the conversion assumes.
//
// The picture's bytes come from a driver's buffer and its size from the
// format the driver chose: both are checked before a byte is read.

#include "platform/frame_source.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tessell::preview {

// No side of a picture the preview takes is longer than this.
inline constexpr int kMaxPictureSide = 8192;

// One pixel, 0xFFRRGGBB.
std::uint32_t yuvToArgb(std::uint8_t y, std::uint8_t u, std::uint8_t v);

// Bytes the pixels of one row take; an odd last pixel still fills a pair.
std::size_t yuyvRowBytes(int width);

// Bytes a picture of rows `bytesPerLine` apart needs, the last row without
// its padding; none for a size that makes no sense (a side that is zero,
// negative or over kMaxPictureSide, or rows longer than their spacing).
std::optional<std::size_t> yuyvPictureBytes(int width, int height, std::size_t bytesPerLine);

// Converts a YUYV picture into `frame`. False, with `frame` untouched, when
// the size makes no sense or `data` is shorter than the picture.
bool convertYuyv(std::span<const std::uint8_t> data, int width, int height,
                 std::size_t bytesPerLine, Frame& frame);

} // namespace tessell::preview
