#include "platform/system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace tessell::platform {

std::filesystem::path executablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

std::filesystem::path userDataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data && std::filesystem::path(data).is_absolute())
        return std::filesystem::path(data) / "tessell";
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        return {};
    return std::filesystem::path(home) / ".local" / "share" / "tessell";
}

bool mayCreateFilesIn(const std::filesystem::path& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
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

std::string processStartMark(int processId) {
    if (processId <= 0)
        return {};
    std::ifstream file("/proc/" + std::to_string(processId) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name (field 2) may hold spaces and parentheses: the fields
    // after its closing parenthesis are plain; the start time in clock ticks
    // since boot is the 22nd field, the 20th after the name.
    const auto nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos)
        return {};
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index)
        if (index == 22)
            return field;
    return {};
}

} // namespace tessell::platform
