#include "common/dialog_loop.h"

#include <algorithm>
#include <vector>

namespace tessell {

void DialogLoop::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    posted_.notify_all();
}

void DialogLoop::startTimer(int id, Clock::Duration period) {
    // A timer of zero would starve everything else.
    period = std::max(period, Clock::Duration(std::chrono::milliseconds(1)));
    timers_[id] = Timer{period, clock().now() + period};
}

void DialogLoop::stopTimer(int id) {
    timers_.erase(id);
}

bool DialogLoop::timerRunning(int id) const {
    return timers_.count(id) != 0;
}

int DialogLoop::runPending() {
    int ran = 0;
    // Only what was posted so far: work that posts more does not keep the
    // timers from running.
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(work_);
    }
    for (auto& work : batch) {
        work();
        ++ran;
    }

    std::vector<int> due;
    const auto now = clock().now();
    for (const auto& [id, timer] : timers_)
        if (timer.due <= now)
            due.push_back(id);
    for (const int id : due) {
        // An earlier handler may have stopped or restarted it.
        const auto found = timers_.find(id);
        if (found == timers_.end() || found->second.due > now)
            continue;
        // Late ticks are not made up for: a timer fires once per lateness,
        // as a window system's timer does.
        found->second.due += found->second.period;
        if (found->second.due <= now)
            found->second.due = now + found->second.period;
        onTimer_(id);
        ++ran;
    }
    return ran;
}

std::optional<Clock::TimePoint> DialogLoop::nextDue() const {
    std::optional<Clock::TimePoint> next;
    for (const auto& [id, timer] : timers_)
        if (!next || timer.due < *next)
            next = timer.due;
    return next;
}

void DialogLoop::waitForWork(Clock::Duration limit) {
    if (const auto next = nextDue())
        limit = std::min(limit, std::max(Clock::Duration(0), *next - clock().now()));
    std::unique_lock lock(mutex_);
    if (!work_.empty() || limit <= Clock::Duration(0))
        return;
    clock().waitFor(posted_, lock, limit, [this] { return !work_.empty(); });
}

bool DialogLoop::runUntil(const std::function<bool()>& finished, Clock::Duration budget) {
    const Deadline deadline(budget);
    for (;;) {
        runPending();
        if (finished())
            return true;
        if (deadline.expired())
            return false;
        waitForWork(deadline.remaining());
    }
}

} // namespace tessell
