#include "ui/win32/preview_window.h"

#include "common/clock.h"

#include <algorithm>
#include <chrono>

namespace tessell::win32 {

namespace {

constexpr const wchar_t* kWindowClass = L"TessellPreview";
constexpr const wchar_t* kFrameClass = L"TessellPreviewFrame";
constexpr const wchar_t* kVideoClass = L"TessellPreviewVideo";
constexpr UINT_PTR kPumpTimer = 1;
// About 30 pictures a second.
constexpr auto kFramePeriod = std::chrono::milliseconds(33);

void registerPreviewClass(const wchar_t* name, WNDPROC procedure, HBRUSH background) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    // A second registration fails with "class exists", which is fine.
    RegisterClassExW(&windowClass);
}

void place(HWND window, const preview::Rect& rect) {
    SetWindowPos(window, nullptr, rect.x, rect.y, rect.width, rect.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

PreviewWindow::PreviewWindow() {
    registerPreviewClass(kWindowClass, &PreviewWindow::windowProc,
                         reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    registerPreviewClass(kFrameClass, &DefWindowProcW,
                         static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    registerPreviewClass(kVideoClass, &PreviewWindow::videoProc,
                         static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    const HINSTANCE module = GetModuleHandleW(nullptr);
    window_ = CreateWindowExW(0, kWindowClass, L"Preview", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 320, 240, nullptr, nullptr, module, this);
    if (!window_)
        return;
    frame_ = CreateWindowExW(0, kFrameClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0,
                             0, window_, nullptr, module, nullptr);
    video_ =
        CreateWindowExW(0, kVideoClass, L"", WS_CHILD, 0, 0, 0, 0, frame_, nullptr, module, this);
    // A fast simulated station shortens the period in tool time, but no
    // screen shows more pictures than this: painting faster only burns CPU.
    const auto period =
        std::max(clock().realInterval(kFramePeriod), std::chrono::milliseconds(kFramePeriod));
    SetTimer(window_, kPumpTimer, static_cast<UINT>(period.count()), nullptr);
}

PreviewWindow::~PreviewWindow() {
    if (!window_)
        return;
    KillTimer(window_, kPumpTimer);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    if (video_)
        SetWindowLongPtrW(video_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
}

LRESULT CALLBACK PreviewWindow::windowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<PreviewWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self) {
        switch (message) {
        case WM_TIMER:
            if (wParam == kPumpTimer && self->engine_)
                self->engine_->pumpFrame();
            return 0;
        case WM_SIZE:
            if (self->engine_)
                self->engine_->onSizing(LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_GETMINMAXINFO: {
            // The stopped preview is a 100-pixel square, smaller than the
            // system's usual smallest window; the running one keeps the
            // picture's 1280 x 720 even on a smaller screen.
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize = POINT{1, 1};
            limits->ptMaxTrackSize = POINT{32767, 32767};
            return 0;
        }
        case WM_CLOSE:
            // Closing only hides it, as the Preview box does.
            ShowWindow(window, SW_HIDE);
            return 0;
        default:
            break;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK PreviewWindow::videoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<PreviewWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        self->paintVideo(dc);
        EndPaint(window, &paint);
        return 0;
    }
    if (self && message == WM_PRINTCLIENT) {
        self->paintVideo(reinterpret_cast<HDC>(wParam));
        return 0;
    }
    if (message == WM_ERASEBKGND)
        return 1; // the picture covers it all
    return DefWindowProcW(window, message, wParam, lParam);
}

void PreviewWindow::paintVideo(HDC dc) const {
    RECT client{};
    GetClientRect(video_, &client);
    if (pixels_.empty()) {
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        return;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, width_, height_, pixels_.data(),
                  &info, DIB_RGB_COLORS, SRCCOPY);
}

void PreviewWindow::setWindowGeometry(const preview::Rect& rect) {
    // The engine's geometry is the picture area; the window adds its frame.
    RECT outer{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
    AdjustWindowRectEx(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0);
    SetWindowPos(window_, nullptr, rect.x, rect.y, outer.right - outer.left,
                 outer.bottom - outer.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void PreviewWindow::showWindow(bool visible) {
    ShowWindow(window_, visible ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void PreviewWindow::repaintWindow() {
    InvalidateRect(window_, nullptr, TRUE);
}

void PreviewWindow::placeFrame(const preview::Rect& rect) {
    place(frame_, rect);
}

void PreviewWindow::attachVideo(bool attached) {
    videoAttached_ = attached;
    if (!attached)
        ShowWindow(video_, SW_HIDE);
}

void PreviewWindow::setVideoGeometry(const preview::Rect& rect) {
    place(video_, rect);
}

void PreviewWindow::setVideoVisible(bool visible) {
    ShowWindow(video_, visible && videoAttached_ ? SW_SHOWNOACTIVATE : SW_HIDE);
}

void PreviewWindow::presentFrame(const preview::Frame& frame) {
    if (frame.width <= 0 || frame.height <= 0 ||
        frame.pixels.size() !=
            static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height))
        return;
    // 0xAARRGGBB words are a 32-bit DIB's blue, green, red, unused bytes.
    width_ = frame.width;
    height_ = frame.height;
    pixels_ = frame.pixels;
    InvalidateRect(video_, nullptr, FALSE);
}

} // namespace tessell::win32
