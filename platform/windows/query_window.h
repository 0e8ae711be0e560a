#pragma once

// On Windows the running tool answers other processes' questions as window
// messages, the way factory scripts have always asked it: WM_APP+1 (0x8001)
// for the AC-power check, WM_APP+2 (0x8002) "is a camera open", WM_APP+3
// (0x8003) "does an image buffer exist". The answer is the message result:
// 1, 0 or -1 as the question's request line is answered.
//
// serveQueries (platform/query_socket.h) opens a message-only window of the
// class kQueryWindowClass on a thread of its own; a script finds it with
// FindWindowExW(HWND_MESSAGE, nullptr, L"TessellQuery", nullptr) and sends
// the message with SendMessageTimeoutW. askQuery does just that. The socket
// path of both functions names no file on Windows: it is the window's title,
// so that tools (or tests) serving different paths do not answer for each
// other; askQuery with an empty path asks any window of the class.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <windows.h>

namespace tessell::platform::windows {

inline constexpr wchar_t kQueryWindowClass[] = L"TessellQuery";

inline constexpr UINT kQueryAcCheck = WM_APP + 1;
inline constexpr UINT kQueryCameraOpen = WM_APP + 2;
inline constexpr UINT kQueryImageBuffer = WM_APP + 3;

// The title of the window that serves `socketPath`.
std::wstring windowTitleFor(const std::filesystem::path& socketPath);

// The message for a request line ("ac", "camera", "image", or the message
// number "0x8001".."0x8003"; letter case and surrounding blanks ignored).
std::optional<UINT> queryMessageFor(std::string_view request);

// The message result for an answer line: its number when it is one ("1",
// "0", "-1"); 0 for anything else (an error line: nothing is confirmed).
LRESULT queryResultFor(std::string_view answer);

} // namespace tessell::platform::windows
