#pragma once

// Arrival and removal of cameras as Windows announces them: device-interface
// notifications (WM_DEVICECHANGE) for the video-capture interface class and
// the sensor-camera class, received by a message-only window of the class
// kDeviceNotificationClass on a thread of its own. The event carries the
// interface's path (dbcc_name) in UTF-8, the same path a device list gives.
//
// The window and its thread live while at least one subscription does; the
// first subscription opens them, the last one going (or the object) closes
// them, waiting a bounded time for the thread to end.

#include "platform/hotplug.h"

#include <memory>
#include <optional>
#include <string>
#include <windows.h>

namespace tessell::platform::windows {

inline constexpr wchar_t kDeviceNotificationClass[] = L"TessellDeviceNotifications";

// The event a WM_DEVICECHANGE carries (wParam, lParam); none for other
// events, for other kinds of notification, for interface classes other than
// the video-capture and sensor-camera ones, and for a malformed block.
std::optional<HotplugEvent> hotplugEventFor(WPARAM event, LPARAM data);

std::unique_ptr<Hotplug> makeDeviceNotifications();

} // namespace tessell::platform::windows
