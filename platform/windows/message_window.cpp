#include "platform/windows/message_window.h"

#include "common/clock.h"
#include "common/trace.h"
#include "common/utf16_text.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace tessell::platform::windows {

namespace {

using namespace std::chrono_literals;

// How long opening may take to make the window, and closing to end its thread.
constexpr Clock::Duration kStartBound = 5s;
constexpr Clock::Duration kStopBound = 5s;

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace

struct MessageWindow::State {
    std::wstring className;
    std::wstring title;
    Handler handler;
    Setup setup;
    Teardown teardown;

    std::mutex mutex;
    std::condition_variable changed;
    bool started = false; // the window exists and setup ran, or opening failed
    bool finished = false;
    HWND window = nullptr;
    std::string error;
    std::thread thread;

    void run(std::shared_ptr<State> self);
};

namespace {

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<MessageWindow::State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (state) {
        if (message == WM_CLOSE) {
            if (state->teardown)
                state->teardown(window);
            DestroyWindow(window);
            return 0;
        }
        if (message == WM_DESTROY) {
            PostQuitMessage(0);
            return 0;
        }
        if (state->handler)
            if (const auto answer = state->handler(window, message, wParam, lParam))
                return *answer;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool registerClass(const std::wstring& name, std::string& error) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = name.c_str();
    if (RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS)
        return true;
    error = systemErrorText("RegisterClassExW", GetLastError());
    return false;
}

} // namespace

void MessageWindow::State::run(std::shared_ptr<State> self) {
    std::string problem;
    HWND made = nullptr;
    if (registerClass(className, problem)) {
        made = CreateWindowExW(0, className.c_str(), title.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE,
                               nullptr, GetModuleHandleW(nullptr), self.get());
        if (!made)
            problem = systemErrorText("CreateWindowExW", GetLastError());
    }
    if (made && setup && !setup(made, problem)) {
        SetWindowLongPtrW(made, GWLP_USERDATA, 0);
        DestroyWindow(made);
        made = nullptr;
    }
    {
        std::lock_guard lock(mutex);
        window = made;
        error = problem;
        started = true;
        changed.notify_all();
    }
    if (made) {
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    std::lock_guard lock(mutex);
    window = nullptr;
    finished = true;
    changed.notify_all();
}

std::unique_ptr<MessageWindow> MessageWindow::open(const wchar_t* className, std::wstring title,
                                                   Handler handler, Setup setup, Teardown teardown,
                                                   std::string& error) {
    auto state = std::make_shared<State>();
    state->className = className;
    state->title = std::move(title);
    state->handler = std::move(handler);
    state->setup = std::move(setup);
    state->teardown = std::move(teardown);
    // The thread holds the state too: a thread left to end on its own still
    // finds its handler and window data.
    state->thread = std::thread([state] { state->run(state); });

    std::unique_lock lock(state->mutex);
    clock().waitFor(state->changed, lock, kStartBound, [&] { return state->started; });
    if (state->started && state->window) {
        lock.unlock();
        return std::unique_ptr<MessageWindow>(new MessageWindow(state));
    }
    error = state->started ? state->error : "the window's thread did not start in time";
    const bool ended = state->finished;
    lock.unlock();
    if (ended)
        state->thread.join();
    else
        state->thread.detach();
    return nullptr;
}

MessageWindow::MessageWindow(std::shared_ptr<State> state) : state_(std::move(state)) {}

MessageWindow::~MessageWindow() {
    HWND window;
    {
        std::lock_guard lock(state_->mutex);
        window = state_->window;
    }
    if (window)
        PostMessageW(window, WM_CLOSE, 0, 0);
    if (state_->thread.get_id() == std::this_thread::get_id()) {
        state_->thread.detach();
        return;
    }
    std::unique_lock lock(state_->mutex);
    clock().waitFor(state_->changed, lock, kStopBound, [&] { return state_->finished; });
    const bool ended = state_->finished;
    lock.unlock();
    if (ended) {
        state_->thread.join();
    } else {
        trace::write("message window: its thread did not end in time; left to end on its own");
        state_->thread.detach();
    }
}

HWND MessageWindow::window() const {
    std::lock_guard lock(state_->mutex);
    return state_->window;
}

std::string systemErrorText(const char* what, DWORD code) {
    std::string text = std::string(what) + ": error " + std::to_string(code);
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    if (length != 0 && message) {
        std::u16string_view said(reinterpret_cast<const char16_t*>(message), length);
        while (!said.empty() &&
               (said.back() == u'\r' || said.back() == u'\n' || said.back() == u' '))
            said.remove_suffix(1);
        text += " (" + utf16ToUtf8(said) + ")";
    }
    if (message)
        LocalFree(message);
    return text;
}

} // namespace tessell::platform::windows
