#include "preview/preview_dlg.h"

#include "preview/bitmap_font.h"

#include <algorithm>

namespace tessell::preview {

namespace {

constexpr int kNoticeWidth = 640;
constexpr int kNoticeHeight = 360;
constexpr int kNoticeMargin = 16;
constexpr int kNoticeScale = 2;
constexpr std::uint32_t kNoticeBackground = 0xFF000000;
constexpr std::uint32_t kNoticeText = 0xFFFFFFFF;

// `text` cut into lines of at most `width` characters, at spaces where it can.
std::vector<std::string> wrapped(const std::string& text, std::size_t width) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = std::min(text.size(), begin + width);
        if (end < text.size()) {
            const std::size_t space = text.rfind(' ', end);
            if (space != std::string::npos && space > begin)
                end = space;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end;
        while (begin < text.size() && text[begin] == ' ')
            ++begin;
    }
    return lines;
}

// What the preview shows once its stream has ended.
Frame endNotice(const std::optional<std::string>& camera, const std::string& problem) {
    Frame notice;
    notice.resize(kNoticeWidth, kNoticeHeight, kNoticeBackground);
    const auto columns = static_cast<std::size_t>((kNoticeWidth - 2 * kNoticeMargin) /
                                                  (kGlyphAdvance * kNoticeScale));
    const int lineHeight = (kGlyphHeight + 3) * kNoticeScale;
    std::vector<std::string> lines =
        wrapped("No picture from " + camera.value_or("the camera"), columns);
    for (auto& line : wrapped(problem.empty() ? "the stream ended" : problem, columns))
        lines.push_back(std::move(line));
    int y = kNoticeMargin;
    for (const auto& line : lines) {
        drawText(notice, kNoticeMargin, y, line, kNoticeText, kNoticeScale);
        y += lineHeight;
    }
    return notice;
}

} // namespace

PreviewDlg::PreviewDlg(FrameSources& sources, PreviewWindow& window)
    : sources_(sources), window_(window) {}

PreviewDlg::~PreviewDlg() {
    if (previewRunning_)
        StopPreview();
    if (previewBuilt_)
        releasePreviewWindow();
    releasePreviewGraph();
}

bool PreviewDlg::StartPreview(int position) {
    enumerateVideoDevices();
    lastStartFoundDevice_ = false;
    if (position < 0 || static_cast<std::size_t>(position) >= videoDevices_.size() ||
        !videoDevices_[static_cast<std::size_t>(position)])
        return false;
    current_ = static_cast<std::size_t>(position);
    lastStartFoundDevice_ = true;

    if (previewRunning_)
        StopPreview();
    if (previewBuilt_)
        releasePreviewWindow();
    releasePreviewGraph();

    // A failing step leaves the later ones without effect: each tests what
    // the one before it should have made.
    buildPreviewGraph();
    renderPreview();
    if (!previewRunning_)
        runPreview();
    return previewRunning_;
}

bool PreviewDlg::StopPreview() {
    const bool stopped = !graph_ || graph_->stop();
    window_.setWindowGeometry(kStoppedWindow);
    window_.repaintWindow();
    fitFrame(kStoppedWindow);
    if (!stopped)
        return false;
    previewRunning_ = false;
    return true;
}

void PreviewDlg::enumerateVideoDevices() {
    videoDevices_ = sources_.enumerate();
}

bool PreviewDlg::buildPreviewGraph() {
    if (graph_)
        return true;
    if (current_ && *current_ < videoDevices_.size()) {
        friendlyName_ = videoDevices_[*current_];
        graph_ = sources_.open(*current_);
    }
    if (graph_)
        return true;
    releasePreviewGraph();
    return false;
}

bool PreviewDlg::renderPreview() {
    if (!graph_) {
        previewBuilt_ = false;
        return false;
    }
    window_.attachVideo(true);
    videoWindowExists_ = true;
    window_.showWindow(true);
    window_.setWindowGeometry(kRunningWindow);
    fitFrame(kRunningWindow);
    video_ = {0, 0, kRunningWindow.width, kRunningWindow.height};
    window_.setVideoGeometry(video_);
    window_.setVideoVisible(true);
    previewBuilt_ = true;
    return true;
}

bool PreviewDlg::runPreview() {
    if (!previewBuilt_ || !graph_)
        return false;
    if (!graph_->start()) {
        graph_->stop();
        return false;
    }
    previewRunning_ = true;
    showingEnd_ = false;
    return true;
}

void PreviewDlg::releasePreviewWindow() {
    if (videoWindowExists_) {
        window_.attachVideo(false);
        window_.setVideoVisible(false);
        videoWindowExists_ = false;
    }
    previewBuilt_ = false;
}

void PreviewDlg::releasePreviewGraph() {
    graph_.reset();
}

std::optional<Rect> PreviewDlg::videoWindow() const {
    if (!videoWindowExists_)
        return std::nullopt;
    return video_;
}

void PreviewDlg::moveVideoWindow(int x, int y) {
    if (!videoWindowExists_)
        return;
    video_.x = x;
    video_.y = y;
    window_.setVideoGeometry(video_);
}

void PreviewDlg::setVideoVisible(bool visible) {
    if (videoWindowExists_)
        window_.setVideoVisible(visible);
}

void PreviewDlg::onSizing(int width, int height) {
    fitFrame({0, 0, width, height});
}

void PreviewDlg::fitFrame(const Rect& window) {
    window_.placeFrame({1, 1, window.width - 1, window.height - 1});
}

bool PreviewDlg::pumpFrame() {
    if (!previewRunning_ || !graph_)
        return false;
    switch (graph_->poll(frame_)) {
    case FrameRead::Picture:
        showingEnd_ = false;
        window_.presentFrame(frame_);
        return true;
    case FrameRead::NotYet:
        return false;
    case FrameRead::Ended:
        if (!showingEnd_) {
            showingEnd_ = true;
            window_.presentFrame(endNotice(friendlyName_, graph_->problem()));
        }
        return false;
    }
    return false;
}

} // namespace tessell::preview
