#pragma once

// Arrival and removal of cameras from udev's monitor: capture nodes
// (video4linux) and whole USB devices. udev announces an event after its
// rules ran, so an arrived node already exists with its permissions. Where
// no udev daemon runs the kernel's own events are read: devtmpfs has made
// the node by then, with the kernel's default permissions.
//
// One monitor thread serves every subscription; it starts with the first
// one and wakes at least every half second of tool time, so that shutting
// down never waits on a quiet bus.

#include "platform/hotplug.h"
#include "platform/hotplug_listeners.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tessell::platform {

// What the monitor reads of one udev event.
struct UdevEvent {
    std::string action;    // "add", "remove", "change", "bind"...
    std::string subsystem; // "video4linux" or "usb"
    std::string devtype;   // "usb_device" for a USB device
    std::string devpath;   // /devices/.../1-2.3/1-2.3:1.0/video4linux/video0
    std::string vendorId;  // ID_VENDOR_ID of a node: "1209"
    std::string modelId;   // ID_MODEL_ID of a node: "000c"
    std::string product;   // PRODUCT of a USB device: "1209/c/12"
};

// The notification for an event: a capture node's device path as the device
// list gives it, or for a USB device \\?\usb#vid_1209&pid_000c#1-2.3. None
// for actions other than add and remove and for other kinds of device.
std::optional<HotplugEvent> hotplugEventFor(const UdevEvent& event);

class UdevHotplug final : public Hotplug {
public:
    UdevHotplug();
    ~UdevHotplug() override;
    UdevHotplug(const UdevHotplug&) = delete;
    UdevHotplug& operator=(const UdevHotplug&) = delete;

    std::unique_ptr<Subscription> subscribe(Listener listener) override;

private:
    void start();
    void run();

    HotplugListeners listeners_;
    std::mutex startMutex_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    int wakeDescriptor_ = -1;
};

} // namespace tessell::platform
