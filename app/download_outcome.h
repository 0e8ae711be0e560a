#pragma once

// What a finished download means for the operator and the production line:
// the log line, the command-line log's message, the exit code, the result
// text of the result record and the closing box of an unattended run. The
// same for every tool that burns cameras, decided only by the settings and
// the result.

#include "station/settings.h"

#include <string>

namespace tessell {

// Which texts a download is told with.
enum class DownloadKind {
    Plain,
    Rework,       // the Re-Work toggle with the rework settings file
    SerialNumber, // serial-number burning on
};

DownloadKind downloadKindOf(const ToolSettings& settings);

// The line a download starts with in the operator's log, and its burn-log line
// (none for serial-number downloads).
struct DownloadStartTexts {
    std::string logLine;
    std::string burnLogLine;
};
DownloadStartTexts downloadStartTexts(DownloadKind kind);

struct DownloadOutcome {
    bool passed = false;
    std::string logLine; // for the operator's log, with its line ends
    std::string message; // for CmdModeLog.log
    int exitCode = 0;
    std::string resultText; // "Pass" or "Fail"
    // The box an unattended run with message boxes shows before it ends.
    std::string boxText;
    std::string boxCaption;
};

DownloadOutcome downloadOutcome(const ToolSettings& settings, bool passed);

} // namespace tessell
