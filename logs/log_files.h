#pragma once

// The text files the single-camera tool leaves for the production line:
// "burn_log.txt" (two copies), "burn_result.txt", "Result.txt" and
// "CmdModeLog.log". Single-byte text, CR LF line ends, every entry opened,
// written and closed at once.
//
// The outcome of a download never depends on its files, but a file that
// cannot be written is not lost in silence either: it is named once, as a
// warning. A failed write leaves nothing half-written behind: an appended
// record goes whole or not at all, and "Result.txt" is replaced whole (or,
// when the new one cannot be written, removed, so that no earlier result
// stands for this run).

#include "logs/result_template.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace tessell {

// Tells the operator about each file the tool could not write, once per
// file however often it fails. Shared by every writer of a run; any thread.
class WriteProblems {
public:
    // Receives one message, such as: cannot write "/station/Result.txt": no
    // space left on device (no line end; the sink frames it).
    using Sink = std::function<void(std::string_view message)>;

    explicit WriteProblems(Sink sink) : sink_(std::move(sink)) {}

    void report(const std::filesystem::path& file, std::string_view reason);

private:
    Sink sink_;
    std::mutex mutex_;
    std::set<std::string> reported_;
};

// Fixed for the life of the process once the settings are read.
struct LogSettings {
    bool writeLog = false;    // `WriteLog`: burn log and result records
    bool cmdLineMode = false; // `cmdLineMode`: Result.txt and CmdModeLog.log
    std::filesystem::path programFolder;
    std::filesystem::path temporaryFolder; // an empty path: no temporary copy of the burn log
    ResultTemplate header;                 // HEADER of the LOG section
    ResultTemplate format;                 // FORMAT of the LOG section
    // Where failed writes are told; none: they go untold.
    std::shared_ptr<WriteProblems> problems;
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
    // is new or empty), when `WriteLog` is on and FORMAT has a recognised
    // placeholder.
    void AppendResultRecord(const ResultRecord& record) const;

    // Command-line mode: "Result.txt" holds "TestResult = pass" or
    // "TestResult = fail" and nothing else.
    void WriteTestResult(bool passed) const;

    // Command-line mode, at the end of a run: a run that wrote no result
    // (it stopped before or without a download) leaves "TestResult = fail",
    // so that the previous camera's pass never stands for this one.
    void WriteMissingTestResult() const;

    // Command-line mode: appends "[YYYY/MM/DD hh:mm:ss]message" CR LF to
    // "CmdModeLog.log".
    void WriteCmdModeLog(std::string_view message) const;

private:
    std::string stamp() const;

    LogSettings settings_;
    Now now_;
    bool sameBurnLogFolders_ = false;
    mutable std::atomic<bool> resultWritten_{false};
};

} // namespace tessell
