#include "ui/win32/win32_dialog_thread.h"

#include <algorithm>
#include <chrono>

namespace tessell::win32 {

namespace {

constexpr UINT kRunPosted = WM_APP + 0x40;
constexpr const wchar_t* kClassName = L"TessellDialogThread";

void registerDialogThreadClass(WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    // A second registration fails with "class exists", which is fine.
    RegisterClassExW(&windowClass);
}

} // namespace

Win32DialogThread::Win32DialogThread(TimerHandler onTimer) : onTimer_(std::move(onTimer)) {
    registerDialogThreadClass(&Win32DialogThread::windowProc);
    window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (window_)
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32DialogThread::~Win32DialogThread() {
    if (!window_)
        return;
    for (const int id : timers_)
        KillTimer(window_, static_cast<UINT_PTR>(id));
    // Work still queued dies with the thread object, as it would with a
    // closed window.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
}

void Win32DialogThread::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    // Even from the dialog's own thread the work waits its turn. Should the
    // message queue be full, the work runs with the next message drained.
    if (window_)
        PostMessageW(window_, kRunPosted, 0, 0);
}

void Win32DialogThread::runPosted() {
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (work_.empty())
                return;
            work = std::move(work_.front());
            work_.pop_front();
        }
        work();
    }
}

void Win32DialogThread::startTimer(int id, Clock::Duration period) {
    if (!window_)
        return;
    const auto real =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock().realInterval(period));
    const auto milliseconds = static_cast<UINT>(
        std::clamp<long long>(real.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
    // SetTimer on a running id restarts it with the new period.
    if (SetTimer(window_, static_cast<UINT_PTR>(id), milliseconds, nullptr))
        timers_.insert(id);
}

void Win32DialogThread::stopTimer(int id) {
    if (timers_.erase(id) && window_)
        KillTimer(window_, static_cast<UINT_PTR>(id));
}

LRESULT CALLBACK Win32DialogThread::windowProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    auto* self = reinterpret_cast<Win32DialogThread*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self) {
        if (message == kRunPosted) {
            self->runPosted();
            return 0;
        }
        if (message == WM_TIMER) {
            const int id = static_cast<int>(wParam);
            // A tick already queued when its timer was stopped is dropped.
            if (self->timers_.count(id) && self->onTimer_)
                self->onTimer_(id);
            return 0;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace tessell::win32
