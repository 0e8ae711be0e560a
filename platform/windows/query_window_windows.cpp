#include "common/trace.h"
#include "platform/query_socket.h"
#include "platform/windows/message_window.h"
#include "platform/windows/query_window.h"

#include <cctype>
#include <charconv>

namespace tessell::platform {

namespace windows {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

static_assert(kQueryAcCheck == WM_APP + static_cast<UINT>(ToolQuestion::AcCheck));
static_assert(kQueryCameraOpen == WM_APP + static_cast<UINT>(ToolQuestion::CameraOpen));
static_assert(kQueryImageBuffer == WM_APP + static_cast<UINT>(ToolQuestion::ImageBuffer));

// The request line the tool's handler understands for a message.
const char* requestFor(UINT message) {
    switch (message) {
    case kQueryAcCheck:
        return "0x8001";
    case kQueryCameraOpen:
        return "0x8002";
    case kQueryImageBuffer:
        return "0x8003";
    }
    return nullptr;
}

class WindowQueryServer final : public QueryServer {
public:
    WindowQueryServer(std::filesystem::path path, std::unique_ptr<MessageWindow> window)
        : path_(std::move(path)), window_(std::move(window)) {}
    const std::filesystem::path& path() const override { return path_; }

private:
    std::filesystem::path path_;
    std::unique_ptr<MessageWindow> window_;
};

} // namespace

std::wstring windowTitleFor(const std::filesystem::path& socketPath) {
    return socketPath.wstring();
}

std::optional<UINT> queryMessageFor(std::string_view request) {
    const std::optional<ToolQuestion> question = parseToolQuestion(request);
    if (!question)
        return std::nullopt;
    return WM_APP + static_cast<UINT>(*question);
}

LRESULT queryResultFor(std::string_view answer) {
    answer = trimmed(answer);
    long value = 0;
    const auto [end, problem] =
        std::from_chars(answer.data(), answer.data() + answer.size(), value);
    if (problem != std::errc() || end != answer.data() + answer.size())
        return 0;
    return static_cast<LRESULT>(value);
}

} // namespace windows

std::unique_ptr<QueryServer> serveQueries(const std::filesystem::path& socketPath,
                                          QueryServer::Handler handler, std::string& error) {
    using namespace windows;
    // One window per name: a second one would leave a client asking
    // whichever it finds first.
    const std::wstring title = windowTitleFor(socketPath);
    if (FindWindowExW(HWND_MESSAGE, nullptr, kQueryWindowClass, title.c_str())) {
        error = "another tool answers questions for " + socketPath.string() + " already";
        return nullptr;
    }
    auto answer = [handler = std::move(handler)](HWND, UINT message, WPARAM,
                                                 LPARAM) -> std::optional<LRESULT> {
        const char* request = requestFor(message);
        if (!request)
            return std::nullopt;
        const std::string line = handler(request);
        const LRESULT result = queryResultFor(line);
        if (result == 0 && trimmed(line) != "0")
            trace::writef("query window: message 0x%X answered \"%s\"; result 0", message,
                          line.c_str());
        return result;
    };
    auto window =
        MessageWindow::open(kQueryWindowClass, title, std::move(answer), nullptr, nullptr, error);
    if (!window)
        return nullptr;
    return std::make_unique<WindowQueryServer>(socketPath, std::move(window));
}

std::optional<std::string> askQuery(const std::filesystem::path& socketPath,
                                    const std::string& request, Clock::Duration timeout,
                                    std::string& error) {
    using namespace windows;
    const std::wstring title = windowTitleFor(socketPath);
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, kQueryWindowClass,
                                title.empty() ? nullptr : title.c_str());
    if (!window) {
        error = "no running tool answers questions for " + socketPath.string();
        return std::nullopt;
    }
    const auto message = queryMessageFor(request);
    if (!message)
        return "ERR unknown request";
    const auto milliseconds = clock().realInterval(timeout).count();
    DWORD_PTR result = 0;
    const UINT limit = static_cast<UINT>(std::clamp<long long>(milliseconds, 1, 0x7FFFFFFF));
    // Not "abort if hung": the answer may wait for a message box the
    // operator has to close, and the timeout bounds the wait anyway.
    if (!SendMessageTimeoutW(window, *message, 0, 0, SMTO_NORMAL | SMTO_ERRORONEXIT, limit,
                             &result)) {
        const DWORD code = GetLastError();
        error = code == ERROR_TIMEOUT || code == 0
                    ? "no answer from the tool's query window in time"
                    : systemErrorText("SendMessageTimeoutW", code);
        return std::nullopt;
    }
    return std::to_string(static_cast<LRESULT>(result));
}

} // namespace tessell::platform
