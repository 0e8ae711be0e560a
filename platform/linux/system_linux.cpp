#include "platform/system.h"

#include <climits>
#include <csignal>
#include <system_error>

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

std::filesystem::path systemTemporaryFolder() {
    return "/tmp";
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
}

} // namespace tessell::platform
