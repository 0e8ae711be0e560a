#pragma once

// The status box: one picture filling the box. The words and digits are
// drawn with the tool's own bitmap font, so the pictures look the same on
// every machine, fonts installed or not.

#include "app/dialog_view.h"

#include <QColor>
#include <QFrame>

namespace tessell::ui {

struct StatusColours {
    QColor background;
    QColor text;
};

StatusColours statusColours(StatusPicture picture);
// The word or digit a picture carries; empty for the blank one.
const char* statusWord(StatusPicture picture);

class StatusBox final : public QFrame {
    Q_OBJECT
public:
    explicit StatusBox(QWidget* parent = nullptr);

    void setPicture(StatusPicture picture);
    StatusPicture picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    StatusPicture picture_ = StatusPicture::Blank;
};

} // namespace tessell::ui
