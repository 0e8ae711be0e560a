#include "platform/yuyv.h"

#include <algorithm>

namespace tessell::preview {

namespace {

std::uint32_t channel(int scaled) {
    // Fixed point with 8 fractional bits, rounded.
    return static_cast<std::uint32_t>(std::clamp((scaled + 128) >> 8, 0, 255));
}

} // namespace

std::uint32_t yuvToArgb(std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    const int c = 298 * (y - 16); // 255/219 of the luma
    const int d = u - 128;
    const int e = v - 128;
    const std::uint32_t red = channel(c + 409 * e);
    const std::uint32_t green = channel(c - 100 * d - 208 * e);
    const std::uint32_t blue = channel(c + 516 * d);
    return 0xFF000000u | red << 16 | green << 8 | blue;
}

std::size_t yuyvRowBytes(int width) {
    return width <= 0 ? 0 : (static_cast<std::size_t>(width) + 1) / 2 * 4;
}

std::optional<std::size_t> yuyvPictureBytes(int width, int height, std::size_t bytesPerLine) {
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide)
        return std::nullopt;
    const std::size_t row = yuyvRowBytes(width);
    // A spacing this large is no camera's; it would only overflow below.
    if (bytesPerLine < row || bytesPerLine > row * 16)
        return std::nullopt;
    return bytesPerLine * static_cast<std::size_t>(height - 1) + row;
}

bool convertYuyv(std::span<const std::uint8_t> data, int width, int height,
                 std::size_t bytesPerLine, Frame& frame) {
    const auto needed = yuyvPictureBytes(width, height, bytesPerLine);
    if (!needed || data.size() < *needed)
        return false;
    frame.width = width;
    frame.height = height;
    frame.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    auto out = frame.pixels.begin();
    for (int row = 0; row < height; ++row) {
        const std::uint8_t* pair = data.data() + bytesPerLine * static_cast<std::size_t>(row);
        for (int x = 0; x < width; x += 2, pair += 4) {
            *out++ = yuvToArgb(pair[0], pair[1], pair[3]);
            if (x + 1 < width)
                *out++ = yuvToArgb(pair[2], pair[1], pair[3]);
        }
    }
    return true;
}

} // namespace tessell::preview
