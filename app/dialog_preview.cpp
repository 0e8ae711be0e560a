#include "app/dialog_preview.h"

namespace tessell {

DialogPreview::DialogPreview(preview::PreviewDlg& engine, preview::FrameSources& sources,
                             DialogView& view, std::function<void(bool)> showWindow)
    : engine_(engine), sources_(sources), view_(view), showWindow_(std::move(showWindow)) {}

bool DialogPreview::start() {
    const int position = view_.selectedCamera();
    if (position < 0)
        return false;
    const bool started = engine_.StartPreview(position);
    // The label goes with a device that was found, even when its picture
    // could not be run; with no device at the position nothing changed.
    if (engine_.lastStartFoundDevice())
        view_.setVisible(Control::PreviewLabel, true);
    return started;
}

void DialogPreview::stop() {
    if (engine_.previewRunning())
        engine_.StopPreview();
}

void DialogPreview::moveOffScreen() {
    engine_.moveVideoWindow(preview::kOffScreen, preview::kOffScreen);
}

void DialogPreview::setVisible(bool visible) {
    if (showWindow_)
        showWindow_(visible);
}

} // namespace tessell
