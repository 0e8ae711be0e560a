#include "ui/qt/preview_window.h"

#include "common/clock.h"

#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <chrono>

namespace tessell::ui {

namespace {
// About 30 pictures a second.
constexpr auto kFramePeriod = std::chrono::milliseconds(33);
} // namespace

void VideoPicture::setImage(QImage image) {
    image_ = std::move(image);
    update();
}

void VideoPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (image_.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), image_);
}

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle("Preview");
    frame_ = new QFrame(this);
    frame_->setAutoFillBackground(true);
    QPalette black = frame_->palette();
    black.setColor(QPalette::Window, Qt::black);
    frame_->setPalette(black);
    video_ = new VideoPicture(frame_);
    video_->hide();
    connect(&pump_, &QTimer::timeout, this, [this] {
        if (engine_)
            engine_->pumpFrame();
    });
    // A fast simulated station shortens the period in tool time, but no
    // screen shows more pictures than this: painting faster only burns CPU.
    pump_.start(static_cast<int>(
        std::max(clock().realInterval(kFramePeriod), std::chrono::milliseconds(kFramePeriod))
            .count()));
}

void PreviewWidget::setWindowGeometry(const preview::Rect& rect) {
    setGeometry(rect.x, rect.y, rect.width, rect.height);
}

void PreviewWidget::showWindow(bool visible) {
    setVisible(visible);
}

void PreviewWidget::repaintWindow() {
    update();
}

void PreviewWidget::placeFrame(const preview::Rect& rect) {
    frame_->setGeometry(rect.x, rect.y, rect.width, rect.height);
}

void PreviewWidget::attachVideo(bool attached) {
    videoAttached_ = attached;
    if (!attached)
        video_->hide();
}

void PreviewWidget::setVideoGeometry(const preview::Rect& rect) {
    video_->setGeometry(rect.x, rect.y, rect.width, rect.height);
}

void PreviewWidget::setVideoVisible(bool visible) {
    video_->setVisible(visible && videoAttached_);
}

void PreviewWidget::presentFrame(const preview::Frame& frame) {
    if (frame.width <= 0 || frame.height <= 0 ||
        frame.pixels.size() !=
            static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height))
        return;
    // Frame pixels are 0xAARRGGBB words, as QImage::Format_ARGB32 keeps them.
    QImage image(frame.width, frame.height, QImage::Format_ARGB32);
    for (int row = 0; row < frame.height; ++row)
        std::copy_n(frame.pixels.data() +
                        static_cast<std::size_t>(row) * static_cast<std::size_t>(frame.width),
                    frame.width, reinterpret_cast<std::uint32_t*>(image.scanLine(row)));
    video_->setImage(std::move(image));
}

void PreviewWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (engine_)
        engine_->onSizing(width(), height());
}

} // namespace tessell::ui
