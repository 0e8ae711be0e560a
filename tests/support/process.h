#pragma once

// Runs a program as a child process with a bounded wait, capturing what it
// writes. For end-to-end tests of the built executable.

#include "common/clock.h"
#include "tests/support/test_env.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace tessell::testing {

struct ProcessResult {
    // False when the program had to be killed at the time limit, or could
    // not be started.
    bool finished = false;
    // The exit status (0 to 255) when it exited; -1 when a signal ended it.
    int status = -1;
    std::string out;
    std::string err;
};

// Environment changes for the child: a value sets the variable, nullopt
// removes it; the rest of this process's environment is passed on.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// Where the child's standard output goes.
enum class ChildOutput {
    Captured,   // into ProcessResult::out
    ClosedPipe, // a pipe whose reader has already gone, as when a script stops reading
};

// Runs `program` with `arguments` and waits at most `limit` of the process
// clock (which must be the real one: a ManualClock would end the wait at once).
#ifdef _WIN32
namespace process_detail {

inline std::wstring wide(const std::string& text) {
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

// One argument quoted the way the child's command-line splitting undoes.
inline void appendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

inline HANDLE inheritableFile(const std::filesystem::path& file, DWORD access, DWORD creation) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Under Wine TMPDIR is also Wine's own: its loader makes a folder there, so
// a Windows path would stop the child before it starts. The same folder's
// Unix path names it on drive Z: as well.
inline std::wstring wineTemporaryFolder(const std::wstring& value) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto unixName = kernel ? reinterpret_cast<UnixName>(reinterpret_cast<void*>(
                                       GetProcAddress(kernel, "wine_get_unix_file_name")))
                                 : nullptr;
    if (!unixName || value.size() < 2 || value[1] != L':')
        return value;
    char* name = unixName(value.c_str());
    if (!name)
        return value;
    const std::string text = name;
    HeapFree(GetProcessHeap(), 0, name);
    return wide(text);
}

} // namespace process_detail

inline ProcessResult runProcess(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const EnvironmentChanges& changes = {},
                                Clock::Duration limit = std::chrono::seconds(20),
                                ChildOutput output = ChildOutput::Captured) {
    using process_detail::wide;
    TempDir scratch;
    const auto outFile = scratch / "stdout";
    const auto errFile = scratch / "stderr";

    // The environment block: this process's variables with the changes,
    // sorted by name without regard to case as Windows keeps them.
    std::map<std::wstring, std::wstring> environment;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
            const std::wstring text = entry;
            const auto equals = text.find(L'=', 1);
            if (equals != std::wstring::npos)
                environment[text.substr(0, equals)] = text.substr(equals + 1);
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : changes) {
        const std::wstring wideName = wide(name);
        for (auto it = environment.begin(); it != environment.end();)
            it = _wcsicmp(it->first.c_str(), wideName.c_str()) == 0 ? environment.erase(it)
                                                                    : std::next(it);
        if (value)
            environment[wideName] =
                name == "TMPDIR" ? process_detail::wineTemporaryFolder(wide(*value)) : wide(*value);
    }
    std::wstring block;
    for (const auto& [name, value] : environment)
        block += name + L"=" + value + L'\0';
    block += L'\0';

    std::wstring line;
    process_detail::appendQuoted(line, wide(program));
    for (const std::string& argument : arguments) {
        line += L' ';
        process_detail::appendQuoted(line, wide(argument));
    }

    ProcessResult result;
    // The child inherits every inheritable handle: this process's own
    // standard streams (the test runner's pipes) must not be among them, or
    // the runner waits for a child that outlives its test.
    for (const DWORD stream : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        SetHandleInformation(GetStdHandle(stream), HANDLE_FLAG_INHERIT, 0);
    HANDLE input = process_detail::inheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = INVALID_HANDLE_VALUE;
    if (output == ChildOutput::ClosedPipe) {
        // The read end is closed before the child starts: its first write to
        // standard output meets a pipe without a reader.
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr;
        if (CreatePipe(&readEnd, &out, &inherit, 0))
            CloseHandle(readEnd);
        else
            out = INVALID_HANDLE_VALUE;
    } else {
        out = process_detail::inheritableFile(outFile, GENERIC_WRITE, CREATE_ALWAYS);
    }
    HANDLE err = process_detail::inheritableFile(errFile, GENERIC_WRITE, CREATE_ALWAYS);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION child{};
    const std::wstring application = wide(program);
    const bool handlesOpen =
        input != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE;
    // Under Wine a process start now and then fails while the prefix's
    // services are still coming up; a second try a moment later succeeds.
    bool started = false;
    DWORD startError = handlesOpen ? 0 : GetLastError();
    for (int attempt = 0; handlesOpen && !started && attempt < 3; ++attempt) {
        if (attempt > 0)
            clock().sleepFor(std::chrono::milliseconds(200));
        started = CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE,
                                 CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(),
                                 nullptr, &startup, &child);
        if (!started)
            startError = GetLastError();
    }
    for (HANDLE handle : {input, out, err})
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    if (!started) {
        result.err = "the program did not start (error " + std::to_string(startError) + ")";
        return result;
    }
    CloseHandle(child.hThread);

    const Deadline deadline(limit);
    for (;;) {
        if (WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0) {
            result.finished = true;
            break;
        }
        if (deadline.expired()) {
            TerminateProcess(child.hProcess, 1);
            WaitForSingleObject(child.hProcess, INFINITE);
            break;
        }
        clock().sleepFor(std::chrono::milliseconds(5));
    }
    DWORD code = 0;
    if (result.finished && GetExitCodeProcess(child.hProcess, &code))
        result.status = static_cast<int>(code);
    CloseHandle(child.hProcess);
    result.out = TempDir::readFile(outFile);
    result.err = TempDir::readFile(errFile);
    return result;
}
#else
namespace process_detail {

// Starts `program` with its standard output on `outFd` (or the file `out`)
// and its standard error in the file `err`, SIGPIPE at its default action as
// from a shell; -1 when it could not be started.
inline pid_t spawn(const std::string& program, const std::vector<std::string>& arguments,
                   const EnvironmentChanges& changes, int outFd, const std::filesystem::path& out,
                   const std::filesystem::path& err) {
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos)
            environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : changes) {
        if (value)
            environment[name] = *value;
        else
            environment.erase(name);
    }
    std::vector<std::string> environmentText;
    for (const auto& [name, value] : environment)
        environmentText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& text : environmentText)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> argumentText{program};
    argumentText.insert(argumentText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argumentText)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // A test runner that ignores SIGPIPE must not pass that on.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? child : -1;
}

