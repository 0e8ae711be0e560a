#pragma once

// How the single-camera tool starts: attended in its window, or unattended
// for a factory script.

#include <span>
#include <string>
#include <vector>

namespace tessell {

class CCommandLineInfoEx;

// Stations start the tool, then plug the camera in.
inline constexpr int kDefaultCameraWaitSeconds = 60;
inline constexpr int kMaximumCameraWaitSeconds = 3600;

// Filled before the single-camera tool shows anything. Command-line mode can
// later be switched on (by the `CmdLineMode` setting or a named image), never
// off.
struct StartupFlags {
    // Image file named on the command line; "" or "TRUE" name none.
    std::string namedImage;
    // Run unattended: start the download by itself and end after one result.
    int cmdLineMode = 0;
    // In command-line mode, still show the result and error message boxes.
    int msgMode = 0;
    // Keep the window hidden at all times.
    int silentMode = 0;
    // In command-line mode, show the AC-power message box before giving up.
    int acWarnBox = 0;
    // Without a window to ask in, a question is answered Yes ("-y") or No.
    int answerYes = 0;
    // Unattended with no camera plugged in: how long to wait for one
    // ("-wait SECONDS"; 0 ends at once).
    int cameraWaitSeconds = kDefaultCameraWaitSeconds;

    // Whether `namedImage` names an image ("-f" without a value leaves "TRUE").
    bool namesImage() const;

    bool operator==(const StartupFlags&) const = default;
};

// The flags the options ask for. Later options of a pair win: "s" overrides
// "f", and "S" overrides "s".
StartupFlags applyStartupOptions(const CCommandLineInfoEx& commandLine);

// The option that names the image ("-f", "-s" or "-S", the one that wins)
// when it was given an empty path, as a shell gives for an unset variable
// in quotes; empty otherwise. Such a run must not fall back on the image the
// settings name.
std::string emptyImageOption(const CCommandLineInfoEx& commandLine);

// One line for standard error for each argument the tool does not use:
// options it does not know (they stay ignored, so that a station script with
// extra switches still runs), and words no option takes: a path with no
// option before it, or a word after an option that takes no value.
std::vector<std::string> unusedArguments(std::span<const std::string> arguments);

} // namespace tessell
