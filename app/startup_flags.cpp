#include "app/startup_flags.h"

#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <string_view>

namespace tessell {

namespace {

// Options that take the next word as their value, in the order they are
// applied (the last one given wins).
constexpr std::array<std::string_view, 3> kImageOptions = {"f", "s", "S"};
constexpr std::array<std::string_view, 11> kSwitches = {
    "silent", "Silent", "unattended", "Unattended",   "m",           "w",
    "W",      "y",      "v",          "forcerestart", "Forcerestart"};
// Options that take the next word as their value and name no image.
constexpr std::string_view kWaitOption = "wait";

bool isImageOption(std::string_view name) {
    return std::find(kImageOptions.begin(), kImageOptions.end(), name) != kImageOptions.end();
}

bool isSwitch(std::string_view name) {
    return std::find(kSwitches.begin(), kSwitches.end(), name) != kSwitches.end();
}

std::string quotedToken(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

} // namespace

bool StartupFlags::namesImage() const {
    return !namedImage.empty() && namedImage != CCommandLineInfoEx::kNoValue;
}

StartupFlags applyStartupOptions(const CCommandLineInfoEx& commandLine) {
    StartupFlags flags;
    for (const auto name : kImageOptions) {
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
    if (std::string wait; commandLine.GetOption(kWaitOption, wait)) {
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

namespace tessell {

std::string emptyImageOption(const CCommandLineInfoEx& commandLine) {
    std::string winner;
    std::string value;
    for (const auto name : kImageOptions) {
        std::string given;
        if (commandLine.GetOption(name, given)) {
            winner = "-" + std::string(name);
            value = given;
        }
    }
    return !winner.empty() && value.empty() ? winner : std::string();
}

std::vector<std::string> unusedArguments(std::span<const std::string> arguments) {
    std::vector<std::string> lines;
    std::string pending; // the option the next word would be the value of
    for (const std::string& token : arguments) {
        if (isOptionToken(token)) {
            const std::string_view name = std::string_view(token).substr(1);
            if (!isImageOption(name) && !isSwitch(name) && name != kWaitOption) {
                std::string line = "tessell: unknown option " + quotedToken(token) + " ignored";
                if (name.find('=') != std::string_view::npos)
                    line += " (an option and its value are two words, as in -f PATH)";
                lines.push_back(std::move(line));
            }
            pending = token;
            continue;
        }
        const std::string_view option = std::string_view(pending).substr(pending.empty() ? 0 : 1);
        if (pending.empty())
            lines.push_back("tessell: " + quotedToken(token) +
                            " ignored: no option takes it (an image goes after -f)");
        else if (isSwitch(option))
            lines.push_back("tessell: " + quotedToken(token) + " after " + pending +
                            " ignored: " + pending + " takes no value");
        else if (!isImageOption(option) && option != kWaitOption)
            lines.push_back("tessell: " + quotedToken(token) + " ignored with the unknown option " +
                            pending);
        pending.clear();
    }
    return lines;
}

} // namespace tessell
