#pragma once

// What the Win32 window tests share: the display check, a window's text and
// the message pump through a dialog's own filter.

#include "ui/win32/tessell_window.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <windows.h>

// Top-level windows need a display (under Wine: xvfb-run).
#define SKIP_WITHOUT_DISPLAY()                                                                     \
    do {                                                                                           \
        const char* display = std::getenv("DISPLAY");                                              \
        if (!display || !*display)                                                                 \
            GTEST_SKIP() << "top-level windows need a display (DISPLAY is not set)";               \
    } while (false)

namespace tessell::testing {

inline std::wstring windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Runs the messages waiting for the thread, through the dialog's own filter.
inline void pump(HWND dialog) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        win32::dispatchMessage(dialog, message);
}

} // namespace tessell::testing
