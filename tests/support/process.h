#pragma once

// Runs a program as a child process with a bounded wait, capturing what it
// writes. For end-to-end tests of the built executable.

#include "common/clock.h"
#include "tests/support/test_env.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

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
// The child starts with SIGPIPE at its default action, as from a shell.
inline ProcessResult runProcess(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const EnvironmentChanges& changes = {},
                                Clock::Duration limit = std::chrono::seconds(20),
                                ChildOutput output = ChildOutput::Captured) {
    TempDir scratch;
    const auto outFile = scratch / "stdout";
    const auto errFile = scratch / "stderr";

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

    ProcessResult result;
    // The read end is closed before the child starts: its first write to
    // standard output meets a pipe without a reader.
    int pipeEnds[2] = {-1, -1};
    if (output == ChildOutput::ClosedPipe) {
        if (pipe2(pipeEnds, O_CLOEXEC) != 0)
            return result;
        close(pipeEnds[0]);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output == ChildOutput::ClosedPipe)
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
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
    if (output == ChildOutput::ClosedPipe)
        close(pipeEnds[1]);

    if (spawned != 0)
        return result;

    int waitStatus = 0;
    const Deadline deadline(limit);
    for (;;) {
        const pid_t done = waitpid(child, &waitStatus, WNOHANG);
        if (done == child) {
            result.finished = true;
            break;
        }
        if (done < 0 && errno != EINTR)
            return result;
        if (deadline.expired()) {
            kill(child, SIGKILL);
            waitpid(child, &waitStatus, 0);
            break;
        }
        clock().sleepFor(std::chrono::milliseconds(5));
    }
    if (result.finished && WIFEXITED(waitStatus))
        result.status = WEXITSTATUS(waitStatus);
    result.out = TempDir::readFile(outFile);
    result.err = TempDir::readFile(errFile);
    return result;
}

} // namespace tessell::testing
