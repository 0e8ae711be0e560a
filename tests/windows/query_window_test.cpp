// Windows only; the Linux test program's source list takes every tests/ file.
#ifdef _WIN32

#include "platform/query_socket.h"
#include "platform/windows/query_window.h"

#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace tessell::testing {
namespace {

using namespace std::chrono_literals;
using platform::windows::kQueryWindowClass;

HWND queryWindow() {
    return FindWindowExW(HWND_MESSAGE, nullptr, kQueryWindowClass, nullptr);
}

// The three questions go through the window and come back with the values
// the tool's handler gave, -1 included; a script sending the raw message
// gets the same numbers as the message result.
TEST(QueryWindow, AnswersTheThreeMessagesWhileServing) {
    std::mutex mutex;
    std::vector<std::string> asked;
    std::string error;
    auto server = platform::serveQueries(
        "ignored.sock",
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
    EXPECT_EQ(server->path(), "ignored.sock");
    std::string second;
    EXPECT_FALSE(platform::serveQueries(
        "other.sock", [](const std::string&) { return "1"; }, second));
    EXPECT_NE(second.find("TessellQuery"), std::string::npos) << second;

    EXPECT_EQ(platform::askQuery("", "ac", 5s, error), "-1") << error;
    EXPECT_EQ(platform::askQuery("", " Camera\r", 5s, error), "1") << error;
    EXPECT_EQ(platform::askQuery("", "0x8003", 5s, error), "0") << error;
    EXPECT_EQ(platform::askQuery("", "firmware", 5s, error), "ERR unknown request");

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
    EXPECT_FALSE(platform::askQuery("", "camera", 1s, error));
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
