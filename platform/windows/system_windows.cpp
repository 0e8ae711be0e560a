#include "platform/system.h"
#include "platform/windows/windows_text.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <string>

namespace tessell::platform {

std::filesystem::path executablePath() {
    // The buffer grows until the whole path fits: a long-path install folder
    // is longer than MAX_PATH.
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

std::filesystem::path userDataFolder() {
    return {};
}

bool mayCreateFilesIn(const std::filesystem::path& folder) {
    // A folder's attributes do not say whether this user may write in it:
    // try. The probe goes when its handle closes, also if the process ends.
    const std::filesystem::path probe =
        folder / (L"~tessell-probe-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp");
    const HANDLE file = ::CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

std::size_t maximumPathBytes() {
    // MAX_PATH characters less the terminating NUL.
    return MAX_PATH - 1;
}

void ignoreBrokenPipes() {
    // Windows has no signal for it: a write to a pipe without a reader fails
    // with an error and the process carries on.
}

void binaryStandardStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::filesystem::path systemTemporaryFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD length = ::GetTempPathW(MAX_PATH + 2, buffer);
    if (length == 0 || length > MAX_PATH + 1)
        return {};
    std::wstring folder(buffer, length);
    // GetTempPathW ends the folder with a backslash.
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return std::filesystem::path(folder);
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    // argv holds the arguments in the ANSI code page, which loses every
    // character outside it; the wide command line has them all.
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index)
        arguments.push_back(windows::utf8Text(wide[index]));
    ::LocalFree(wide);
    return arguments;
}

std::string hostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &length))
        return {};
    return windows::utf8Text(std::wstring_view(name, length));
}

int currentProcessId() {
    return static_cast<int>(::GetCurrentProcessId());
}

bool processRunning(int processId) {
    if (processId <= 0)
        return false;
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(processId));
    if (!process)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

std::string processStartMark(int processId) {
    if (processId <= 0)
        return {};
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(processId));
    if (!process)
        return {};
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool known = ::GetProcessTimes(process, &created, &exited, &kernel, &user);
    ::CloseHandle(process);
    if (!known)
        return {};
    return std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                          created.dwLowDateTime);
}

} // namespace tessell::platform
