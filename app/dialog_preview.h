#pragma once

// The single-camera dialog's preview: the preview engine started for the
// camera selected in the dialog's list, with the dialog's "Preview:" label
// shown whenever a start found a device there.

#include "app/dialog_view.h"
#include "app/preview_control.h"
#include "preview/preview_dlg.h"

#include <functional>

namespace tessell {

class DialogPreview final : public PreviewControl {
public:
    // `showWindow` shows or hides the whole preview window (the Preview box).
    DialogPreview(preview::PreviewDlg& engine, preview::FrameSources& sources, DialogView& view,
                  std::function<void(bool)> showWindow);

    bool available() const override { return sources_.supported(); }
    bool running() const override { return engine_.previewRunning(); }
    bool start() override;
    void stop() override;
    void moveOffScreen() override;
    void setVisible(bool visible) override;

private:
    preview::PreviewDlg& engine_;
    preview::FrameSources& sources_;
    DialogView& view_;
    std::function<void(bool)> showWindow_;
};

} // namespace tessell
