#include "platform/console_watch.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace tessell::platform {

namespace {

// The write end of the watch's wake pipe, for the signal handler.
std::atomic<int> wakeDescriptor{-1};

constexpr char kInterrupt = 'i';
constexpr char kQuit = 'q';

extern "C" void onInterrupt(int) {
    const int saved = errno;
    const int descriptor = wakeDescriptor.load();
    if (descriptor >= 0) {
        [[maybe_unused]] const auto ignored = ::write(descriptor, &kInterrupt, 1);
    }
    errno = saved;
}

class LinuxConsoleWatch final : public ConsoleWatch {
public:
    LinuxConsoleWatch(std::function<void(ConsoleEnd)> ended, int readEnd, int writeEnd)
        : ended_(std::move(ended)), readEnd_(readEnd), writeEnd_(writeEnd) {
        wakeDescriptor.store(writeEnd_);
        struct sigaction action = {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &oldInterrupt_);
        sigaction(SIGTERM, &action, &oldTerminate_);
        thread_ = std::thread([this] { run(); });
    }

    ~LinuxConsoleWatch() override {
        [[maybe_unused]] const auto ignored = ::write(writeEnd_, &kQuit, 1);
        thread_.join();
        sigaction(SIGINT, &oldInterrupt_, nullptr);
        sigaction(SIGTERM, &oldTerminate_, nullptr);
        wakeDescriptor.store(-1);
        ::close(readEnd_);
        ::close(writeEnd_);
    }

private:
    // Each kind of end once: a signal after the end of the input (a
    // station started with standard input closed) must still reach the
    // command, or it could only be killed.
    void report(ConsoleEnd end) {
        bool& reported = end == ConsoleEnd::Interrupted ? interruptReported_ : inputEndReported_;
        if (!reported) {
            reported = true;
            ended_(end);
        }
    }

    void run() {
        bool inputOpen = true;
        for (;;) {
            pollfd watched[2] = {{readEnd_, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
            // Waits for a key, a signal or the destructor; nothing is timed.
            const int ready = ::poll(watched, inputOpen ? 2 : 1, -1);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (watched[0].revents & POLLIN) {
                char what = 0;
                if (::read(readEnd_, &what, 1) == 1) {
                    if (what == kQuit)
                        return;
                    report(ConsoleEnd::Interrupted);
                }
            }
            if (inputOpen && watched[1].revents) {
                char buffer[256];
                const ssize_t got = (watched[1].revents & POLLNVAL)
                                        ? 0
                                        : ::read(STDIN_FILENO, buffer, sizeof buffer);
                if (got < 0 && (errno == EINTR || errno == EAGAIN))
                    continue;
                if (got <= 0) {
                    inputOpen = false;
                    report(ConsoleEnd::InputEnded);
                }
            }
        }
    }

    std::function<void(ConsoleEnd)> ended_;
    int readEnd_;
    int writeEnd_;
    bool interruptReported_ = false; // the watch thread only
    bool inputEndReported_ = false;
    struct sigaction oldInterrupt_ = {};
    struct sigaction oldTerminate_ = {};
    std::thread thread_;
};

} // namespace

std::unique_ptr<ConsoleWatch> watchConsole(std::function<void(ConsoleEnd)> ended) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    return std::make_unique<LinuxConsoleWatch>(std::move(ended), ends[0], ends[1]);
}

} // namespace tessell::platform
