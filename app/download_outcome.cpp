#include "app/download_outcome.h"

#include "app/exit_codes.h"

namespace tessell {

DownloadKind downloadKindOf(const ToolSettings& settings) {
    if (settings.reworkFlag == 1 && settings.settingsIndex == settingsIndexRework)
        return DownloadKind::Rework;
    if (settings.burnSnFlag == 1)
        return DownloadKind::SerialNumber;
    return DownloadKind::Plain;
}

DownloadStartTexts downloadStartTexts(DownloadKind kind) {
    switch (kind) {
    case DownloadKind::SerialNumber:
        return {"\r\nStart Download (Change Serial Number)...", {}};
    case DownloadKind::Rework:
        return {"\r\nStart Rework...", "  Start Rework..."};
    case DownloadKind::Plain:
        break;
    }
    return {"\r\nStart Download...", "  Start Download..."};
}

DownloadOutcome downloadOutcome(const ToolSettings& settings, bool passed) {
    DownloadOutcome outcome;
    outcome.passed = passed;
    // The start line names serial numbers first, the outcome names a rework
    // first: a rework station with a serial-number file says both.
    const bool rework = settings.reworkFlag == 1 && settings.settingsIndex == settingsIndexRework;
    const bool serial = settings.burnSnFlag == 1;
    if (passed) {
        if (rework) {
            outcome.logLine = "Rework complete.\r\n";
            outcome.message = "Rework complete.";
        } else if (serial) {
            outcome.logLine = "Download (Change SN) complete.\r\n";
            outcome.message = "Download (Change SN) complete.";
        } else {
            outcome.logLine = "Download complete.\r\n\r\n";
            outcome.message = "Download complete.";
        }
        outcome.exitCode = kExitPassed;
        outcome.resultText = "Pass";
    } else {
        if (rework) {
            outcome.logLine = "Rework fail.\r\n";
            outcome.message = "Rework fail.";
            outcome.exitCode = kExitReworkFailed;
        } else if (!serial) {
            outcome.logLine = "Download fail.\r\n";
            outcome.message = "Download fail.";
            outcome.exitCode = kExitDownloadFailed;
        } else {
            outcome.logLine = "Download (Change SN) fail.\r\n";
            outcome.message = "Download (Change SN) fail.";
            outcome.exitCode = kExitSerialDownloadFailed;
        }
        outcome.resultText = "Fail";
    }
    // The toggle alone picks the box's words.
    const bool reworkToggle = settings.reworkFlag == 1;
    outcome.boxCaption = passed ? "Success" : "Fail";
    outcome.boxText = passed ? (reworkToggle ? "Rework complete!" : "Download complete!")
                             : (reworkToggle ? "Rework Fail!" : "Download Fail!");
    return outcome;
}

} // namespace tessell
