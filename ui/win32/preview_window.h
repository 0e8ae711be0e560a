#pragma once

// The preview window (`PreviewDlg`'s window) in Win32: a top-level window
// captioned "Preview" holding a black frame, and inside the frame the video
// picture, drawn from the stream's pictures with GDI. The engine decides
// where everything goes; this class only shows it, and pulls pictures from
// a running stream on its own timer.

#include "preview/preview_dlg.h"

#include <cstdint>
#include <vector>
#include <windows.h>

namespace tessell::win32 {

class PreviewWindow final : public preview::PreviewWindow {
public:
    PreviewWindow();
    ~PreviewWindow() override;
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    HWND handle() const { return window_; }
    HWND video() const { return video_; }
    // The engine that is told of resizes and asked for pictures.
    void attach(preview::PreviewDlg* engine) { engine_ = engine; }

    // preview::PreviewWindow
    void setWindowGeometry(const preview::Rect& rect) override;
    void showWindow(bool visible) override;
    void repaintWindow() override;
    void placeFrame(const preview::Rect& rect) override;
    void attachVideo(bool attached) override;
    void setVideoGeometry(const preview::Rect& rect) override;
    void setVideoVisible(bool visible) override;
    void presentFrame(const preview::Frame& frame) override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK videoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void paintVideo(HDC dc) const;

    HWND window_ = nullptr;
    HWND frame_ = nullptr;
    HWND video_ = nullptr;
    preview::PreviewDlg* engine_ = nullptr;
    bool videoAttached_ = false;
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint32_t> pixels_; // 0x00RRGGBB, top row first
};

} // namespace tessell::win32
