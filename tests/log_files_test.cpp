#include "logs/log_files.h"
#include "tests/support/test_env.h"

#include <atomic>
#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <thread>
#include <vector>

namespace tessell {
namespace {

// The separator the tool puts between a folder and a name.

using testing::TempDir;
namespace fs = std::filesystem;

// The instant the computer shows as this local date and time, whatever its
// time zone, so that the expected stamps below hold on any machine.
std::chrono::system_clock::time_point localInstant(int year, int month, int day, int hour,
                                                   int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&fields));
}

const auto sep12 = localInstant(2016, 9, 12, 14, 3, 7);

LogFiles::Now fixedAt(std::chrono::system_clock::time_point instant) {
    return [instant] { return instant; };
}

class LogFilesTest : public ::testing::Test {
protected:
    LogSettings settings(bool writeLog, bool cmdLineMode, std::string_view format = "",
                         std::string_view header = "") const {
        LogSettings s;
        s.writeLog = writeLog;
        s.cmdLineMode = cmdLineMode;
        s.programFolder = program.path();
        s.temporaryFolder = temp.path();
        s.format = ParseResultTemplate(format);
        s.header = ParseResultTemplate(header);
        return s;
    }

    static ResultRecord passed() {
        ResultRecord record;
        record.pid = 0x000C;
        record.vid = 0x1209;
        record.bcd = 0x0100;
        record.sn = "SN42";
        record.result = "Pass";
        record.errcode = 0;
        return record;
    }

    bool exists(const TempDir& folder, std::string_view name) const {
        return fs::exists(folder / name);
    }

    TempDir program;
    TempDir temp;
};

TEST_F(LogFilesTest, BurnLogWritesTheSameLineToBothCopies) {
    const LogFiles logs(settings(true, false), fixedAt(sep12));
    logs.BurnLog("Download Success");
    logs.BurnLog("100% done, %s %d %n");
    const std::string expected = "[2016/09/12 14:03:07] Download Success\r\n"
                                 "[2016/09/12 14:03:07] 100% done, %s %d %n\r\n";
    EXPECT_EQ(temp.read("burn_log.txt"), expected);
    EXPECT_EQ(program.read("burn_log.txt"), expected);
}

TEST_F(LogFilesTest, FilesAreSingleByteText) {
    const LogFiles logs(settings(true, true), fixedAt(sep12));
    logs.BurnLog("caf\xC3\xA9 \xE2\x82\xAC \xE6\x97\xA5 \xE9");
    EXPECT_EQ(program.read("burn_log.txt"), "[2016/09/12 14:03:07] caf\xE9 ? ? \xE9\r\n");
    logs.WriteCmdModeLog("\xC3\xBC\xC4\x80");
    EXPECT_EQ(program.read("CmdModeLog.log"), "[2016/09/12 14:03:07]\xFC?\r\n");
}

TEST_F(LogFilesTest, WriteLogOffLeavesBurnFilesAloneButCommandLineFilesStillAppear) {
    const LogFiles logs(settings(false, true, "{pid}", "PID"), fixedAt(sep12));
    logs.BurnLog("click download.");
    logs.AppendResultRecord(passed());
    logs.WriteTestResult(true);
    logs.WriteCmdModeLog("Download complete.");
    EXPECT_FALSE(exists(temp, "burn_log.txt"));
    EXPECT_FALSE(exists(program, "burn_log.txt"));
    EXPECT_FALSE(exists(program, "burn_result.txt"));
    EXPECT_EQ(program.read("Result.txt"), "TestResult = pass");
    EXPECT_EQ(program.read("CmdModeLog.log"), "[2016/09/12 14:03:07]Download complete.\r\n");
}

TEST_F(LogFilesTest, CommandLineFilesOnlyInCommandLineMode) {
    const LogFiles window(settings(true, false, "{pid}"), fixedAt(sep12));
    window.WriteTestResult(true);
    window.WriteCmdModeLog("Download complete.");
    window.AppendResultRecord(passed());
    EXPECT_FALSE(exists(program, "Result.txt"));
    EXPECT_FALSE(exists(program, "CmdModeLog.log"));
    EXPECT_TRUE(exists(program, "burn_result.txt")); // records are kept in both modes

    const LogFiles cmd(settings(true, true), fixedAt(localInstant(2024, 1, 5, 8, 9, 4)));
    cmd.WriteTestResult(true);
    cmd.WriteTestResult(false);
    EXPECT_EQ(program.read("Result.txt"), "TestResult = fail"); // the last outcome only
    cmd.WriteTestResult(true);
    EXPECT_EQ(program.read("Result.txt"), "TestResult = pass");
    cmd.WriteCmdModeLog("Download fail.");
    cmd.WriteCmdModeLog("Device PID/VID not match.");
    EXPECT_EQ(program.read("CmdModeLog.log"), "[2024/01/05 08:09:04]Download fail.\r\n"
                                              "[2024/01/05 08:09:04]Device PID/VID not match.\r\n");
}

