#pragma once

// The dialog's thread in a Win32 program: a message-only window on that
// thread receives the controller's timers (SetTimer, with the clock's real
// intervals, so that a fast simulated station shortens them) and a private
// message for each piece of work other threads post; the message drains the
// queue on the window's thread. Message boxes and file choosers run nested
// message loops, which keep both flowing, as the framework's modal loops do.

#include "common/dialog_loop.h"

#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <windows.h>

namespace tessell::win32 {

class Win32DialogThread final : public DialogThread {
public:
    using TimerHandler = std::function<void(int id)>;

    // Creates the message-only window; on the dialog's thread.
    explicit Win32DialogThread(TimerHandler onTimer);
    ~Win32DialogThread() override;
    Win32DialogThread(const Win32DialogThread&) = delete;
    Win32DialogThread& operator=(const Win32DialogThread&) = delete;

    // False when the message-only window could not be created.
    bool ready() const { return window_ != nullptr; }

    void post(std::function<void()> work) override;
    void startTimer(int id, Clock::Duration period) override;
    void stopTimer(int id) override;
    bool timerRunning(int id) const { return timers_.count(id) != 0; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void runPosted();

    TimerHandler onTimer_;
    HWND window_ = nullptr;
    std::mutex mutex_;
    std::deque<std::function<void()>> work_;
    std::set<int> timers_; // dialog's thread only
};

} // namespace tessell::win32
