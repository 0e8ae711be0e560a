// The console watch as a service manager starts the tool: standard input
// already at its end (< /dev/null), then SIGTERM or SIGINT.

#include "common/clock.h"
#include "platform/console_watch.h"

#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace tessell::platform {
namespace {

// Standard input reads from /dev/null while it lives.
class NullInput {
public:
    NullInput() : saved_(::dup(STDIN_FILENO)) {
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::dup2(null, STDIN_FILENO);
        ::close(null);
    }
    ~NullInput() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }
    NullInput(const NullInput&) = delete;
    NullInput& operator=(const NullInput&) = delete;

private:
    int saved_;
};

class Reports {
public:
    void add(ConsoleEnd end) {
        std::lock_guard lock(mutex_);
        ends_.push_back(end);
        changed_.notify_all();
    }
    // The reports once there are `count` of them, or when a few seconds have passed.
    std::vector<ConsoleEnd> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, clock().realInterval(std::chrono::seconds(5)),
                          [&] { return ends_.size() >= count; });
        return ends_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ConsoleEnd> ends_;
};

// The end of input comes first; each signal afterwards is still reported,
// once, so that a station started without a console can be stopped.
TEST(LinuxConsoleWatch, SignalsAfterTheEndOfInputAreStillReported) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        NullInput input;
        Reports reports;
        const auto watch = watchConsole([&reports](ConsoleEnd end) { reports.add(end); });
        ASSERT_TRUE(watch);
        ASSERT_EQ(reports.waitFor(1), std::vector<ConsoleEnd>{ConsoleEnd::InputEnded});
        std::raise(signal);
        std::raise(signal);
        EXPECT_EQ(reports.waitFor(2),
                  (std::vector<ConsoleEnd>{ConsoleEnd::InputEnded, ConsoleEnd::Interrupted}));
    }
}

} // namespace
} // namespace tessell::platform
