#pragma once

// How the status box's pictures look, whatever draws them: one colour filling
// the box and the picture's word or digit in the tool's own bitmap font, so
// the pictures are the same on every machine, fonts installed or not. The
// Qt and the Win32 windows only turn these into their own paint calls.

#include "app/dialog_view.h"

#include <cstdint>
#include <functional>

namespace tessell {

struct StatusRgb {
    std::uint8_t red = 0, green = 0, blue = 0;
};

struct StatusLook {
    StatusRgb background;
    StatusRgb text;
};

StatusLook statusLook(StatusPicture picture);
// The word or digit a picture carries; empty for the blank one.
const char* statusWord(StatusPicture picture);

// Calls `square(left, top, size)` for every inked square of the picture's
// word, centred in a box of `width` x `height` at the largest whole scale
// that fits with a margin.
void forEachStatusSquare(StatusPicture picture, int width, int height,
                         const std::function<void(int left, int top, int size)>& square);

} // namespace tessell
