#include "logs/log_files.h"

#include "common/file_open.h"
#include "common/single_byte_text.h"
#include "platform/local_time.h"

#include <array>
#include <cerrno>
#include <cstdio>
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

// The system's reason for the last failure, for the middle of a sentence.
std::string reasonOf(int error) {
    std::string text = std::generic_category().message(error);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

// Writes all of `bytes` to a new or appended-to file; the reason when it
// could not. Unbuffered, so that the bytes go to the system in one write.
std::string writeBytes(const std::filesystem::path& file, const char* mode,
                       std::string_view bytes) {
    errno = 0;
    std::FILE* out = openFile(file, mode);
    if (!out)
        return reasonOf(errno ? errno : EIO);
    std::setvbuf(out, nullptr, _IONBF, 0);
    int error = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size())
        error = errno ? errno : EIO;
    if (std::fclose(out) != 0 && error == 0)
        error = errno ? errno : EIO;
    return error ? reasonOf(error) : std::string();
}

// Whether the file's last byte ends a line (true for an empty file).
bool endsWithLineBreak(const std::filesystem::path& file) {
    std::FILE* in = openFile(file, "rb");
    if (!in)
        return true;
    int last = '\n';
    if (std::fseek(in, -1, SEEK_END) == 0)
        last = std::fgetc(in);
    std::fclose(in);
    return last == '\n' || last == EOF;
}

// Appends one whole record. A file that is new or empty gets `header` first;
// a file whose last line was left open (by a write cut short outside this
// process) gets a line break first, so the record starts on its own line.
// A write that fails takes back what it wrote: cut to the old length, or the
// file removed when this write created it.
std::string appendRecord(const std::filesystem::path& file, std::string_view record,
                         std::string_view header) {
    std::error_code error;
    const bool existed = std::filesystem::exists(file, error);
    const std::uintmax_t oldSize = existed ? std::filesystem::file_size(file, error) : 0;
    if (error)
        return reasonOf(error.value());
    std::string bytes;
    if (oldSize == 0)
        bytes = header;
    else if (!endsWithLineBreak(file))
        bytes = lineBreak;
    bytes += record;
    const std::string problem = writeBytes(file, "ab", bytes);
    if (!problem.empty()) {
        std::error_code ignored;
        if (existed)
            std::filesystem::resize_file(file, oldSize, ignored);
        else
            std::filesystem::remove(file, ignored);
    }
    return problem;
}

// Replaces the file's content through a temporary file and a rename, so that
// a reader sees the old content or the new, never a part. When the new
// content cannot be written the old file goes too: it belongs to another run.
std::string replaceFile(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::path temporary = file;
    temporary += ".new";
    std::string problem = writeBytes(temporary, "wb", bytes);
    std::error_code error;
    if (problem.empty()) {
        std::filesystem::rename(temporary, file, error);
        if (error)
            problem = reasonOf(error.value());
    }
    if (!problem.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        std::filesystem::remove(file, ignored);
    }
    return problem;
}

// Writes `text` (UTF-8) as single-byte text. `newFileText` goes in front when
// an appended-to file is new or empty. An empty folder is one the system
// could not name: nothing is written, rather than a stray file in whatever
// the working folder happens to be.
void writeFile(const LogSettings& settings, const std::filesystem::path& folder, const char* name,
               WriteMode mode, std::string_view text, std::string_view newFileText = {}) {
    if (folder.empty())
        return;
    const auto file = folder / name;
    const std::string problem = mode == WriteMode::Append ? appendRecord(file, toSingleByte(text),
                                                                         toSingleByte(newFileText))
                                                          : replaceFile(file, toSingleByte(text));
    if (!problem.empty() && settings.problems)
        settings.problems->report(file, problem);
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

void WriteProblems::report(const std::filesystem::path& file, std::string_view reason) {
    {
        std::lock_guard lock(mutex_);
        if (!reported_.insert(file.string()).second)
            return;
    }
    if (sink_)
        sink_("cannot write \"" + file.string() + "\": " + std::string(reason));
}

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
    writeFile(settings_, settings_.temporaryFolder, burnLogName, WriteMode::Append, line);
    if (!sameBurnLogFolders_)
        writeFile(settings_, settings_.programFolder, burnLogName, WriteMode::Append, line);
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
    writeFile(settings_, settings_.programFolder, burnResultName, WriteMode::Append, text, header);
}

void LogFiles::WriteTestResult(bool passed) const {
    if (!settings_.cmdLineMode)
        return;
    std::lock_guard lock(fileWriteMutex());
    resultWritten_ = true;
    writeFile(settings_, settings_.programFolder, testResultName, WriteMode::Replace,
              passed ? "TestResult = pass" : "TestResult = fail");
}

void LogFiles::WriteMissingTestResult() const {
    if (!resultWritten_)
        WriteTestResult(false);
}

void LogFiles::WriteCmdModeLog(std::string_view message) const {
    if (!settings_.cmdLineMode)
        return;
    std::lock_guard lock(fileWriteMutex());
    std::string line = stamp();
    line += message;
    line += lineBreak;
    writeFile(settings_, settings_.programFolder, cmdModeLogName, WriteMode::Append, line);
}

} // namespace tessell
