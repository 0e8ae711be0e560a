#include "ui/qt/status_box.h"

#include "preview/bitmap_font.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

namespace tessell::ui {

StatusColours statusColours(StatusPicture picture) {
    switch (picture) {
    case StatusPicture::Fail:
        return {QColor(220, 0, 0), QColor(255, 255, 255)};
    case StatusPicture::Running:
        return {QColor(255, 230, 0), QColor(0, 0, 0)};
    case StatusPicture::Success:
        return {QColor(0, 170, 0), QColor(255, 255, 255)};
    case StatusPicture::CountDown1:
    case StatusPicture::CountDown2:
    case StatusPicture::CountDown3:
        return {QColor(255, 230, 0), QColor(220, 0, 0)};
    case StatusPicture::Blank:
        break;
    }
    return {QColor(192, 192, 192), QColor(192, 192, 192)};
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

StatusBox::StatusBox(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setMinimumSize(120, 48);
}

void StatusBox::setPicture(StatusPicture picture) {
    picture_ = picture;
    update();
}

void StatusBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const StatusColours colours = statusColours(picture_);
    painter.fillRect(rect(), colours.background);

    const char* word = statusWord(picture_);
    const int glyphs = static_cast<int>(std::strlen(word));
    if (glyphs > 0) {
        // The largest whole scale that fits, with a margin.
        const int scale = std::max(1, std::min((width() - 8) / (glyphs * preview::kGlyphAdvance),
                                               (height() - 8) / preview::kGlyphHeight));
        const int textWidth = (glyphs * preview::kGlyphAdvance - 1) * scale;
        const int left = (width() - textWidth) / 2;
        const int top = (height() - preview::kGlyphHeight * scale) / 2;
        for (int index = 0; index < glyphs; ++index)
            for (int column = 0; column < preview::kGlyphWidth; ++column)
                for (int row = 0; row < preview::kGlyphHeight; ++row)
                    if (preview::glyphPixel(word[index], column, row))
                        painter.fillRect(left + (index * preview::kGlyphAdvance + column) * scale,
                                         top + row * scale, scale, scale, colours.text);
    }
    drawFrame(&painter);
}

} // namespace tessell::ui
