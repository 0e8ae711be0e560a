#pragma once

// What the single-camera dialog asks of the live preview: whether it runs,
// starting and stopping it, and moving its picture out of sight while a
// download shows its progress in the same place.

#include <string_view>

namespace tessell {

class PreviewControl {
public:
    virtual ~PreviewControl() = default;
    virtual bool available() const = 0;
    virtual bool running() const = 0;
    // Starts the picture of the selected camera; false when it cannot.
    virtual bool start() = 0;
    virtual void stop() = 0;
    // Moves the video window off screen (keeping its size) before a stop.
    virtual void moveOffScreen() = 0;
    virtual void setVisible(bool visible) = 0;
};

// STUB: this build has no frame source, so there is never a picture. Every
// request is answered "not available"; the dialog logs kPreviewUnavailable
// when the operator asks for a preview. Replace with the real preview once
// the preview subsystem exists.
class UnavailablePreview final : public PreviewControl {
public:
    bool available() const override { return false; }
    bool running() const override { return false; }
    bool start() override { return false; }
    void stop() override {}
    void moveOffScreen() override {}
    void setVisible(bool) override {}
};

inline constexpr std::string_view kPreviewUnavailable =
    "Preview is not available in this build.\r\n";

} // namespace tessell
