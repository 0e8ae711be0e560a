#include "platform/linux/udev_hotplug.h"

#include "common/clock.h"
#include "common/trace.h"
#include "platform/linux/device_names.h"

#include <cerrno>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace tessell::platform {

namespace {

using namespace std::chrono_literals;

constexpr Clock::Duration kWakePeriod = 500ms;

struct UdevDeleter {
    void operator()(udev* handle) const { udev_unref(handle); }
    void operator()(udev_monitor* handle) const { udev_monitor_unref(handle); }
    void operator()(udev_device* handle) const { udev_device_unref(handle); }
};
template <typename T> using UdevPtr = std::unique_ptr<T, UdevDeleter>;

// The last component of a devpath, and the one before it.
std::string_view lastComponent(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}
std::string_view parentOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash);
}

std::string text(const char* value) {
    return value ? value : "";
}

// Without a udev daemon (an initramfs, a small virtual machine or
// container) nothing is ever sent to udev's group, where the "udev" monitor
// listens: the kernel's own events for the same devices are read instead.
// devtmpfs has made a node before the kernel announces it. The daemon's
// control socket is how libudev itself tells that the daemon runs.
const char* monitorSource() {
    return ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
}

} // namespace

std::optional<HotplugEvent> hotplugEventFor(const UdevEvent& event) {
    HotplugEvent::Kind kind;
    if (event.action == "add")
        kind = HotplugEvent::Kind::Arrival;
    else if (event.action == "remove")
        kind = HotplugEvent::Kind::Removal;
    else
        return std::nullopt;

    if (event.subsystem == "video4linux") {
        // .../<interface>/video4linux/videoN; sysfs may be gone already, so
        // the path is made from the event alone.
        VideoNode node;
        node.name = std::string(lastComponent(event.devpath));
        const auto number = videoNodeNumber(node.name);
        if (!number)
            return std::nullopt;
        node.number = *number;
        const auto classFolder = parentOf(event.devpath);
        const auto interfaceName = lastComponent(parentOf(classFolder));
        const auto interface = parseUsbInterfaceName(interfaceName);
        if (lastComponent(classFolder) == "video4linux" && interface) {
            UsbDevice device;
            device.name = interface->device;
            node.interfaceName = std::string(interfaceName);
            node.interfaceNumber = static_cast<std::uint8_t>(interface->interfaceNumber);
            node.usb = std::move(device);
        }
        return HotplugEvent{kind, capturePath(node)};
    }

    if (event.subsystem == "usb" && event.devtype == "usb_device") {
        const auto name = lastComponent(event.devpath);
        const auto path = parseUsbDeviceName(name);
        if (!path || path->ports.empty())
            return std::nullopt; // root hubs come and go with their controller
        // The device itself, by its sysfs name: no capture node is named so.
        return HotplugEvent{kind, std::string(name)};
    }
    return std::nullopt;
}

UdevHotplug::UdevHotplug() = default;

UdevHotplug::~UdevHotplug() {
    stop_ = true;
    if (wakeDescriptor_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeDescriptor_, &one, sizeof one);
    }
    if (thread_.joinable())
        thread_.join();
    if (wakeDescriptor_ >= 0)
        ::close(wakeDescriptor_);
}

std::unique_ptr<Hotplug::Subscription> UdevHotplug::subscribe(Listener listener) {
    auto subscription = listeners_.add(std::move(listener));
    start();
    return subscription;
}

void UdevHotplug::start() {
    std::lock_guard lock(startMutex_);
    if (thread_.joinable())
        return;
    wakeDescriptor_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { run(); });
}

void UdevHotplug::run() {
    UdevPtr<udev> context(udev_new());
    const char* source = monitorSource();
    UdevPtr<udev_monitor> monitor(context ? udev_monitor_new_from_netlink(context.get(), source)
                                          : nullptr);
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "video4linux", nullptr) <
            0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        trace::write("hotplug: the udev monitor cannot be opened; cameras plugged in or out are "
                     "not noticed until the next scan");
        return;
    }
    trace::writef("hotplug: listening to %s events", source);
    const int monitorDescriptor = udev_monitor_get_fd(monitor.get());
    while (!stop_) {
        pollfd watched[2] = {{monitorDescriptor, POLLIN, 0}, {wakeDescriptor_, POLLIN, 0}};
        const nfds_t count = wakeDescriptor_ >= 0 ? 2 : 1;
        const int ready =
            ::poll(watched, count, static_cast<int>(clock().realInterval(kWakePeriod).count()));
        if (ready < 0 && errno != EINTR) {
            trace::writef("hotplug: poll failed (errno %d); monitor stopped", errno);
            return;
        }
        if (ready <= 0 || (watched[0].revents & POLLIN) == 0)
            continue;
        UdevPtr<udev_device> device(udev_monitor_receive_device(monitor.get()));
        if (!device)
            continue;
        UdevEvent event;
        event.action = text(udev_device_get_action(device.get()));
        event.subsystem = text(udev_device_get_subsystem(device.get()));
        event.devtype = text(udev_device_get_devtype(device.get()));
        event.devpath = text(udev_device_get_devpath(device.get()));
        event.vendorId = text(udev_device_get_property_value(device.get(), "ID_VENDOR_ID"));
        event.modelId = text(udev_device_get_property_value(device.get(), "ID_MODEL_ID"));
        event.product = text(udev_device_get_property_value(device.get(), "PRODUCT"));
        if (const auto notification = hotplugEventFor(event))
            listeners_.deliver(*notification);
    }
}

} // namespace tessell::platform
