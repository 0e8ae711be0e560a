#include "common/clock.h"

#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

namespace tessell {
namespace {

TEST(ScaledClock, SleepsAScaledShareOfToolTime) {
    ScaledClock clock;
    clock.setTimeScale(0.01);
    const auto realStart = std::chrono::steady_clock::now();
    const auto toolStart = clock.now();
    clock.sleepFor(2s); // 20 ms of real time
    const auto realElapsed = std::chrono::steady_clock::now() - realStart;
    const auto toolElapsed = clock.now() - toolStart;
    EXPECT_GE(realElapsed, 20ms);
    EXPECT_LT(realElapsed, 1s) << "the sleep was not scaled";
    EXPECT_GE(toolElapsed, 2s) << "tool time must count the nominal duration";
}

TEST(ScaledClock, RejectsScalesOutsideZeroToOne) {
    ScaledClock clock;
    for (double bad : {0.0, -1.0, 2.0, std::numeric_limits<double>::quiet_NaN()}) {
        clock.setTimeScale(0.5);
        clock.setTimeScale(bad);
        EXPECT_EQ(clock.timeScale(), 1.0) << bad;
    }
}

TEST(ScaledClock, KeepsNoScaleBelowTheSmallestAndNeverWraps) {
    ScaledClock clock;
    clock.setTimeScale(1e-12);
    EXPECT_EQ(clock.timeScale(), kSmallestTimeScale);
    const auto before = clock.now();
    std::this_thread::sleep_for(2ms);
    EXPECT_GT(clock.now(), before) << "tool time moves on, it does not wrap";
}

TEST(ScaledClock, ChangingTheScaleKeepsToolTimeMonotonic) {
    ScaledClock clock;
    clock.setTimeScale(0.001);
    const auto before = clock.now();
    clock.setTimeScale(1.0);
    EXPECT_GE(clock.now(), before);
}

TEST(ScaledClock, WaitReturnsAsSoonAsTheConditionHolds) {
    ScaledClock clock; // scale 1: a missed wake-up would take the full minute
    std::mutex mutex;
    std::condition_variable cv;
    bool ready = false;
    std::thread setter([&] {
        std::lock_guard lock(mutex);
        ready = true;
        cv.notify_all();
    });
    std::unique_lock lock(mutex);
    EXPECT_TRUE(clock.waitFor(cv, lock, 60s, [&] { return ready; }));
    lock.unlock();
    setter.join();
}

TEST(ScaledClock, RealIntervalIsScaledAndNeverZero) {
    ScaledClock clock;
    clock.setTimeScale(0.01);
    EXPECT_EQ(clock.realInterval(1000ms), 10ms);
    EXPECT_EQ(clock.realInterval(10ms), 1ms);
    EXPECT_EQ(clock.realInterval(0ms), 1ms);
}

TEST(ManualClock, SleepingAndTimingOutAdvanceIt) {
    ManualClock manual;
    ClockOverride installed(manual);
    const auto start = clock().now();
    clock().sleepFor(1500ms);
    std::mutex mutex;
    std::condition_variable cv;
    std::unique_lock lock(mutex);
    EXPECT_FALSE(clock().waitFor(cv, lock, 500ms, [] { return false; }));
    EXPECT_TRUE(clock().waitFor(cv, lock, 500ms, [] { return true; }));
    EXPECT_EQ(clock().now() - start, 2000ms);
    EXPECT_EQ(manual.slept(), 2000ms);
}

TEST(Deadline, ExpiresAfterItsBudgetOfToolTime) {
    ManualClock manual;
    ClockOverride installed(manual);
    Deadline deadline(3s);
    EXPECT_FALSE(deadline.expired());
    EXPECT_EQ(deadline.remaining(), 3s);
    manual.advance(2999ms);
    EXPECT_FALSE(deadline.expired());
    manual.advance(1ms);
    EXPECT_TRUE(deadline.expired());
    EXPECT_EQ(deadline.remaining(), 0s);
}

TEST(ClockOverride, RestoresThePreviousClock) {
    Clock* original = &clock();
    {
        ManualClock manual;
        ClockOverride installed(manual);
        EXPECT_EQ(&clock(), &manual);
    }
    EXPECT_EQ(&clock(), original);
}

} // namespace
} // namespace tessell
