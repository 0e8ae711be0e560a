#include "platform/hotplug_listeners.h"

#include <functional>
#include <vector>

namespace tessell::platform {

namespace {

class ListenerSubscription final : public Hotplug::Subscription {
public:
    explicit ListenerSubscription(std::function<void()> remove) : remove_(std::move(remove)) {}
    ~ListenerSubscription() override { remove_(); }

private:
    std::function<void()> remove_;
};

} // namespace

HotplugListeners::HotplugListeners() : shared_(std::make_shared<Shared>()) {}

std::unique_ptr<Hotplug::Subscription> HotplugListeners::add(Hotplug::Listener listener) {
    std::uint64_t id;
    {
        std::lock_guard lock(shared_->mutex);
        id = shared_->nextId++;
        shared_->byId.emplace(id, std::move(listener));
    }
    std::weak_ptr<Shared> weak = shared_;
    return std::make_unique<ListenerSubscription>([weak, id] {
        if (const auto shared = weak.lock()) {
            std::lock_guard dispatch(shared->dispatch);
            std::lock_guard lock(shared->mutex);
            shared->byId.erase(id);
        }
    });
}

void HotplugListeners::deliver(const HotplugEvent& event) {
    std::lock_guard dispatch(shared_->dispatch);
    std::vector<std::uint64_t> ids;
    {
        std::lock_guard lock(shared_->mutex);
        for (const auto& entry : shared_->byId)
            ids.push_back(entry.first);
    }
    for (const auto id : ids) {
        Hotplug::Listener listener;
        {
            std::lock_guard lock(shared_->mutex);
            const auto found = shared_->byId.find(id);
            if (found == shared_->byId.end())
                continue; // dropped by an earlier listener
            listener = found->second;
        }
        listener(event);
    }
}

} // namespace tessell::platform
