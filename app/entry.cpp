#include "app/entry.h"

#include "app/settings_command.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

namespace {

constexpr const char* kUsage =
    "Usage: tessell [options]            download firmware into a camera\n"
    "       tessell settings [--pid ID]  print the effective settings as JSON\n"
    "\n"
    "Options:\n"
    "  --help       show this text and exit\n"
    "  --version    show the version and exit\n";

} // namespace

int runTool(int argc, char** argv) {
    if (argc >= 2) {
        const std::string_view first = argv[1];
        if (first == "--help" || first == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (first == "settings")
            return runSettingsCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout,
                                      std::cerr);
        if (first == "--version") {
            std::printf("tessell %s\n", TESSELL_VERSION);
            return 0;
        }
    }
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace tessell
