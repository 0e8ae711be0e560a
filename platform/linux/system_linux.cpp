#include "platform/system.h"

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

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + (argc > 0 ? argc : 0));
}

} // namespace tessell::platform