TEST_F(LogFilesTest, NoResultFileWithoutARecognisedPlaceholderInFormat) {
    for (const char* format : {"", "literal text only", "{foo}{y}{h}{}", "{pid"}) {
        const LogFiles logs(settings(true, true, format, "{pid}"), fixedAt(sep12));
        logs.AppendResultRecord(passed());
        EXPECT_FALSE(exists(program, "burn_result.txt")) << format;
    }
}

TEST_F(LogFilesTest, WorkedExampleByteForByte) {
    const LogFiles logs(
        settings(true, false,
                 "{Y}/{m}/{d} {H}:{M}:{S}{tab}{pid}{tab}{vid}{tab}{result}{tab}{errcode}"),
        fixedAt(sep12));
    logs.AppendResultRecord(passed());
    // Empty HEADER: a new file starts with an empty line.
    EXPECT_EQ(program.read("burn_result.txt"),
              "\r\n2016/09/12 14:03:07\t000c\t1209\tPass\t0\r\n\r\n");
}

TEST_F(LogFilesTest, HeaderOnlyIntoANewFileWithTheRecordsValues) {
    const LogFiles logs(settings(true, false, "{PID}{tab}{sn}{tab}{result}{nl}{errcode}",
                                 "Station {vid}/{pid} from {D}.{m}.{Y}{tab}{bogus}"),
                        fixedAt(sep12));
    logs.AppendResultRecord(passed());
    ResultRecord failed = passed();
    failed.pid = 0x000D;
    failed.sn = "";
    failed.result = "Fail";
    failed.errcode = 2;
    logs.AppendResultRecord(failed);
    EXPECT_EQ(program.read("burn_result.txt"), "Station 1209/000c from 12.09.2016\t{bogus}\r\n"
                                               "000c\t" +
                                                   std::string(28, ' ') +
                                                   "SN42\tPass\r\n0\r\n\r\n" + "000d\t" +
                                                   std::string(32, ' ') + "\tFail\r\n2\r\n\r\n");
}

TEST_F(LogFilesTest, ExistingResultFileIsAppendedToWithoutHeader) {
    program.write("burn_result.txt", "earlier shift\r\n");
    const LogFiles logs(settings(true, false, "{pid}", "HEADER"), fixedAt(sep12));
    logs.AppendResultRecord(passed());
    EXPECT_EQ(program.read("burn_result.txt"), "earlier shift\r\n000c\r\n\r\n");
}

TEST_F(LogFilesTest, HeaderAndRecordShowOneInstant) {
    // A clock that moves one second on every reading.
    std::atomic<int> readings{0};
    const LogFiles logs(settings(true, false, "{M}:{S}", "{M}:{S}"),
                        [&readings] { return sep12 + std::chrono::seconds(readings++); });
    logs.AppendResultRecord(passed());
    EXPECT_EQ(program.read("burn_result.txt"), "03:07\r\n03:07\r\n\r\n");
}

TEST_F(LogFilesTest, AFolderThatCannotBeWrittenOnlyLosesItsOwnCopyAndIsNamedOnce) {
    LogSettings noProgram = settings(true, true, "{pid}");
    noProgram.programFolder = program / "missing" / "folder";
    std::vector<std::string> told;
    noProgram.problems = std::make_shared<WriteProblems>(
        [&told](std::string_view message) { told.emplace_back(message); });
    const LogFiles logs(noProgram, fixedAt(sep12));
    logs.BurnLog("still logged");
    logs.BurnLog("still logged");
    logs.AppendResultRecord(passed());
    logs.WriteTestResult(true);
    logs.WriteCmdModeLog("Download complete.");
    logs.WriteCmdModeLog("Download complete.");
    EXPECT_EQ(temp.read("burn_log.txt"), "[2016/09/12 14:03:07] still logged\r\n"
                                         "[2016/09/12 14:03:07] still logged\r\n");
    EXPECT_FALSE(fs::exists(noProgram.programFolder));
    const std::string folder = noProgram.programFolder.string();
    EXPECT_EQ(told, (std::vector<std::string>{"cannot write \"" + folder + testing::kPathSeparator +
                                                  "burn_log.txt\": no such file or directory",
                                              "cannot write \"" + folder + testing::kPathSeparator +
                                                  "burn_result.txt\": no such file or directory",
                                              "cannot write \"" + folder + testing::kPathSeparator +
                                                  "Result.txt\": no such file or directory",
                                              "cannot write \"" + folder + testing::kPathSeparator +
                                                  "CmdModeLog.log\": no such file or directory"}));

    LogSettings noTemp = settings(true, false);
    noTemp.temporaryFolder = temp / "gone";
    LogFiles(noTemp, fixedAt(sep12)).BurnLog("program copy");
    EXPECT_EQ(program.read("burn_log.txt"), "[2016/09/12 14:03:07] program copy\r\n");
}

