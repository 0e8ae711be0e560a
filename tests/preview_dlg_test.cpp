// The preview engine over fake frame sources and a window that records what
// it is told.

#include "app/dialog_preview.h"
#include "preview/preview_dlg.h"
#include "tests/support/dialog_rig.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tessell::testing {
namespace {

using preview::Frame;
using preview::Rect;

struct SourceLog {
    int opened = 0;
    int started = 0;
    int stopped = 0;
    int destroyed = 0;
    std::vector<std::size_t> openedPositions;
    bool silent = false; // the stream has ended: read gives nothing
};

class FakeSource final : public preview::FrameSource {
public:
    FakeSource(SourceLog& log, std::uint32_t colour, bool startWorks, bool stopWorks)
        : log_(log), colour_(colour), startWorks_(startWorks), stopWorks_(stopWorks) {}
    ~FakeSource() override { ++log_.destroyed; }
    bool start() override {
        ++log_.started;
        running_ = startWorks_;
        return startWorks_;
    }
    bool stop() override {
        ++log_.stopped;
        if (stopWorks_)
            running_ = false;
        return stopWorks_;
    }
    bool read(Frame& frame) override {
        if (!running_ || log_.silent)
            return false;
        frame.resize(4, 2, colour_);
        return true;
    }
    std::string problem() const override {
        return log_.silent ? "no picture from the camera for 2 s" : "";
    }

private:
    SourceLog& log_;
    std::uint32_t colour_;
    bool startWorks_, stopWorks_;
    bool running_ = false;
};

class FakeSources final : public preview::FrameSources {
public:
    bool supported() const override { return true; }
    std::vector<std::optional<std::string>> enumerate() override { return names; }
    std::unique_ptr<preview::FrameSource> open(std::size_t position) override {
        ++log.opened;
        log.openedPositions.push_back(position);
        if (!opens)
            return nullptr;
        return std::make_unique<FakeSource>(log, 0xFF000000u + static_cast<std::uint32_t>(position),
                                            startWorks, stopWorks);
    }

    std::vector<std::optional<std::string>> names{"Cam A", std::nullopt, "Cam C"};
    bool opens = true, startWorks = true, stopWorks = true;
    SourceLog log;
};

class RecordingWindow final : public preview::PreviewWindow {
public:
    void setWindowGeometry(const Rect& rect) override { window = rect; }
    void showWindow(bool on) override { shown = on; }
    void repaintWindow() override { ++repaints; }
    void placeFrame(const Rect& rect) override { frame = rect; }
    void attachVideo(bool on) override { attached = on; }
    void setVideoGeometry(const Rect& rect) override { video = rect; }
    void setVideoVisible(bool on) override { videoVisible = on; }
    void presentFrame(const Frame& picture) override { frames.push_back(picture); }

    Rect window{}, frame{}, video{};
    bool shown = false, attached = false, videoVisible = false;
    int repaints = 0;
    std::vector<Frame> frames;
};

TEST(PreviewDlg, StartShowsTheFullWindowAndStopShrinksItToTheCorner) {
    FakeSources sources;
    RecordingWindow window;
    preview::PreviewDlg engine(sources, window);

    ASSERT_TRUE(engine.StartPreview(0));
    EXPECT_TRUE(engine.previewBuilt());
    EXPECT_TRUE(engine.previewRunning());
    EXPECT_EQ(window.window, (Rect{0, 0, 1280, 720}));
    EXPECT_EQ(window.frame, (Rect{1, 1, 1279, 719}));
    EXPECT_EQ(window.video, (Rect{0, 0, 1280, 720}));
    EXPECT_TRUE(window.shown);
    EXPECT_TRUE(window.attached);
    EXPECT_TRUE(window.videoVisible);
    EXPECT_EQ(engine.friendlyName(), "Cam A");

    ASSERT_TRUE(engine.StopPreview());
    EXPECT_FALSE(engine.previewRunning());
    EXPECT_TRUE(engine.previewBuilt()) << "the picture stays built after a stop";
    EXPECT_EQ(window.window, (Rect{0, 0, 100, 100}));
    EXPECT_EQ(window.frame, (Rect{1, 1, 99, 99}));
    EXPECT_GE(window.repaints, 1);

    // A new start enlarges the window again.
    ASSERT_TRUE(engine.StartPreview(2));
    EXPECT_EQ(window.window, (Rect{0, 0, 1280, 720}));
    EXPECT_EQ(engine.friendlyName(), "Cam C");
}

TEST(PreviewDlg, StartingTwiceStopsAndReleasesTheFirstStream) {
    FakeSources sources;
    RecordingWindow window;
    preview::PreviewDlg engine(sources, window);
    ASSERT_TRUE(engine.StartPreview(0));
    ASSERT_TRUE(engine.StartPreview(0));
    EXPECT_EQ(sources.log.opened, 2);
    EXPECT_EQ(sources.log.stopped, 1) << "the running stream was stopped first";
    EXPECT_EQ(sources.log.destroyed, 1) << "and released before the new one was opened";
    EXPECT_TRUE(engine.previewRunning());
}

TEST(PreviewDlg, APositionWithoutANamedDeviceChangesNothing) {
    FakeSources sources;
    RecordingWindow window;
    preview::PreviewDlg engine(sources, window);
    ASSERT_TRUE(engine.StartPreview(0));

    for (const int position : {1, 3, 17, -1}) {
        EXPECT_FALSE(engine.StartPreview(position)) << position;
        EXPECT_FALSE(engine.lastStartFoundDevice()) << position;
        EXPECT_TRUE(engine.previewRunning()) << "the running preview goes on, " << position;
    }
    EXPECT_EQ(sources.log.opened, 1);
    EXPECT_EQ(sources.log.stopped, 0);
}

TEST(PreviewDlg, FailuresLeaveTheLaterStepsWithoutEffect) {
    {
        // The device cannot be opened: nothing is built, no window appears.
        FakeSources sources;
        sources.opens = false;
        RecordingWindow window;
        preview::PreviewDlg engine(sources, window);
        EXPECT_FALSE(engine.StartPreview(0));
        EXPECT_TRUE(engine.lastStartFoundDevice());
        EXPECT_FALSE(engine.previewBuilt());
        EXPECT_FALSE(engine.previewRunning());
        EXPECT_FALSE(window.shown);
        EXPECT_FALSE(engine.videoWindow().has_value());
        EXPECT_FALSE(engine.pumpFrame());
    }
    {
        // The stream cannot run: it is stopped again and counts as not running.
        FakeSources sources;
        sources.startWorks = false;
        RecordingWindow window;
        preview::PreviewDlg engine(sources, window);
        EXPECT_FALSE(engine.StartPreview(0));
        EXPECT_TRUE(engine.previewBuilt());
        EXPECT_FALSE(engine.previewRunning());
        EXPECT_EQ(sources.log.stopped, 1);
    }
    {
        // A stream that refuses to stop still counts as running, but the
        // window shrinks anyway.
        FakeSources sources;
        sources.stopWorks = false;
        RecordingWindow window;
        preview::PreviewDlg engine(sources, window);
        ASSERT_TRUE(engine.StartPreview(0));
        EXPECT_FALSE(engine.StopPreview());
        EXPECT_TRUE(engine.previewRunning());
        EXPECT_EQ(window.window, (Rect{0, 0, 100, 100}));
    }
}

TEST(PreviewDlg, FrameFollowsResizesAndPicturesFlowOnlyWhileRunning) {
    FakeSources sources;
    RecordingWindow window;
    preview::PreviewDlg engine(sources, window);
    EXPECT_FALSE(engine.pumpFrame());

    ASSERT_TRUE(engine.StartPreview(2));
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{{640, 480}, {2, 2}}) {
        engine.onSizing(width, height);
        EXPECT_EQ(window.frame, (Rect{1, 1, width - 1, height - 1}));
    }
    // The picture keeps its own size when the window changes.
    EXPECT_EQ(window.video, (Rect{0, 0, 1280, 720}));

