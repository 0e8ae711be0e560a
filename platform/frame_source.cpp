#include "platform/frame_source.h"

#include <algorithm>

namespace tessell::preview {

void Frame::resize(int newWidth, int newHeight, std::uint32_t fill) {
    width = std::max(0, newWidth);
    height = std::max(0, newHeight);
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill);
}

void Frame::fillRect(int x, int y, int w, int h, std::uint32_t colour) {
    const int left = std::max(0, x);
    const int top = std::max(0, y);
    const int right = std::min(width, x + w);
    const int bottom = std::min(height, y + h);
    for (int row = top; row < bottom; ++row)
        std::fill_n(pixels.begin() + static_cast<std::ptrdiff_t>(row) * width + left,
                    std::max(0, right - left), colour);
}

} // namespace tessell::preview
