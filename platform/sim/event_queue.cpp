#include "platform/sim/event_queue.h"

#include <utility>

namespace tessell::sim {

void EventQueue::post(platform::HotplugEvent event) {
    std::lock_guard lock(mutex_);
    if (closed_)
        return;
    events_.push_back(std::move(event));
    woken_ = true;
    changed_.notify_all();
}

void EventQueue::wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    changed_.notify_all();
}

void EventQueue::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    events_.clear();
    changed_.notify_all();
}

bool EventQueue::waitFor(std::chrono::nanoseconds realTime) {
    std::unique_lock lock(mutex_);
    // Real time on purpose: the caller turned tool time into real time with
    // the process clock, so that a test's manual clock is never moved by this
    // thread.
    changed_.wait_for(lock, realTime, [this] { return woken_ || closed_; });
    woken_ = false;
    return !closed_;
}

std::deque<platform::HotplugEvent> EventQueue::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(events_, {});
}

} // namespace tessell::sim