#ifndef _WIN32
// The file-size limit stops a write part-way, as a full disk does.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        const rlimit limit{bytes, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

#endif

TEST_F(LogFilesTest, AWriteCutShortLeavesNothingOfItBehind) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no per-process file-size limit to cut a write short";
#else
    const std::string earlier = "[2016/09/12 14:03:06] earlier\r\n";
    program.write("burn_log.txt", earlier);
    program.write("Result.txt", "TestResult = pass");
    LogSettings s = settings(true, true, "{result}", "Result");
    s.temporaryFolder.clear();
    std::vector<std::string> told;
    s.problems = std::make_shared<WriteProblems>(
        [&told](std::string_view message) { told.emplace_back(message); });
    const LogFiles logs(s, fixedAt(sep12));
    {
        // Room for a few bytes more: each line is cut after them.
        FileSizeLimit full(earlier.size() + 8);
        logs.BurnLog("a line that does not fit");
        logs.BurnLog("nor does this one");
    }
    EXPECT_EQ(program.read("burn_log.txt"), earlier) << "no part of a line stays";
    {
        FileSizeLimit full(8);
        logs.WriteTestResult(false);
    }
    // The previous camera's pass must not stand for this run.
    EXPECT_FALSE(exists(program, "Result.txt"));
    EXPECT_FALSE(exists(program, "Result.txt.new"));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[0].find("/burn_log.txt\": file too large"), std::string::npos) << told[0];
    EXPECT_NE(told[1].find("/Result.txt\": file too large"), std::string::npos) << told[1];

    logs.WriteTestResult(true);
    EXPECT_EQ(program.read("Result.txt"), "TestResult = pass");
    EXPECT_FALSE(exists(program, "Result.txt.new"));

    // A line left open by a cut elsewhere: the next one starts on its own
    // line. A result file left empty gets its header.
    program.write("burn_log.txt", "[2016/09/12 14:03:06] ear");
    logs.BurnLog("next");
    EXPECT_EQ(program.read("burn_log.txt"),
              "[2016/09/12 14:03:06] ear\r\n[2016/09/12 14:03:07] next\r\n");
    program.write("burn_result.txt", "");
    logs.AppendResultRecord(passed());
    EXPECT_EQ(program.read("burn_result.txt"), "Result\r\nPass\r\n\r\n");

#endif
}

TEST_F(LogFilesTest, ProgramInTheTemporaryFolderGetsEachLineOnce) {
    LogSettings s = settings(true, false);
    s.temporaryFolder = program.path() / "."; // the same folder, spelt differently
    const LogFiles logs(s, fixedAt(sep12));
    logs.BurnLog("once");
    EXPECT_EQ(program.read("burn_log.txt"), "[2016/09/12 14:03:07] once\r\n");
}

TEST_F(LogFilesTest, LinesOfConcurrentThreadsStayWholeAndInTheSameOrder) {
    const LogFiles logs(settings(true, false), fixedAt(sep12));
    constexpr int threads = 4;
    constexpr int linesPerThread = 300;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&logs, t] {
            for (int i = 0; i < linesPerThread; ++i) {
                // Lengths vary up to beyond a stream buffer, so a split write would show.
                logs.BurnLog("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                             std::string(static_cast<std::size_t>((i * 37) % 3000), 'a' + t));
            }
        });
    }
    for (auto& worker : workers)
        worker.join();

    const std::string tempCopy = temp.read("burn_log.txt");
    EXPECT_EQ(program.read("burn_log.txt"), tempCopy);

    const std::regex line(R"(\[2016/09/12 14:03:07\] thread (\d) line (\d+) ([a-d]*))");
    std::set<std::pair<int, int>> seen;
    std::size_t start = 0;
    while (start < tempCopy.size()) {
        const std::size_t end = tempCopy.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "last line without CR LF";
        const std::string text = tempCopy.substr(start, end - start);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text.substr(0, 80);
        const int t = std::stoi(match[1]);
        const int i = std::stoi(match[2]);
        EXPECT_EQ(match[3].str(), std::string(static_cast<std::size_t>((i * 37) % 3000), 'a' + t));
        seen.emplace(t, i);
        start = end + 2;
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads * linesPerThread));
}

} // namespace
} // namespace tessell
