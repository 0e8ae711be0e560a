#include "app/console_tool.h"
#include "common/clock.h"
#include "common/dialog_loop.h"

#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace tessell {
namespace {

TEST(ConsoleView, LogGrowsOnStandardOutputAsPlainLines) {
    std::ostringstream out, err;
    ConsoleView view(out, err, false, false);
    view.showLog("Auto Open File \"a.bin\"\r\n");
    view.showLog("Auto Open File \"a.bin\"\r\n");
    view.showLog("Auto Open File \"a.bin\"\r\nStart Download...Download complete.\r\n\r\n");
    EXPECT_EQ(out.str(), "Auto Open File \"a.bin\"\nStart Download...Download complete.\n\n");
    // A log that was replaced by a shorter one is printed whole.
    view.showLog("x\r\n");
    EXPECT_EQ(out.str().substr(out.str().size() - 2), "x\n");
    view.setProgress(50);
    EXPECT_EQ(err.str(), "") << "no bar when standard error is not a terminal";
}

TEST(ConsoleView, ProgressBarBoxesAndQuestionsOnStandardError) {
    std::ostringstream out, err;
    ConsoleView view(out, err, false, true);
    view.setProgress(0);
    EXPECT_EQ(err.str(), "") << "no bar before any progress";
    // The log line "Start Download..." is still open: the bar starts below it.
    view.showLog("Start Download...");
    view.setProgress(50);
    view.setProgress(50);
    view.setProgress(130);
    EXPECT_EQ(err.str(), "\n\r[####################....................] 50%"
                         "\r[########################################] 100%");
    err.str("");
    // A box ends the bar's line first, so that it stands on a line of its own.
    view.messageBox("Please load file first!", "Error", BoxIcon::Error);
    EXPECT_EQ(err.str(), "\nError: Please load file first!\n");
    err.str("");
    EXPECT_FALSE(view.askYesNo("Really?\nSure?", "Warning"));
    EXPECT_EQ(err.str(), "Warning: Really?\nSure?\nAnswered No (give -y to answer Yes).\n");

    ConsoleView yes(out, err, true, false);
    EXPECT_TRUE(yes.askYesNo("Really?", "Warning"));

    view.clearCameraList();
    view.addCamera("0:cam");
    view.selectCamera(3);
    EXPECT_EQ(view.selectedCamera(), -1);
    view.selectCamera(0);
    EXPECT_EQ(view.selectedCamera(), 0);
    view.endProcess(-1);
    EXPECT_TRUE(view.ended());
    EXPECT_EQ(view.exitCode(), -1);
}

TEST(DialogLoop, TimersFirePerPeriodAndStopFromTheirHandler) {
    ManualClock manual;
    ClockOverride use(manual);
    using Fired = std::pair<int, std::int64_t>;
    std::vector<Fired> fired;
    DialogLoop* self = nullptr;
    DialogLoop loop([&](int id) {
        const auto at =
            std::chrono::duration_cast<std::chrono::milliseconds>(clock().now().time_since_epoch());
        fired.emplace_back(id, at.count());
        if (id == 2)
            self->stopTimer(2);
    });
    self = &loop;
    const std::int64_t start =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock().now().time_since_epoch())
            .count();
    loop.startTimer(1, std::chrono::milliseconds(100));
    loop.startTimer(2, std::chrono::milliseconds(250));
    loop.runUntil([&] { return fired.size() >= 4; }, std::chrono::seconds(10));
    ASSERT_EQ(fired.size(), 4U);
    EXPECT_EQ(fired[0], (Fired{1, start + 100}));
    EXPECT_EQ(fired[1], (Fired{1, start + 200}));
    EXPECT_EQ(fired[2], (Fired{2, start + 250}));
    EXPECT_EQ(fired[3], (Fired{1, start + 300}));
    EXPECT_FALSE(loop.timerRunning(2));
    EXPECT_TRUE(loop.timerRunning(1));

    // Work posted from another thread runs on the loop's thread, in order.
    std::vector<int> order;
    std::thread other([&] {
        loop.post([&] { order.push_back(1); });
        loop.post([&] { order.push_back(2); });
    });
    other.join();
    loop.stopTimer(1);
    EXPECT_EQ(loop.runPending(), 2);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_FALSE(loop.runUntil([] { return false; }, std::chrono::seconds(1)));
}

} // namespace
} // namespace tessell
