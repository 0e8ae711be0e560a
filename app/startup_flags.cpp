#include "app/startup_flags.h"

#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
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
    if (std::string wait; commandLine.GetOption("wait", wait)) {
        // Whole seconds; anything else leaves the default.
        int seconds = 0;
        const auto [end, error] = std::from_chars(wait.data(), wait.data() + wait.size(), seconds);
        if (error == std::errc() && end == wait.data() + wait.size() && seconds >= 0)
            flags.cameraWaitSeconds = std::min(seconds, kMaximumCameraWaitSeconds);
        else if (error == std::errc::result_out_of_range)
            flags.cameraWaitSeconds = kMaximumCameraWaitSeconds;
    }
    return flags;
}

} // namespace tessell
