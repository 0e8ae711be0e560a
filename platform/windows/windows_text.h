#pragma once

// Text between the tool (UTF-8) and the wide-character system calls, and the
// system's error texts.

#include <string>
#include <string_view>
#include <windows.h>

namespace tessell::platform::windows {

std::wstring wideText(std::string_view utf8);
std::string utf8Text(std::wstring_view wide);

// The system's message for `error`, lower case first and without the final
// full stop, for the middle of a sentence. The common file errors read as on
// the other platforms ("no such file or directory", "permission denied"), so
// that logs and result files say the same wherever the tool runs.
std::string errorText(DWORD error);

// Closes a kernel handle when it goes out of scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE value) : value_(value) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : value_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = other.release();
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return value_; }
    bool valid() const { return value_ != nullptr && value_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        const HANDLE value = value_;
        value_ = nullptr;
        return value;
    }
    void reset() {
        if (valid())
            ::CloseHandle(value_);
        value_ = nullptr;
    }

private:
    HANDLE value_ = nullptr;
};

} // namespace tessell::platform::windows
