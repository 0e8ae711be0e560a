#include "common/clock.h"
#include "platform/console_watch.h"
#include "platform/windows/windows_text.h"

#include <atomic>
#include <thread>

namespace tessell::platform {

namespace {

using windows::Handle;
using namespace std::chrono_literals;

// How often a pipe on standard input is looked at: a pipe handle cannot be
// waited on for data.
constexpr auto kPipeSlice = 50ms;

// The interrupt event of the watch alive, for the console's control handler.
std::atomic<HANDLE> interruptEvent{nullptr};

BOOL WINAPI onControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (const HANDLE wake = interruptEvent.load())
            ::SetEvent(wake);
        return TRUE;
    default:
        return FALSE;
    }
}

class WindowsConsoleWatch final : public ConsoleWatch {
public:
    WindowsConsoleWatch(std::function<void(ConsoleEnd)> ended, Handle stop, Handle interrupt)
        : ended_(std::move(ended)), stop_(std::move(stop)), interrupt_(std::move(interrupt)) {
        interruptEvent.store(interrupt_.get());
        ::SetConsoleCtrlHandler(onControl, TRUE);
        thread_ = std::thread([this] { run(); });
    }

    ~WindowsConsoleWatch() override {
        ::SetEvent(stop_.get());
        thread_.join();
        ::SetConsoleCtrlHandler(onControl, FALSE);
        interruptEvent.store(nullptr);
    }

private:
    // Each kind of end once: an interrupt after the end of the input (a
    // station started with no console) must still reach the command.
    void report(ConsoleEnd end) {
        bool& reported = end == ConsoleEnd::Interrupted ? interruptReported_ : inputEndReported_;
        if (!reported) {
            reported = true;
            ended_(end);
        }
    }

    // Waits for the stop or the interrupt event, and for `input` when it is
    // given; `slice` bounds the wait. True when the watch is to end.
    bool wait(HANDLE input, DWORD slice, bool& inputReady) {
        HANDLE handles[3] = {stop_.get(), interrupt_.get(), input};
        const DWORD result = ::WaitForMultipleObjects(input ? 3 : 2, handles, FALSE, slice);
        inputReady = false;
        if (result == WAIT_OBJECT_0)
            return true;
        if (result == WAIT_OBJECT_0 + 1) {
            ::ResetEvent(interrupt_.get());
            report(ConsoleEnd::Interrupted);
        } else if (result == WAIT_OBJECT_0 + 2) {
            inputReady = true;
        } else if (result == WAIT_FAILED) {
            return true;
        }
        return false;
    }

    // Console input: key presses are read and dropped; Ctrl-Z or Ctrl-D end
    // the input as Ctrl-D does on a terminal elsewhere.
    bool consoleInput(HANDLE input) {
        INPUT_RECORD records[32];
        DWORD count = 0;
        if (!::ReadConsoleInputW(input, records, 32, &count))
            return false;
        for (DWORD index = 0; index < count; ++index) {
            const INPUT_RECORD& record = records[index];
            if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
                const wchar_t typed = record.Event.KeyEvent.uChar.UnicodeChar;
                if (typed == 0x1A || typed == 0x04)
                    return false;
            }
        }
        return true;
    }

    void run() {
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        const DWORD type =
            input && input != INVALID_HANDLE_VALUE ? ::GetFileType(input) : FILE_TYPE_UNKNOWN;
        DWORD mode = 0;
        const bool console = type == FILE_TYPE_CHAR && ::GetConsoleMode(input, &mode);
        const DWORD slice = static_cast<DWORD>(
            clock().realInterval(std::chrono::duration_cast<Clock::Duration>(kPipeSlice)).count());
        bool inputOpen = input && input != INVALID_HANDLE_VALUE;
        if (!inputOpen)
            report(ConsoleEnd::InputEnded);
        bool ready = false;
        for (;;) {
            if (inputOpen && console) {
                if (wait(input, INFINITE, ready))
                    return;
                if (ready && !consoleInput(input)) {
                    inputOpen = false;
                    report(ConsoleEnd::InputEnded);
                }
            } else if (inputOpen && type == FILE_TYPE_PIPE) {
                if (wait(nullptr, slice, ready))
                    return;
                DWORD available = 0;
                if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
                    inputOpen = false;
                    report(ConsoleEnd::InputEnded);
                } else if (available > 0 && !drain(input, available)) {
                    inputOpen = false;
                    report(ConsoleEnd::InputEnded);
                }
            } else if (inputOpen) {
                // A file or the NUL device: read to its end, which comes at once.
                while (drain(input, 4096)) {
                }
                inputOpen = false;
                report(ConsoleEnd::InputEnded);
            } else if (wait(nullptr, INFINITE, ready)) {
                return;
            }
        }
    }

    // Reads and drops up to `bytes`; false at the end of the input.
    static bool drain(HANDLE input, DWORD bytes) {
        char buffer[4096];
        DWORD got = 0;
        const DWORD wanted = bytes < sizeof buffer ? bytes : sizeof buffer;
        return ::ReadFile(input, buffer, wanted, &got, nullptr) && got > 0;
    }

    std::function<void(ConsoleEnd)> ended_;
    Handle stop_;
    Handle interrupt_;
    bool interruptReported_ = false; // the watch thread only
    bool inputEndReported_ = false;
    std::thread thread_;
};

} // namespace

std::unique_ptr<ConsoleWatch> watchConsole(std::function<void(ConsoleEnd)> ended) {
    Handle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Handle interrupt(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop.valid() || !interrupt.valid())
        return nullptr;
    return std::make_unique<WindowsConsoleWatch>(std::move(ended), std::move(stop),
                                                 std::move(interrupt));
}

} // namespace tessell::platform
