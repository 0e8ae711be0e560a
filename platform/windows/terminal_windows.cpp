#include "platform/terminal.h"

#include <windows.h>

namespace tessell::platform {

bool isTerminal(StandardStream stream) {
    const HANDLE handle =
        ::GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    // NUL is a character device too, but only a console has a console mode.
    DWORD mode = 0;
    return ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode) != 0;
}

} // namespace tessell::platform
