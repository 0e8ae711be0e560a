#include "app/startup_flags.h"

#include "app/command_line.h"

#include <array>
#include <string_view>

namespace tessell {

bool StartupFlags::namesImage() const {
    return !namedImage.empty() && namedImage != CCommandLineInfoEx::kNoValue;
}

StartupFlags applyStartupOptions(const CCommandLineInfoEx& commandLine) {
    StartupFlags flags;
    for (const char* name : {"f", "s", "S"}) {
        if (commandLine.GetOption(name, flags.namedImage))
            flags.cmdLineMode = 1;
    }
    // "forcerestart" and "Forcerestart" are accepted for older station
    // scripts and change nothing.
    constexpr std::array<std::string_view, 4> silentNames = {"silent", "Silent", "unattended",
                                                             "Unattended"};
    for (const auto name : silentNames) {
        if (commandLine.GetOption(name)) {
            flags.cmdLineMode = 1;
            flags.silentMode = 1;
            break;
        }
    }
    if (commandLine.GetOption("m"))
        flags.msgMode = 1;
    if (commandLine.GetOption("w") || commandLine.GetOption("W"))
        flags.acWarnBox = 1;
    if (commandLine.GetOption("y"))
        flags.answerYes = 1;
    return flags;
}

} // namespace tessell
