#pragma once

// A message-only window (parent HWND_MESSAGE) served by a thread of its own:
// what the device notifications and the answers to other processes' window
// messages need. Such a window is never shown, needs no desktop and is found
// by other processes with FindWindowExW(HWND_MESSAGE, nullptr, class, nullptr).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <windows.h>

namespace tessell::platform::windows {

class MessageWindow {
public:
    // Handles one message on the window's thread; none hands it to the
    // default handling.
    using Handler = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;
    // Runs on the window's thread right after the window was made, before
    // any message is handled; false (with the error said) gives up the window.
    using Setup = std::function<bool(HWND, std::string& error)>;
    // Runs on the window's thread just before the window is destroyed.
    using Teardown = std::function<void(HWND)>;

    // Starts the thread and waits, within a bound, until the window (of
    // this class, with this title) exists and `setup` ran; null, with
    // `error` saying why, when it cannot.
    static std::unique_ptr<MessageWindow> open(const wchar_t* className, std::wstring title,
                                               Handler handler, Setup setup, Teardown teardown,
                                               std::string& error);

    // Closes the window and waits, within a bound, for its thread to end.
    // From the window's own thread (a handler dropping the last user) or
    // when the thread does not end in time, the thread is left to end on
    // its own; everything it uses stays alive until then.
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    HWND window() const;

    struct State;

private:
    explicit MessageWindow(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// "text: error 5 (Access is denied.)" for GetLastError-style codes.
std::string systemErrorText(const char* what, DWORD code);

} // namespace tessell::platform::windows
