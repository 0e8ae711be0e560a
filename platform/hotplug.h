#pragma once

// Arrival and removal of video devices.

#include <functional>
#include <memory>
#include <string>

namespace tessell::platform {

struct HotplugEvent {
    enum class Kind { Arrival, Removal };
    Kind kind;
    std::string devicePath;
};

class Hotplug {
public:
    using Listener = std::function<void(const HotplugEvent&)>;

    // Keeps a listener registered while the returned handle lives.
    class Subscription {
    public:
        virtual ~Subscription() = default;
    };

    virtual ~Hotplug() = default;

    // The listener is called on a thread of the platform's; it must only hand
    // the event on (e.g. post it to the window's thread).
    virtual std::unique_ptr<Subscription> subscribe(Listener listener) = 0;
};

} // namespace tessell::platform
