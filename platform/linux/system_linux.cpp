#include "platform/system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <system_error>
#include <unistd.h>

namespace tessell::platform {

std::filesystem::path executablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::size_t maximumPathBytes() {
    return PATH_MAX - 1;
}

void ignoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

void binaryStandardStreams() {}

std::filesystem::path systemTemporaryFolder() {
    return "/tmp";
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

int currentProcessId() {
    return static_cast<int>(::getpid());
}

bool processRunning(int processId) {
    if (processId <= 0)
        return false;
    // EPERM: it runs, under another user.
    return ::kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

} // namespace tessell::platform
