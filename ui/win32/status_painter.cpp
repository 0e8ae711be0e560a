#include "ui/win32/status_painter.h"

#include "preview/bitmap_font.h"

#include <algorithm>
#include <cstring>

namespace tessell::win32 {

StatusColours statusColours(StatusPicture picture) {
    switch (picture) {
    case StatusPicture::Fail:
        return {RGB(220, 0, 0), RGB(255, 255, 255)};
    case StatusPicture::Running:
        return {RGB(255, 230, 0), RGB(0, 0, 0)};
    case StatusPicture::Success:
        return {RGB(0, 170, 0), RGB(255, 255, 255)};
    case StatusPicture::CountDown1:
    case StatusPicture::CountDown2:
    case StatusPicture::CountDown3:
        return {RGB(255, 230, 0), RGB(220, 0, 0)};
    case StatusPicture::Blank:
        break;
    }
    return {RGB(192, 192, 192), RGB(192, 192, 192)};
}

const char* statusWord(StatusPicture picture) {
    switch (picture) {
    case StatusPicture::Fail:
        return "Fail";
    case StatusPicture::Running:
        return "Running";
    case StatusPicture::Success:
        return "Success";
    case StatusPicture::CountDown1:
        return "1";
    case StatusPicture::CountDown2:
        return "2";
    case StatusPicture::CountDown3:
        return "3";
    case StatusPicture::Blank:
        break;
    }
    return "";
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

    const char* word = statusWord(picture);
    const int glyphs = static_cast<int>(std::strlen(word));
    if (glyphs > 0) {
        // The largest whole scale that fits, with a margin.
        const int scale = std::max(1, std::min((width - 8) / (glyphs * preview::kGlyphAdvance),
                                               (height - 8) / preview::kGlyphHeight));
        const int textWidth = (glyphs * preview::kGlyphAdvance - 1) * scale;
        const int left = area.left + (width - textWidth) / 2;
        const int top = area.top + (height - preview::kGlyphHeight * scale) / 2;
        HBRUSH ink = CreateSolidBrush(colours.text);
        for (int index = 0; index < glyphs; ++index)
            for (int column = 0; column < preview::kGlyphWidth; ++column)
                for (int row = 0; row < preview::kGlyphHeight; ++row)
                    if (preview::glyphPixel(word[index], column, row))
                        fill(dc, left + (index * preview::kGlyphAdvance + column) * scale,
                             top + row * scale, scale, scale, ink);
        DeleteObject(ink);
    }
    FrameRect(dc, &area, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
}

} // namespace tessell::win32
