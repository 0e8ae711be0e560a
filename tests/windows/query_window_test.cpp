// Windows only; the Linux test program's source list takes every tests/ file.
#ifdef _WIN32

#include "platform/query_socket.h"
#include "platform/windows/query_window.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace tessell::testing {
namespace {

using namespace std::chrono_literals;
using platform::windows::kQueryWindowClass;

// Named after the process, so that test programs running side by side
// each ask their own window.
const std::filesystem::path kQueryPath = "query-" + std::to_string(GetCurrentProcessId()) + ".sock";

HWND queryWindow(const std::filesystem::path& path = kQueryPath) {
    return FindWindowExW(HWND_MESSAGE, nullptr, kQueryWindowClass, path.wstring().c_str());
}

// The three questions go through the window and come back with the values
// the tool's handler gave, -1 included; a script sending the raw message
// gets the same numbers as the message result.
TEST(QueryWindow, AnswersTheThreeMessagesWhileServing) {
    std::mutex mutex;
    std::vector<std::string> asked;
    std::string error;
    auto server = platform::serveQueries(
        kQueryPath,
        [&](const std::string& request) -> std::string {
            std::lock_guard lock(mutex);
            asked.push_back(request);
            if (request == "0x8001")
                return "-1";
            if (request == "0x8002")
                return "1";
            if (request == "0x8003")
                return "0";
            return "ERR unknown request";
        },
        error);
    ASSERT_TRUE(server) << error;
    EXPECT_EQ(server->path(), kQueryPath);
    // One window per path; a tool serving another path answers only there.
    std::string second;
    EXPECT_FALSE(platform::serveQueries(
        kQueryPath, [](const std::string&) { return "1"; }, second));
    EXPECT_NE(second.find(kQueryPath.string()), std::string::npos) << second;
    const std::filesystem::path otherPath = "other-" + kQueryPath.string();
    auto other = platform::serveQueries(
        otherPath, [](const std::string&) { return "1"; }, second);
    ASSERT_TRUE(other) << second;

    EXPECT_EQ(platform::askQuery(kQueryPath, "ac", 5s, error), "-1") << error;
    EXPECT_EQ(platform::askQuery(kQueryPath, " Camera\r", 5s, error), "1") << error;
    EXPECT_EQ(platform::askQuery(kQueryPath, "0x8003", 5s, error), "0") << error;
    EXPECT_EQ(platform::askQuery(kQueryPath, "firmware", 5s, error), "ERR unknown request");
    EXPECT_EQ(platform::askQuery(otherPath, "0x8003", 5s, error), "1") << error;
    other.reset();

    DWORD_PTR result = 12345;
    ASSERT_NE(SendMessageTimeoutW(queryWindow(), WM_APP + 1, 0, 0, SMTO_NORMAL, 5000, &result), 0);
    EXPECT_EQ(static_cast<LRESULT>(result), -1);
    ASSERT_NE(SendMessageTimeoutW(queryWindow(), WM_APP + 2, 0, 0, SMTO_NORMAL, 5000, &result), 0);
    EXPECT_EQ(result, 1u);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(asked,
                  (std::vector<std::string>{"0x8001", "0x8002", "0x8003", "0x8001", "0x8002"}));
    }

    server.reset();
    EXPECT_EQ(queryWindow(), nullptr);
    error.clear();
    EXPECT_FALSE(platform::askQuery(kQueryPath, "camera", 1s, error));
    EXPECT_FALSE(error.empty());
}

// A handler that cannot answer with a number confirms nothing.
TEST(QueryWindow, ErrorLinesBecomeZero) {
    EXPECT_EQ(platform::windows::queryResultFor("ERR tool ending"), 0);
    EXPECT_EQ(platform::windows::queryResultFor("-1"), -1);
    EXPECT_EQ(platform::windows::queryResultFor("1x"), 0);
}

} // namespace
} // namespace tessell::testing

#endif // _WIN32
