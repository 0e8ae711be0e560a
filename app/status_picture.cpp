#include "app/status_picture.h"

#include "preview/bitmap_font.h"

#include <algorithm>
#include <cstring>

namespace tessell {

StatusLook statusLook(StatusPicture picture) {
    switch (picture) {
    case StatusPicture::Fail:
        return {{220, 0, 0}, {255, 255, 255}};
    case StatusPicture::Running:
        return {{255, 230, 0}, {0, 0, 0}};
    case StatusPicture::Success:
        return {{0, 170, 0}, {255, 255, 255}};
    case StatusPicture::CountDown1:
    case StatusPicture::CountDown2:
    case StatusPicture::CountDown3:
        return {{255, 230, 0}, {220, 0, 0}};
    case StatusPicture::Blank:
        break;
    }
    return {{192, 192, 192}, {192, 192, 192}};
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

void forEachStatusSquare(StatusPicture picture, int width, int height,
                         const std::function<void(int left, int top, int size)>& square) {
    const char* word = statusWord(picture);
    const int glyphs = static_cast<int>(std::strlen(word));
    if (glyphs == 0 || width <= 0 || height <= 0)
        return;
    const int scale = std::max(1, std::min((width - 8) / (glyphs * preview::kGlyphAdvance),
                                           (height - 8) / preview::kGlyphHeight));
    const int textWidth = (glyphs * preview::kGlyphAdvance - 1) * scale;
    const int left = (width - textWidth) / 2;
    const int top = (height - preview::kGlyphHeight * scale) / 2;
    for (int index = 0; index < glyphs; ++index)
        for (int column = 0; column < preview::kGlyphWidth; ++column)
            for (int row = 0; row < preview::kGlyphHeight; ++row)
                if (preview::glyphPixel(word[index], column, row))
                    square(left + (index * preview::kGlyphAdvance + column) * scale,
                           top + row * scale, scale);
}

} // namespace tessell
