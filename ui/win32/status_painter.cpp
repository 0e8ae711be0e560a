#include "ui/win32/status_painter.h"

namespace tessell::win32 {

StatusColours statusColours(StatusPicture picture) {
    const StatusLook look = statusLook(picture);
    const auto colour = [](StatusRgb rgb) { return RGB(rgb.red, rgb.green, rgb.blue); };
    return {colour(look.background), colour(look.text)};
}

namespace {

void fill(HDC dc, int left, int top, int width, int height, HBRUSH brush) {
    const RECT square{left, top, left + width, top + height};
    FillRect(dc, &square, brush);
}

} // namespace

void paintStatusPicture(HDC dc, const RECT& area, StatusPicture picture) {
    const StatusColours colours = statusColours(picture);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return;

    HBRUSH background = CreateSolidBrush(colours.background);
    FillRect(dc, &area, background);
    DeleteObject(background);

    HBRUSH ink = CreateSolidBrush(colours.text);
    forEachStatusSquare(picture, width, height, [&](int left, int top, int size) {
        fill(dc, area.left + left, area.top + top, size, size, ink);
    });
    DeleteObject(ink);
    FrameRect(dc, &area, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
}

} // namespace tessell::win32
