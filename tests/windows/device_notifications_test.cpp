// Windows only; the Linux test program's source list takes every tests/ file.
#ifdef _WIN32

#include "platform/windows/device_notifications.h"

#include <cstddef>
#include <cstring>
#include <dbt.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tessell::testing {
namespace {

using platform::HotplugEvent;
using platform::windows::kDeviceNotificationClass;

constexpr GUID kVideoCapture = {
    0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID kHubInterface = {
    0xF18A0E88, 0xC30C, 0x11D0, {0x88, 0x15, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0xD8}};

const std::wstring kNotifiedPath = L"\\\\?\\USB#VID_1209&PID_0004&MI_00#7&1a2b&0&0000#"
                                   L"{6994ad05-93ef-11d0-a3cc-00a0c9223196}\\GLOBAL-\u00e9";

// A notification block as the system builds it: header, class, then the
// name; `size` is what the header claims.
std::vector<std::byte> broadcast(const GUID& interfaceClass, const std::wstring& name,
                                 std::size_t size = 0) {
    constexpr std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    std::vector<std::byte> block(nameOffset + (name.size() + 1) * sizeof(wchar_t));
    DEV_BROADCAST_DEVICEINTERFACE_W head{};
    head.dbcc_size = static_cast<DWORD>(size ? size : block.size());
    head.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    head.dbcc_classguid = interfaceClass;
    std::memcpy(block.data(), &head, nameOffset);
    std::memcpy(block.data() + nameOffset, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    return block;
}

HWND notificationWindow() {
    return FindWindowExW(HWND_MESSAGE, nullptr, kDeviceNotificationClass, nullptr);
}

LRESULT sendNotification(WPARAM event, std::vector<std::byte>& block) {
    return SendMessageW(notificationWindow(), WM_DEVICECHANGE, event,
                        reinterpret_cast<LPARAM>(block.data()));
}

TEST(DeviceNotifications, MessageOnlyWindowHandsOnCameraInterfaces) {
    auto notifications = platform::windows::makeDeviceNotifications();
    std::vector<HotplugEvent> seen;
    auto subscription =
        notifications->subscribe([&](const HotplugEvent& event) { seen.push_back(event); });
    ASSERT_TRUE(subscription);
    ASSERT_NE(notificationWindow(), nullptr);

    auto camera = broadcast(kVideoCapture, kNotifiedPath);
    EXPECT_EQ(sendNotification(DBT_DEVICEARRIVAL, camera), TRUE);
    EXPECT_EQ(sendNotification(DBT_DEVICEREMOVECOMPLETE, camera), TRUE);
    auto hub = broadcast(kHubInterface, kNotifiedPath);
    sendNotification(DBT_DEVICEARRIVAL, hub);
    sendNotification(DBT_DEVICEQUERYREMOVE, camera);
    // A header that claims less than its name: the name ends where the block does.
    auto cut =
        broadcast(kVideoCapture, kNotifiedPath,
                  offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + 4 * sizeof(wchar_t));
    sendNotification(DBT_DEVICEARRIVAL, cut);

    const std::string utf8 = "\\\\?\\USB#VID_1209&PID_0004&MI_00#7&1a2b&0&0000#"
                             "{6994ad05-93ef-11d0-a3cc-00a0c9223196}\\GLOBAL-\xc3\xa9";
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].kind, HotplugEvent::Kind::Arrival);
    EXPECT_EQ(seen[0].devicePath, utf8);
    EXPECT_EQ(seen[1].kind, HotplugEvent::Kind::Removal);
    EXPECT_EQ(seen[1].devicePath, utf8);
    EXPECT_EQ(seen[2].devicePath, "\\\\?\\");

    // The last subscription takes the window with it; a new one brings it back.
    subscription.reset();
    EXPECT_EQ(notificationWindow(), nullptr);
    subscription = notifications->subscribe([&](const HotplugEvent& event) {
        seen.push_back(event);
        subscription.reset(); // dropped from inside its own notification
    });
    ASSERT_TRUE(subscription);
    sendNotification(DBT_DEVICEARRIVAL, camera);
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_FALSE(subscription);
}

} // namespace
} // namespace tessell::testing

#endif // _WIN32
