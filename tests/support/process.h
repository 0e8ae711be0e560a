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

// Runs `program` with `arguments` and waits at most `limit` of the process
// clock (which must be the real one: a ManualClock would end the wait at once).
inline ProcessResult runProcess(const std::string& program,
                                const std::vector<std::string>& arguments,
                                const EnvironmentChanges& changes = {},
                                Clock::Duration limit = std::chrono::seconds(20)) {
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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);

    ProcessResult result;
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