    EXPECT_TRUE(engine.pumpFrame());
    ASSERT_EQ(window.frames.size(), 1u);
    EXPECT_EQ(window.frames[0].at(3, 1), 0xFF000002u) << "the picture of position 2";

    engine.moveVideoWindow(preview::kOffScreen, preview::kOffScreen);
    EXPECT_EQ(engine.videoWindow(), (Rect{-500, -500, 1280, 720}));

    // A stream that ends says so once, instead of leaving its last picture
    // standing as if the camera were live; pictures that come again replace it.
    sources.log.silent = true;
    EXPECT_FALSE(engine.pumpFrame());
    EXPECT_FALSE(engine.pumpFrame());
    ASSERT_EQ(window.frames.size(), 2u);
    const Frame& notice = window.frames[1];
    EXPECT_GT(notice.width, 100);
    EXPECT_GT(std::count(notice.pixels.begin(), notice.pixels.end(), 0xFFFFFFFFu), 100)
        << "the notice carries text";
    sources.log.silent = false;
    EXPECT_TRUE(engine.pumpFrame());
    ASSERT_EQ(window.frames.size(), 3u);
    EXPECT_EQ(window.frames[2].width, 4);

    ASSERT_TRUE(engine.StopPreview());
    EXPECT_FALSE(engine.pumpFrame());
    EXPECT_EQ(window.frames.size(), 3u);
}

TEST(DialogPreview, StartsTheSelectedCameraAndShowsTheLabelWhenADeviceWasFound) {
    FakeSources sources;
    RecordingWindow window;
    preview::PreviewDlg engine(sources, window);
    RecordingView view;
    std::vector<bool> windowShown;
    DialogPreview control(engine, sources, view, [&](bool on) { windowShown.push_back(on); });
    EXPECT_TRUE(control.available());

    view.cameras = {"0:a", "1:b", "2:c"};
    EXPECT_FALSE(control.start()) << "nothing selected";
    EXPECT_EQ(sources.log.opened, 0);

    view.selection = 1; // no friendly name there
    EXPECT_FALSE(control.start());
    EXPECT_FALSE(view.visible.count(Control::PreviewLabel));

    view.selection = 2;
    EXPECT_TRUE(control.start());
    EXPECT_TRUE(control.running());
    EXPECT_EQ(sources.log.openedPositions, (std::vector<std::size_t>{2}));
    EXPECT_TRUE(view.visible.at(Control::PreviewLabel));

    control.moveOffScreen();
    EXPECT_EQ(window.video, (Rect{-500, -500, 1280, 720}));
    control.stop();
    EXPECT_FALSE(control.running());
    control.setVisible(false);
    EXPECT_EQ(windowShown, std::vector<bool>{false});

    preview::NoFrameSources none;
    DialogPreview unavailable(engine, none, view, nullptr);
    EXPECT_FALSE(unavailable.available());
}

} // namespace
} // namespace tessell::testing
