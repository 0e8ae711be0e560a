#pragma once

// The status box's pictures drawn with GDI: one colour filling the box and
// the picture's word or digit in the tool's own bitmap font, so they look
// the same on every machine, fonts installed or not (the Qt window paints
// the same pictures).

#include "app/status_picture.h"

#include <windows.h>

namespace tessell::win32 {

struct StatusColours {
    COLORREF background;
    COLORREF text;
};

StatusColours statusColours(StatusPicture picture);

// Paints `picture` over `area` of `dc`, frame included.
void paintStatusPicture(HDC dc, const RECT& area, StatusPicture picture);

} // namespace tessell::win32
