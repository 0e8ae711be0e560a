#include "ui/qt/status_box.h"

#include <QPainter>

namespace tessell::ui {

StatusColours statusColours(StatusPicture picture) {
    const StatusLook look = statusLook(picture);
    const auto colour = [](StatusRgb rgb) { return QColor(rgb.red, rgb.green, rgb.blue); };
    return {colour(look.background), colour(look.text)};
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

    forEachStatusSquare(picture_, width(), height(), [&](int left, int top, int size) {
        painter.fillRect(left, top, size, size, colours.text);
    });
    drawFrame(&painter);
}

} // namespace tessell::ui
