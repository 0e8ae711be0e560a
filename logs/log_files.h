#pragma once

// The text files the single-camera tool leaves for the production line:
// "burn_log.txt" (two copies), "burn_result.txt", "Result.txt" and
// "CmdModeLog.log". Single-byte text, CR LF line ends, every entry opened,
// written and closed at once. A file that cannot be written is skipped
// without a word: the outcome of a download never depends on its logs.

#include "logs/result_template.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string_view>

namespace tessell {

// Fixed for the life of the process once the settings are read.
struct LogSettings {
    bool writeLog = false;    // `WriteLog`: burn log and result records
    bool cmdLineMode = false; // `cmdLineMode`: Result.txt and CmdModeLog.log
    std::filesystem::path programFolder;
    std::filesystem::path temporaryFolder; // an empty path: no temporary copy of the burn log
    ResultTemplate header;                 // HEADER of the LOG section
    ResultTemplate format;                 // FORMAT of the LOG section
};

class LogFiles {
public:
    using Now = std::function<std::chrono::system_clock::time_point()>;

    // `now` is the source of the wall-clock instant for time stamps; the
    // system clock unless a test fixes it.
    explicit LogFiles(LogSettings settings, Now now = {});

    // Appends "[YYYY/MM/DD hh:mm:ss] message" CR LF to both "burn_log.txt"
    // copies when `WriteLog` is on. Safe to call from several threads: each
    // entry arrives whole in each file.
    void BurnLog(std::string_view message) const;

    // Appends one record to "burn_result.txt" (the header first when the file
    // is new), when `WriteLog` is on and FORMAT has a recognised placeholder.
    void AppendResultRecord(const ResultRecord& record) const;

    // Command-line mode: "Result.txt" holds "TestResult = pass" or
    // "TestResult = fail" and nothing else.
    void WriteTestResult(bool passed) const;

    // Command-line mode: appends "[YYYY/MM/DD hh:mm:ss]message" CR LF to
    // "CmdModeLog.log".
    void WriteCmdModeLog(std::string_view message) const;

private:
    std::string stamp() const;

    LogSettings settings_;
    Now now_;
    bool sameBurnLogFolders_ = false;
};

} // namespace tessell
