#pragma once

// Arrival and removal notifications on their way from the simulated cameras
// to the platform's service thread, which hands them to the listeners. A
// camera posts while it holds its own lock; the queue's lock is taken last.

#include "platform/hotplug.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace tessell::sim {

class EventQueue {
public:
    void post(platform::HotplugEvent event);
    // Something is due earlier than the service thread planned: wake it.
    void wake();
    // Stops the service thread for good; later posts are dropped.
    void close();

    // Waits up to `realTime` for a post, a wake or close; returns false once closed.
    bool waitFor(std::chrono::nanoseconds realTime);
    std::deque<platform::HotplugEvent> take();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<platform::HotplugEvent> events_;
    bool woken_ = false;
    bool closed_ = false;
};

} // namespace tessell::sim
