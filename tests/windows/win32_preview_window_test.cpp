// The Win32 preview window driven by the preview engine, with the test
// pictures of a simulated station. Needs a display (under Wine: xvfb-run).

// Windows only; the Linux test program globs this folder too.
#ifdef _WIN32

#include "platform/sim/sim_frame_source.h"
#include "preview/preview_dlg.h"
#include "tests/support/sim_rig.h"
#include "ui/win32/preview_window.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <utility>
#include <vector>
#include <windows.h>

namespace tessell::testing {
namespace {

RECT placeIn(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(Win32PreviewWindow, ShowsTheRunningPictureAndKeepsTheFrameInside) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        GTEST_SKIP() << "top-level windows need a display (DISPLAY is not set)";
    SimRig rig(nlohmann::json::array({{{"friendly_name", "Line camera"}, {"chip_id", "0xC0"}}}));
    ASSERT_TRUE(rig);
    preview::SimFrameSources sources(rig.platform());
    win32::PreviewWindow window;
    ASSERT_NE(window.handle(), nullptr);
    preview::PreviewDlg engine(sources, window);
    window.attach(&engine);
    EXPECT_FALSE(IsWindowVisible(window.handle())) << "hidden until a preview starts";

    ASSERT_TRUE(engine.StartPreview(0));
    EXPECT_TRUE(IsWindowVisible(window.handle()));
    RECT client{};
    GetClientRect(window.handle(), &client);
    EXPECT_EQ(client.right, 1280);
    EXPECT_EQ(client.bottom, 720);
    HWND frame = GetParent(window.video());
    EXPECT_TRUE(placeIn(frame) == (RECT{1, 1, 1280, 720}));
    EXPECT_TRUE(placeIn(window.video()) == (RECT{0, 0, 1280, 720}));
    EXPECT_TRUE(IsWindowVisible(window.video()));

    // The operator drags the border: the frame follows, one pixel inside.
    RECT outer{0, 0, 400, 300};
    AdjustWindowRectEx(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0);
    SetWindowPos(window.handle(), nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_TRUE(placeIn(frame) == (RECT{1, 1, 400, 300}));

    // A picture reaches the video window with its pixels, as painted.
    ASSERT_TRUE(engine.pumpFrame());
    preview::Frame expected;
    preview::paintTestPicture(expected, {"Line camera", 0}, 0);
    window.setVideoGeometry({0, 0, expected.width, expected.height});
    HDC screen = GetDC(window.video());
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, expected.width, expected.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    SendMessageW(window.video(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {639, 0}, {100, 300}}) {
        const std::uint32_t pixel = expected.at(x, y);
        EXPECT_EQ(GetPixel(memory, x, y),
                  RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF))
            << x << "," << y;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window.video(), screen);

    // Stopped, the window shrinks to the corner and the frame stays inside.
    ASSERT_TRUE(engine.StopPreview());
    GetClientRect(window.handle(), &client);
    EXPECT_EQ(client.right, 100);
    EXPECT_EQ(client.bottom, 100);
    EXPECT_TRUE(placeIn(frame) == (RECT{1, 1, 100, 100}));
    window.attach(nullptr);
}

} // namespace
} // namespace tessell::testing

#endif // _WIN32
