#pragma once

// The status box: one picture filling the box, as app/status_picture.h
// describes it.

#include "app/status_picture.h"

#include <QColor>
#include <QFrame>

namespace tessell::ui {

struct StatusColours {
    QColor background;
    QColor text;
};

StatusColours statusColours(StatusPicture picture);

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
