#pragma once

// The listeners of a hotplug source, shared by every backend. A listener may
// drop its own or another subscription from inside a notification; dropping
// a subscription on another thread waits for a notification in progress, so
// that nothing is called once its handle is gone. The list outlives both the
// source and the subscriptions, whichever ends first.

#include "platform/hotplug.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace tessell::platform {

class HotplugListeners {
public:
    HotplugListeners();

    std::unique_ptr<Hotplug::Subscription> add(Hotplug::Listener listener);

    // Calls every listener registered now, one after the other, skipping
    // those dropped meanwhile.
    void deliver(const HotplugEvent& event);

private:
    struct Shared {
        std::recursive_mutex dispatch; // held while listeners are called
        std::mutex mutex;
        std::map<std::uint64_t, Hotplug::Listener> byId;
        std::uint64_t nextId = 1;
    };
    std::shared_ptr<Shared> shared_;
};

} // namespace tessell::platform
