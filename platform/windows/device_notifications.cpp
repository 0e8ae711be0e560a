#include "platform/windows/device_notifications.h"

#include "common/trace.h"
#include "common/utf16_text.h"
#include "platform/hotplug_listeners.h"
#include "platform/windows/message_window.h"

#include <cstddef>
#include <cstring>
#include <dbt.h>
#include <mutex>
#include <vector>

namespace tessell::platform::windows {

namespace {

// {6994AD05-93EF-11D0-A3CC-00A0C9223196}: video capture (DirectShow's video-input devices).
constexpr GUID kVideoCaptureClass = {
    0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// {24E552D7-6523-47F7-A647-D3465BF1F5CA}: sensor cameras (not in the mingw-w64 headers).
constexpr GUID kSensorCameraClass = {
    0x24E552D7, 0x6523, 0x47F7, {0xA6, 0x47, 0xD3, 0x46, 0x5B, 0xF1, 0xF5, 0xCA}};

constexpr GUID kWatchedClasses[] = {kVideoCaptureClass, kSensorCameraClass};

bool watched(const GUID& interfaceClass) {
    for (const GUID& known : kWatchedClasses)
        if (std::memcmp(&known, &interfaceClass, sizeof known) == 0)
            return true;
    return false;
}

struct NotificationHandles {
    std::vector<HDEVNOTIFY> handles;
    void release() {
        for (HDEVNOTIFY handle : handles)
            UnregisterDeviceNotification(handle);
        handles.clear();
    }
};

class DeviceNotifications final : public Hotplug {
public:
    ~DeviceNotifications() override {
        std::unique_ptr<MessageWindow> closing;
        {
            std::lock_guard lock(state_->mutex);
            closing = std::move(state_->window);
        }
    }

    std::unique_ptr<Subscription> subscribe(Listener listener) override {
        std::lock_guard lock(state_->mutex);
        if (!state_->window) {
            std::string error;
            state_->window = openWindow(error);
            if (!state_->window) {
                trace::writef("device notifications: %s", error.c_str());
                return nullptr;
            }
        }
        ++state_->users;
        return std::make_unique<Counted>(state_, state_->listeners.add(std::move(listener)));
    }

private:
    struct State {
        HotplugListeners listeners;
        std::mutex mutex;
        int users = 0;
        std::unique_ptr<MessageWindow> window;
        NotificationHandles registered; // the window's thread only
    };

    // A listener's registration that also counts the window's users.
    class Counted final : public Subscription {
    public:
        Counted(std::weak_ptr<State> state, std::unique_ptr<Subscription> inner)
            : state_(std::move(state)), inner_(std::move(inner)) {}
        ~Counted() override {
            inner_.reset();
            const auto state = state_.lock();
            if (!state)
                return;
            std::unique_ptr<MessageWindow> closing;
            {
                std::lock_guard lock(state->mutex);
                if (--state->users == 0)
                    closing = std::move(state->window);
            }
            // Closed outside the lock: the window's thread may be delivering
            // to a listener that subscribes again.
        }

    private:
        std::weak_ptr<State> state_;
        std::unique_ptr<Subscription> inner_;
    };

    std::unique_ptr<MessageWindow> openWindow(std::string& error) {
        std::weak_ptr<State> weak = state_;
        auto handler = [weak](HWND, UINT message, WPARAM wParam,
                              LPARAM lParam) -> std::optional<LRESULT> {
            if (message != WM_DEVICECHANGE)
                return std::nullopt;
            if (const auto event = hotplugEventFor(wParam, lParam))
                if (const auto state = weak.lock())
                    state->listeners.deliver(*event);
            return TRUE;
        };
        auto setup = [weak](HWND window, std::string& problem) {
            const auto state = weak.lock();
            if (!state)
                return false;
            for (const GUID& interfaceClass : kWatchedClasses) {
                DEV_BROADCAST_DEVICEINTERFACE_W filter{};
                filter.dbcc_size = sizeof filter;
                filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
                filter.dbcc_classguid = interfaceClass;
                HDEVNOTIFY handle =
                    RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
                if (!handle) {
                    problem = systemErrorText("RegisterDeviceNotificationW", GetLastError());
                    state->registered.release();
                    return false;
                }
                state->registered.handles.push_back(handle);
            }
            return true;
        };
        auto teardown = [weak](HWND) {
            if (const auto state = weak.lock())
                state->registered.release();
        };
        return MessageWindow::open(kDeviceNotificationClass, L"", std::move(handler),
                                   std::move(setup), std::move(teardown), error);
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace

std::optional<HotplugEvent> hotplugEventFor(WPARAM event, LPARAM data) {
    HotplugEvent::Kind kind;
    if (event == DBT_DEVICEARRIVAL)
        kind = HotplugEvent::Kind::Arrival;
    else if (event == DBT_DEVICEREMOVECOMPLETE)
        kind = HotplugEvent::Kind::Removal;
    else
        return std::nullopt;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    constexpr std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        header->dbch_size < nameOffset)
        return std::nullopt;
    const auto* block = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
    if (!watched(block->dbcc_classguid))
        return std::nullopt;
    // The name runs to its NUL, but never past the size the block gives.
    const std::size_t room = (header->dbch_size - nameOffset) / sizeof(wchar_t);
    std::size_t length = 0;
    while (length < room && block->dbcc_name[length] != L'\0')
        ++length;
    if (length == 0)
        return std::nullopt;
    const std::u16string_view name(reinterpret_cast<const char16_t*>(block->dbcc_name), length);
    return HotplugEvent{kind, utf16ToUtf8(name)};
}

std::unique_ptr<Hotplug> makeDeviceNotifications() {
    return std::make_unique<DeviceNotifications>();
}

} // namespace tessell::platform::windows
