// The Qt preview window driven by the preview engine, with the test pictures
// of a simulated station.

#include "platform/sim/sim_frame_source.h"
#include "preview/preview_dlg.h"
#include "tests/qt/qt_app.h"
#include "tests/support/sim_rig.h"
#include "ui/qt/preview_window.h"

#include <gtest/gtest.h>

namespace tessell::testing {
namespace {

TEST(PreviewWindow, ShowsTheRunningPictureAndKeepsTheFrameInside) {
    qtApplication();
    SimRig rig(nlohmann::json::array({{{"friendly_name", "Line camera"}, {"chip_id", "0xC0"}}}));
    ASSERT_TRUE(rig);
    preview::SimFrameSources sources(rig.platform());
    ui::PreviewWidget window;
    preview::PreviewDlg engine(sources, window);
    window.attach(&engine);
    EXPECT_EQ(window.windowTitle(), "Preview");
    EXPECT_FALSE(window.isVisible()) << "hidden until a preview starts";

    ASSERT_TRUE(engine.StartPreview(0));
    processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.size(), QSize(1280, 720));
    EXPECT_EQ(window.frame().geometry(), QRect(1, 1, 1279, 719));
    EXPECT_EQ(window.video().geometry(), QRect(0, 0, 1280, 720));
    EXPECT_TRUE(window.video().isVisible());

    // The operator drags the border: the frame follows, one pixel inside.
    window.resize(400, 300);
    processEvents();
    EXPECT_EQ(window.frame().geometry(), QRect(1, 1, 399, 299));

    // A picture reaches the video widget with its pixels.
    ASSERT_TRUE(engine.pumpFrame());
    const QImage& image = window.video().image();
    preview::Frame expected;
    preview::paintTestPicture(expected, {"Line camera", 0}, 0);
    ASSERT_EQ(image.size(), QSize(expected.width, expected.height));
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {639, 0}, {100, 300}})
        EXPECT_EQ(image.pixel(x, y), expected.at(x, y)) << x << "," << y;

    // Stopped, the window shrinks to the corner and the frame stays inside.
    ASSERT_TRUE(engine.StopPreview());
    processEvents();
    EXPECT_EQ(window.size(), QSize(100, 100));
    EXPECT_EQ(window.frame().geometry(), QRect(1, 1, 99, 99));

    // Parked off screen, the picture keeps its size.
    engine.moveVideoWindow(preview::kOffScreen, preview::kOffScreen);
    EXPECT_EQ(window.video().geometry(), QRect(-500, -500, 1280, 720));
    window.attach(nullptr);
}

} // namespace
} // namespace tessell::testing
