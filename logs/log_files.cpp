#include "logs/log_files.h"

#include "common/single_byte_text.h"
#include "platform/local_time.h"

#include <array>
#include <fstream>
#include <mutex>
#include <system_error>

namespace tessell {

namespace {

constexpr const char* burnLogName = "burn_log.txt";
constexpr const char* burnResultName = "burn_result.txt";
constexpr const char* testResultName = "Result.txt";
constexpr const char* cmdModeLogName = "CmdModeLog.log";
constexpr std::string_view lineBreak = "\r\n";

// Every entry of every file in this process is written under one lock, so an
// entry of the download worker and one of the dialog never meet inside a line,
// and both burn-log copies get the lines in the same order.
std::mutex& fileWriteMutex() {
    static std::mutex mutex;
    return mutex;
}

enum class WriteMode { Append, Replace };

// Opens, writes `text` (UTF-8) as single-byte text and closes. `newFileText`
// goes in front when an appended-to file does not exist yet. In append mode
// the whole entry goes to the end of the file in one write, so even another
// process appending to it cannot split the entry. Failures are dropped: a full
// disk or a locked file must not change a download's outcome. An empty folder
// is one the system could not name: nothing is written, rather than a stray
// file in whatever the working folder happens to be.
void writeFile(const std::filesystem::path& folder, const char* name, WriteMode mode,
               std::string_view text, std::string_view newFileText = {}) {
    if (folder.empty())
        return;
    const auto file = folder / name;
    std::string bytes;
    if (!newFileText.empty() && mode == WriteMode::Append) {
        std::error_code error;
        if (!std::filesystem::exists(file, error) && !error)
            bytes = toSingleByte(newFileText);
    }
    bytes += toSingleByte(text);
    std::ofstream out(file, std::ios::binary |
                                (mode == WriteMode::Append ? std::ios::app : std::ios::trunc));
    if (!out)
        return;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string formatLocalTime(const std::tm& localTime, const char* format) {
    std::array<char, 64> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), format, &localTime);
    return std::string(text.data(), length);
}

bool sameFolder(const std::filesystem::path& first, const std::filesystem::path& second) {
    if (first.empty() || second.empty())
        return false;
    std::error_code error;
    return std::filesystem::equivalent(first, second, error) && !error;
}

} // namespace

LogFiles::LogFiles(LogSettings settings, Now now)
    : settings_(std::move(settings)),
      now_(now ? std::move(now) : Now([] { return std::chrono::system_clock::now(); })),
      // When the program lives in the temporary folder both copies are one
      // file; writing it twice would double every line.
      sameBurnLogFolders_(sameFolder(settings_.programFolder, settings_.temporaryFolder)) {}

std::string LogFiles::stamp() const {
    return formatLocalTime(platform::localTime(now_()), "[%Y/%m/%d %H:%M:%S]");
}

void LogFiles::BurnLog(std::string_view message) const {
    if (!settings_.writeLog)
        return;
    // The stamp is taken under the lock too, so the lines of a file stay in
    // the order of their time stamps.
    std::lock_guard lock(fileWriteMutex());
    std::string line = stamp();
    line += ' ';
    line += message;
    line += lineBreak;
    writeFile(settings_.temporaryFolder, burnLogName, WriteMode::Append, line);
    if (!sameBurnLogFolders_)
        writeFile(settings_.programFolder, burnLogName, WriteMode::Append, line);
}

void LogFiles::AppendResultRecord(const ResultRecord& record) const {
    if (!settings_.writeLog || settings_.format.placeholders.empty())
        return;
    // One instant for the header and the record, so a new file's header and
    // its first record never straddle a second.
    std::lock_guard lock(fileWriteMutex());
    const std::tm localTime = platform::localTime(now_());
    // The header goes only into a new file, even when HEADER is empty: the file
    // then starts with an empty line.
    std::string header = expandResultTemplate(settings_.header, record, localTime);
    header += lineBreak;
    std::string text = expandResultTemplate(settings_.format, record, localTime);
    text += lineBreak;
    text += lineBreak;
    writeFile(settings_.programFolder, burnResultName, WriteMode::Append, text, header);
}

void LogFiles::WriteTestResult(bool passed) const {
    if (!settings_.cmdLineMode)
        return;
    std::lock_guard lock(fileWriteMutex());
    writeFile(settings_.programFolder, testResultName, WriteMode::Replace,
              passed ? "TestResult = pass" : "TestResult = fail");
}

void LogFiles::WriteCmdModeLog(std::string_view message) const {
    if (!settings_.cmdLineMode)
        return;
    std::lock_guard lock(fileWriteMutex());
    std::string line = stamp();
    line += message;
    line += lineBreak;
    writeFile(settings_.programFolder, cmdModeLogName, WriteMode::Append, line);
}

} // namespace tessell
