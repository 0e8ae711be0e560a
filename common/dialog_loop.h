#pragma once

// The dialog's thread: the timers of a dialog and the work other threads
// (the download worker, the dump thread, hotplug notifications) hand to it.
// A window toolkit implements DialogThread with its own timers and event
// queue; DialogLoop is the plain implementation the console and the tests
// run, timed by the process clock.

#include "common/clock.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace tessell {

class DialogThread {
public:
    virtual ~DialogThread() = default;
    // Runs `work` on the dialog's thread, after what was posted before it.
    // Safe from any thread.
    virtual void post(std::function<void()> work) = 0;
    // (Re)starts timer `id`: its handler runs every `period` of tool time
    // until it is stopped. Dialog's thread only.
    virtual void startTimer(int id, Clock::Duration period) = 0;
    virtual void stopTimer(int id) = 0;
};

class DialogLoop final : public DialogThread {
public:
    using TimerHandler = std::function<void(int id)>;

    explicit DialogLoop(TimerHandler onTimer) : onTimer_(std::move(onTimer)) {}

    void post(std::function<void()> work) override;
    void startTimer(int id, Clock::Duration period) override;
    void stopTimer(int id) override;
    bool timerRunning(int id) const;
    bool anyTimerRunning() const { return !timers_.empty(); }

    // Runs every posted piece of work, then every timer that is due; returns
    // how many handlers ran.
    int runPending();
    // Waits (on the process clock) until work is posted or the next timer is
    // due, at most `limit`.
    void waitForWork(Clock::Duration limit);
    // Runs until `finished` holds; false when `budget` of tool time passed first.
    bool runUntil(const std::function<bool()>& finished, Clock::Duration budget);

private:
    struct Timer {
        Clock::Duration period;
        Clock::TimePoint due;
    };
    std::optional<Clock::TimePoint> nextDue() const;

    TimerHandler onTimer_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> work_;
    std::map<int, Timer> timers_; // dialog's thread only
};

} // namespace tessell
