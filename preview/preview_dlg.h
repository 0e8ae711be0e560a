#pragma once

// `PreviewDlg`: the live picture of the selected camera in its own top-level
// window. The engine finds the video-input device at a camera position,
// opens its stream ("builds the graph"), attaches the picture to the window
// ("renders") and runs it; stopping shrinks the window to a small square at
// the top-left corner. What is drawn goes through PreviewWindow, so the same
// logic serves the Qt window and the tests.

#include "platform/frame_source.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessell::preview {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

inline constexpr Rect kRunningWindow{0, 0, 1280, 720};
inline constexpr Rect kStoppedWindow{0, 0, 100, 100};
// Where callers park the picture while the dialog shows a download instead.
inline constexpr int kOffScreen = -500;

// The preview window as the engine drives it: the window itself, the black
// frame inside it and the video picture (a child of the frame).
class PreviewWindow {
public:
    virtual ~PreviewWindow() = default;
    virtual void setWindowGeometry(const Rect& rect) = 0;
    virtual void showWindow(bool visible) = 0;
    virtual void repaintWindow() = 0;
    virtual void placeFrame(const Rect& rect) = 0;

    // Whether the picture belongs to the frame (is drawn inside it).
    virtual void attachVideo(bool attached) = 0;
    virtual void setVideoGeometry(const Rect& rect) = 0;
    virtual void setVideoVisible(bool visible) = 0;
    virtual void presentFrame(const Frame& frame) = 0;
};

class PreviewDlg {
public:
    PreviewDlg(FrameSources& sources, PreviewWindow& window);
    ~PreviewDlg();
    PreviewDlg(const PreviewDlg&) = delete;
    PreviewDlg& operator=(const PreviewDlg&) = delete;

    // Shows the picture of the camera at `position`. Nothing happens when no
    // named device sits there; true when the picture is running afterwards.
    bool StartPreview(int position);
    // Stops the stream and shrinks the window; false when the stream could
    // not be stopped (it then still counts as running).
    bool StopPreview();

    bool previewRunning() const { return previewRunning_; }
    bool previewBuilt() const { return previewBuilt_; }
    // Whether the last StartPreview found a named device at its position.
    bool lastStartFoundDevice() const { return lastStartFoundDevice_; }
    // The device being previewed (its friendly name), none before the first start.
    const std::optional<std::string>& friendlyName() const { return friendlyName_; }

    // The video picture's place inside the frame, none while not built.
    std::optional<Rect> videoWindow() const;
    // Moves the picture keeping its size (callers park it off screen).
    void moveVideoWindow(int x, int y);
    void setVideoVisible(bool visible);

    // The window was resized by the operator: the frame stays one pixel
    // inside its edge.
    void onSizing(int width, int height);

    // Hands the next picture of a running stream to the window; false when
    // there was none. The window's own timer calls this. When the stream
    // ends (the camera left, or stopped sending), the window shows once why,
    // instead of the last picture standing as if the camera were live.
    bool pumpFrame();

private:
    void enumerateVideoDevices();
    bool buildPreviewGraph();
    bool renderPreview();
    bool runPreview();
    void releasePreviewWindow();
    void releasePreviewGraph();
    void fitFrame(const Rect& window);

    FrameSources& sources_;
    PreviewWindow& window_;
    std::vector<std::optional<std::string>> videoDevices_;
    std::optional<std::size_t> current_;
    std::optional<std::string> friendlyName_;
    std::unique_ptr<FrameSource> graph_;
    bool videoWindowExists_ = false;
    Rect video_{};
    bool previewBuilt_ = false;
    bool previewRunning_ = false;
    bool lastStartFoundDevice_ = false;
    Frame frame_;
    bool showingEnd_ = false;
};

} // namespace tessell::preview
