#pragma once

// The preview window (`PreviewDlg`'s window): a resizable top-level window
// captioned "Preview" holding a black frame, and inside the frame the video
// picture. The engine decides where everything goes; this class only shows
// it, and pulls pictures from a running stream on its own timer.

#include "preview/preview_dlg.h"

#include <QFrame>
#include <QImage>
#include <QTimer>
#include <QWidget>

namespace tessell::ui {

class VideoPicture final : public QWidget {
    Q_OBJECT
public:
    explicit VideoPicture(QWidget* parent) : QWidget(parent) {}
    void setImage(QImage image);
    const QImage& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

class PreviewWidget final : public QWidget, public preview::PreviewWindow {
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget* parent = nullptr);

    // The engine that is told of resizes and asked for pictures.
    void attach(preview::PreviewDlg* engine) { engine_ = engine; }

    // PreviewWindow
    void setWindowGeometry(const preview::Rect& rect) override;
    void showWindow(bool visible) override;
    void repaintWindow() override;
    void placeFrame(const preview::Rect& rect) override;
    void attachVideo(bool attached) override;
    void setVideoGeometry(const preview::Rect& rect) override;
    void setVideoVisible(bool visible) override;
    void presentFrame(const preview::Frame& frame) override;

    QFrame& frame() { return *frame_; }
    VideoPicture& video() { return *video_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    preview::PreviewDlg* engine_ = nullptr;
    QFrame* frame_ = nullptr;
    VideoPicture* video_ = nullptr;
    bool videoAttached_ = false;
    QTimer pump_;
};

} // namespace tessell::ui