// Waits for `child` until `limit`, then kills it; whether it ended by
// itself, and its wait status.
inline bool reap(pid_t child, Clock::Duration limit, int& waitStatus) {
    const Deadline deadline(limit);
    for (;;) {
        const pid_t done = waitpid(child, &waitStatus, WNOHANG);
        if (done == child)
            return true;
        if (done < 0 && errno != EINTR)
            return false;
        if (deadline.expired()) {
            kill(child, SIGKILL);
            waitpid(child, &waitStatus, 0);
            return false;
        }
        clock().sleepFor(std::chrono::milliseconds(5));
    }
}

} // namespace process_detail

inline ProcessResult runProcess(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const EnvironmentChanges& changes = {},
                                Clock::Duration limit = std::chrono::seconds(20),
                                ChildOutput output = ChildOutput::Captured) {
    TempDir scratch;
    const auto outFile = scratch / "stdout";
    const auto errFile = scratch / "stderr";
    ProcessResult result;
    // The read end is closed before the child starts: its first write to
    // standard output meets a pipe without a reader.
    int pipeEnds[2] = {-1, -1};
    if (output == ChildOutput::ClosedPipe) {
        if (pipe2(pipeEnds, O_CLOEXEC) != 0)
            return result;
        close(pipeEnds[0]);
    }
    const pid_t child =
        process_detail::spawn(program, arguments, changes, pipeEnds[1], outFile, errFile);
    if (output == ChildOutput::ClosedPipe)
        close(pipeEnds[1]);
    if (child < 0)
        return result;
    int waitStatus = 0;
    result.finished = process_detail::reap(child, limit, waitStatus);
    if (result.finished && WIFEXITED(waitStatus))
        result.status = WEXITSTATUS(waitStatus);
    result.out = TempDir::readFile(outFile);
    result.err = TempDir::readFile(errFile);
    return result;
}

// A program running beside the test, its output readable while it runs;
// killed at the end of the test if it still runs.
class BackgroundProcess {
public:
    BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments,
                      const EnvironmentChanges& changes = {})
        : pid_(process_detail::spawn(program, arguments, changes, -1, scratch_ / "stdout",
                                     scratch_ / "stderr")) {}
    ~BackgroundProcess() {
        if (pid_ > 0 && !ended_)
            kill(SIGKILL);
    }
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::string out() const { return TempDir::readFile(scratch_ / "stdout"); }
    std::string err() const { return TempDir::readFile(scratch_ / "stderr"); }
    // Sends `signal` and waits for the end it causes.
    void kill(int signal) {
        ::kill(pid_, signal);
        wait(std::chrono::seconds(30));
    }
    // Waits at most `limit` for the end (killing it then): what it did.
    ProcessResult wait(Clock::Duration limit) {
        ProcessResult result;
        if (pid_ > 0 && !ended_) {
            finished_ = process_detail::reap(pid_, limit, waitStatus_);
            ended_ = true;
        }
        result.finished = finished_;
        if (WIFEXITED(waitStatus_))
            result.status = WEXITSTATUS(waitStatus_);
        result.out = out();
        result.err = err();
        return result;
    }
    // Whether it still runs (an end found here is kept for wait()).
    bool running() {
        if (pid_ <= 0 || ended_)
            return false;
        if (waitpid(pid_, &waitStatus_, WNOHANG) != pid_)
            return true;
        ended_ = finished_ = true;
        return false;
    }
    bool killedBySignal() const { return ended_ && WIFSIGNALED(waitStatus_); }

private:
    TempDir scratch_;
    pid_t pid_;
    bool ended_ = false;
    bool finished_ = false;
    int waitStatus_ = 0;
};
#endif

} // namespace tessell::testing
