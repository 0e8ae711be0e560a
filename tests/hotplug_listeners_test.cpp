#include "platform/hotplug_listeners.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace tessell::testing {
namespace {

using platform::HotplugEvent;
using platform::HotplugListeners;

const HotplugEvent kArrival{HotplugEvent::Kind::Arrival, "cam0"};

TEST(HotplugListeners, SubscriptionsDroppedDuringANotification) {
    auto listeners = std::make_optional<HotplugListeners>();
    std::vector<std::string> calls;
    std::unique_ptr<platform::Hotplug::Subscription> first, second, third;
    // The first listener drops itself and the second: the second is not
    // called for this event, and neither is called again.
    first = listeners->add([&](const HotplugEvent&) {
        calls.push_back("first");
        second.reset();
        first.reset();
    });
    second = listeners->add([&](const HotplugEvent&) { calls.push_back("second"); });
    third = listeners->add([&](const HotplugEvent& event) { calls.push_back(event.devicePath); });

    listeners->deliver(kArrival);
    listeners->deliver(kArrival);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "cam0", "cam0"}));

    // A subscription may outlive the source it came from.
    listeners.reset();
    third.reset();
}

TEST(HotplugListeners, DroppingOnAnotherThreadWaitsForTheNotificationInProgress) {
    HotplugListeners listeners;
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<bool> finished{false};
    auto subscription = listeners.add([&](const HotplugEvent&) {
        entered.set_value();
        released.wait();
        finished = true;
    });
    auto delivering = std::async(std::launch::async, [&] { listeners.deliver(kArrival); });
    entered.get_future().wait();

    auto dropping = std::async(std::launch::async, [&] {
        subscription.reset();
        // Gone only after the listener has returned.
        return finished.load();
    });
    release.set_value();
    EXPECT_TRUE(dropping.get());
    delivering.get();
}

} // namespace
} // namespace tessell::testing
