// The station's burn history as the production line reads it: what every
// command-line tool records of the cameras it burned, a burn killed midway,
// a file the tool must not touch, `tessell history` itself, and the one
// writer many burns share.

#include "common/sha256.h"
#include "platform/sim/flash_identity.h"
#include "platform/system.h"
#include "records/history_db.h"
#include "records/history_writer.h"
#include "tests/support/process.h"
#include "tests/support/synthetic_image.h"
#include "tests/support/test_env.h"
#include "tests/support/text_match.h"

#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace tessell::testing {
namespace {

using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

json lineCamera(const std::string& hub, int port, const std::string& flashFile) {
    return {{"friendly_name", "Line camera"},
            {"hub", hub},
            {"port", port},
            {"chip_id", "0xC0"},
            {"rom", {{"serial", "ROM-" + hub + "-" + std::to_string(port)}}},
            {"flash", {{"part", "0x79"}, {"file", flashFile}}}};
}

class HistoryStation {
public:
    HistoryStation(const json& devices, const std::string& settings, double timeScale = 0.01)
        : devices_(devices) {
        setTimeScale(timeScale);
        home.write("setting.ini", settings);
        // With a serial-number block, which serial-number burning fills.
        image::SynthesisRequest request = lineImage(ImageFamily::f);
        request.manufacturer = "Line maker";
        request.serialNumber = "00000000";
        image = synthesized(request);
        writeImage(home, "image.bin", image);
    }
    std::string imagePath() const { return (home / "image.bin").string(); }
    void setTimeScale(double scale) {
        home.write("station.json", json{{"time_scale", scale}, {"devices", devices_}}.dump(2));
    }
    EnvironmentChanges environment() const {
        return {{"TESSELL_SIM", (home / "station.json").string()},
                {"TESSELL_HOME", home.path().string()},
                {"XDG_RUNTIME_DIR", home.path().string()},
                {"XDG_CONFIG_HOME", home.path().string()},
                {"TMPDIR", home.path().string()},
                {"TESSELL_TRACE", std::nullopt},
                {"DISPLAY", std::nullopt},
                {"WAYLAND_DISPLAY", std::nullopt}};
    }
    ProcessResult run(const std::vector<std::string>& arguments) const {
        return runProcess(TESSELL_BINARY, arguments, environment(), std::chrono::seconds(60));
    }
    // The records, newest first, as `tessell history` reads them.
    std::vector<BurnRecord> records() const {
        std::vector<BurnRecord> found;
        auto opened = HistoryDb::open(home / kHistoryFileName, HistoryDb::Mode::Read);
        EXPECT_TRUE(opened.db) << opened.problem;
        std::string problem;
        if (!opened.db)
            return found;
        EXPECT_TRUE(opened.db->select(
            {}, platform::processRunning,
            [&](const BurnRecord& record) {
                found.push_back(record);
                return true;
            },
            problem))
            << problem;
        return found;
    }
    sim::SimUsbIdentity flashIdentity(const std::string& file) const {
        const std::string bytes = home.read(file);
        const Bytes flash(bytes.begin(), bytes.end());
        return sim::identityFromFlash(flash, IcType::k, {});
    }
    bool erased(const std::string& file) const {
        const std::string bytes = home.read(file);
        return bytes.find_first_not_of('\xFF') == std::string::npos;
    }

    TempDir home;
    Bytes image;

private:
    json devices_;
};

std::string integrity(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    std::string answer;
    if (sqlite3_open_v2(file.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return answer;
}

// An unattended run, `tessell flash` and `tessell burn` on one station of two
// cameras: each camera burned is one record under its own port, with the
// serial number that is now in its flash and the image's SHA-256.
TEST(History, EveryCommandLineToolRecordsTheCamerasItBurned) {
    HistoryStation station(
        json::array({lineCamera("1-1", 1, "cam1.flash"), lineCamera("1-1", 2, "cam2.flash")}),
        "[SETTING]\r\nSNFile=sn.txt\r\nSNAddr=1\r\nNUM=2\r\nBIN=image.bin\r\n"
        "[LINE]\r\nStation=line-3 bench 2\r\n");
    station.home.write("sn.txt", "AB12****\r\nAB12003F\r\n");
    const std::string sha = sha256Hex(station.image);

    const ProcessResult unattended = station.run({"-f", station.imagePath(), "-silent"});
    ASSERT_EQ(unattended.status, 0) << unattended.out << unattended.err;
    const ProcessResult flashed = station.run({"flash", "--port", "1-1:2", station.imagePath()});
    ASSERT_EQ(flashed.status, 0) << flashed.out << flashed.err;
    // The USB serial string each camera now presents: these cameras' burn
    // puts the character 0x0007 before the number.
    const std::string presented[] = {station.flashIdentity("cam1.flash").serial,
                                     station.flashIdentity("cam2.flash").serial};
    EXPECT_EQ(presented[0], "\aAB12003F");
    EXPECT_EQ(presented[1], "\aAB120040");

    std::vector<BurnRecord> records = station.records();
    ASSERT_EQ(records.size(), 2u);
    const BurnRecord& flash = records[0];
    const BurnRecord& run = records[1];
    EXPECT_EQ(run.tool, "unattended");
    EXPECT_EQ(flash.tool, "flash");
    for (const BurnRecord* record : {&run, &flash}) {
        const bool first = record == &run;
        SCOPED_TRACE(record->tool);
        EXPECT_EQ(record->hub, "1-1");
        EXPECT_EQ(record->port, first ? 1 : 2);
        EXPECT_EQ(record->result, "pass");
        EXPECT_EQ(record->exitCode, 0);
        EXPECT_EQ(record->serialBurned, first ? "AB12003F" : "AB120040");
        EXPECT_EQ(record->serialAfter, presented[first ? 0 : 1]);
        EXPECT_EQ(record->serialBefore, first ? "ROM-1-1-1" : "ROM-1-1-2");
        EXPECT_EQ(record->pidBefore, 0x0001);
        EXPECT_EQ(record->pidAfter, 0x0002);
        EXPECT_EQ(record->vidAfter, 0x1209);
        EXPECT_EQ(record->station, "line-3 bench 2");
        EXPECT_EQ(record->chipId, 0xC0);
        EXPECT_EQ(record->chipFamily, "ZLTA_7315/23/13/17 series");
        EXPECT_EQ(record->flashCode, 0x79);
        EXPECT_FALSE(record->flashName.empty());
        EXPECT_EQ(record->imageName, "image.bin");
        EXPECT_EQ(record->imageSize, station.image.size());
        EXPECT_EQ(record->imageSha256, sha);
        EXPECT_EQ(record->toolVersion, TESSELL_VERSION);
        ASSERT_EQ(record->started.size(), 24u) << record->started;
        EXPECT_EQ(record->started[10], 'T');
        EXPECT_EQ(record->started.back(), 'Z');
        EXPECT_LE(record->started, record->ended);
        EXPECT_TRUE(record->durationMs && *record->durationMs >= 0);
    }

    // Both cameras burned together: one record each, told apart by row,
    // slot and port.
    ASSERT_EQ(station.run({"ports", "set", "1-1:2", "1-1:1"}).status, 0);
    const ProcessResult burned = station.run({"burn", "--once"});
    ASSERT_EQ(burned.status, 0) << burned.out << burned.err;
    records = station.records();
    ASSERT_EQ(records.size(), 4u);
    std::set<std::string> ids;
    std::set<int> ports;
    for (const BurnRecord& record : records)
        ids.insert(record.id);
    EXPECT_EQ(ids.size(), 4u);
    for (int at = 0; at < 2; ++at) {
        const BurnRecord& record = records[static_cast<std::size_t>(at)];
        EXPECT_EQ(record.tool, "burn");
        EXPECT_EQ(record.result, "pass");
        EXPECT_EQ(record.rowStatus, "Complete");
        EXPECT_FALSE(record.exitCode);
        EXPECT_EQ(record.imageSha256, sha);
        ASSERT_TRUE(record.row && record.slot);
        // Rows follow the cameras, slots the taught order (port 2 first).
        EXPECT_EQ(*record.slot, record.port == 2 ? 1 : 2) << record.port;
        EXPECT_EQ(record.serialBefore, presented[record.port == 1 ? 0 : 1]);
        ports.insert(record.port);
    }
    EXPECT_EQ(ports, (std::set<int>{1, 2}));
    EXPECT_NE(records[0].row, records[1].row);
}

// A station killed (kill -9) in the middle of a burn of sixteen cameras: the
// next start shows every camera it touched, the finished ones with their
// outcome and the others aborted; the cameras without a record were never
// written; the file passes SQLite's integrity check.
TEST(History, BurnKilledMidwayLeavesEveryTouchedCameraOnRecord) {
    json devices = json::array();
    std::vector<std::string> ports = {"ports", "set"};
    for (int index = 0; index < 16; ++index) {
        const std::string hub = index < 8 ? "sim-hub-1" : "sim-hub-2";
        devices.push_back(lineCamera(hub, index % 8 + 1, "cam" + std::to_string(index) + ".flash"));
        ports.push_back(hub + ":" + std::to_string(index % 8 + 1));
    }
    // Slow enough that some cameras finish while others still burn.
    HistoryStation station(devices, "[SETTING]\r\nNUM=16\r\nBIN=image.bin\r\n", 0.2);
    ASSERT_EQ(station.run(ports).status, 0);

    std::vector<std::string> arguments = {TESSELL_BINARY, "burn", "--once"};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable)
        environment.emplace_back(*variable);
    for (const auto& [name, value] : station.environment())
        if (value)
            environment.push_back(name + "=" + *value);
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Killed once a camera has its outcome while another is still burning.
    int finished = 0, open = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && !(finished >= 1 && open >= 1)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        auto opened = HistoryDb::open(station.home / kHistoryFileName, HistoryDb::Mode::Read);
        if (!opened.db)
            continue;
        finished = open = 0;
        std::string problem;
        opened.db->select(
            {}, {},
            [&](const BurnRecord& record) {
                (record.ended.empty() ? open : finished)++;
                return true;
            },
            problem);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the burn ended before it could be killed";
    ASSERT_GE(finished, 1);
    ASSERT_GE(open, 1);

    EXPECT_EQ(integrity(station.home / kHistoryFileName), "ok");
    // Read back, an intent whose process is gone shows as aborted; each
    // camera touched has its record, and a camera without one was never
    // written.
    const std::vector<BurnRecord> killed = station.records();
    std::map<std::string, std::string> outcomes; // id -> result
    std::set<int> recorded;
    for (const BurnRecord& record : killed) {
        const int camera = (record.hub == "sim-hub-1" ? 0 : 8) + record.port - 1;
        EXPECT_TRUE(recorded.insert(camera).second) << "one record per camera";
        EXPECT_EQ(record.result, record.ended.empty() ? "aborted" : "pass") << record.error;
        outcomes[record.id] = record.result;
    }
    EXPECT_GE(killed.size(), 2u);
    for (int camera = 0; camera < 16; ++camera) {
        if (!recorded.count(camera)) {
            EXPECT_TRUE(station.erased("cam" + std::to_string(camera) + ".flash")) << camera;
        }
    }

    // The next start marks them so, with the time it found them, and the
    // station burns on.
    station.setTimeScale(0.01);
    const ProcessResult next = station.run({"burn", "--once"});
    EXPECT_EQ(next.status, 0) << next.err;
    // Said in the station's log, which the console shows as it grows.
    EXPECT_TRUE(contains(next.out, "ended without an outcome; recorded as aborted")) << next.out;
    const std::vector<BurnRecord> after = station.records();
    ASSERT_EQ(after.size(), killed.size() + 16);
    for (std::size_t at = 16; at < after.size(); ++at) {
        const BurnRecord& record = after[at];
        EXPECT_EQ(record.result, outcomes[record.id]);
        EXPECT_EQ(record.abortedFound.empty(), record.result != "aborted");
    }
    for (std::size_t at = 0; at < 16; ++at)
        EXPECT_EQ(after[at].result, "pass");
    EXPECT_EQ(integrity(station.home / kHistoryFileName), "ok");
}

bool execute(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.string().c_str(), &db);
    const bool done = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

BurnRecord storedRecord(const std::string& id, const std::string& started, int port) {
    BurnRecord record;
    record.id = id;
    record.station = "bench";
    record.tool = "flash";
    record.toolVersion = "0.1.0";
    record.hub = "1-1";
    record.port = port;
    record.chipFamily = "ZLTA_7312";
    record.imageName = "image.bin";
    record.imageSize = 4096;
    record.imageSha256 = std::string(64, port == 2 ? 'b' : 'a');
    record.started = started;
    return record;
}

// A history this tool cannot read, or one a newer tool wrote, stays exactly
// as it is: the burn still passes, the operator is told why nothing is
// recorded, and `tessell history` refuses with 2.
TEST(History, UnreadableOrNewerFileIsKeptByteForByte) {
    HistoryStation station(json::array({lineCamera("1-1", 1, "cam1.flash")}), "[SETTING]\r\n");
    const auto file = station.home / kHistoryFileName;
    struct Case {
        const char* name;
        const char* said;
    };
    for (const Case& c :
         {Case{"garbage", "cannot be read"}, Case{"newer", "was written by a newer tool (schema 2"},
          Case{"foreign", "is not a burn history of this tool"}}) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(file);
        if (std::string(c.name) == "garbage") {
            std::string bytes(8192, '\0');
            for (std::size_t at = 0; at < bytes.size(); ++at)
                bytes[at] = static_cast<char>(at * 131 % 251);
            station.home.write(kHistoryFileName, bytes);
        } else if (std::string(c.name) == "newer") {
            ASSERT_TRUE(HistoryDb::open(file, HistoryDb::Mode::Write).db);
            ASSERT_TRUE(execute(file, "PRAGMA user_version = 2; PRAGMA journal_mode = DELETE"));
        } else {
            ASSERT_TRUE(execute(file, "CREATE TABLE parts (name TEXT); INSERT INTO parts "
                                      "VALUES ('lens')"));
        }
        const std::string bytes = station.home.read(kHistoryFileName);
        const ProcessResult flashed = station.run({"flash", station.imagePath()});
        EXPECT_EQ(flashed.status, 0) << flashed.err;
        EXPECT_TRUE(contains(flashed.err, c.said)) << flashed.err;
        EXPECT_TRUE(contains(flashed.err, "burns are not recorded")) << flashed.err;
        EXPECT_TRUE(station.home.read(kHistoryFileName) == bytes) << "the file is untouched";
        const ProcessResult listed = station.run({"history"});
        EXPECT_EQ(listed.status, 2);
        EXPECT_TRUE(contains(listed.err, c.said)) << listed.err;
        EXPECT_TRUE(station.home.read(kHistoryFileName) == bytes);
    }
}

// `tessell history`: the filters, newest first, JSON Lines, CSV a
// spreadsheet opens, the summary, and the exit codes scripts branch on.
TEST(History, QueriesFiltersFormatsAndExitCodes) {
    HistoryStation station(json::array(), "[SETTING]\r\n");
    {
        std::vector<BurnRecord> records = {
            storedRecord("00000000-0000-4000-8000-00000000000a", "2026-12-08T10:00:00.000Z", 1),
            storedRecord("00000000-0000-4000-8000-00000000000b", "2026-12-09T09:00:00.000Z", 2),
            storedRecord("00000000-0000-4000-8000-00000000000c", "2026-12-09T09:30:00.000Z", 3),
            storedRecord("00000000-0000-4000-8000-00000000000d", "2026-12-09T09:40:00.000Z", 4)};
        records[0].serialBurned = "AB12003F";
        records[3].processId = platform::currentProcessId(); // still burning
        std::vector<HistoryDb::Write> writes;
        for (const BurnRecord& record : records)
            writes.push_back({&record, false});
        BurnRecord passed = records[0], failed = records[1];
        passed.result = "pass";
        passed.ended = "2026-12-08T10:00:12.000Z";
        passed.durationMs = 12000;
        failed.result = "fail";
        failed.ended = "2026-12-09T09:00:30.000Z";
        failed.durationMs = 30000;
        failed.exitCode = 2;
        failed.error = "flash says \"no\", stop";
        writes.push_back({&passed, true});
        writes.push_back({&failed, true});
        auto opened = HistoryDb::open(station.home / kHistoryFileName, HistoryDb::Mode::Write);
        ASSERT_TRUE(opened.db) << opened.problem;
        std::vector<std::string> problems;
        ASSERT_TRUE(opened.db->write(writes, problems));
        EXPECT_EQ(problems, std::vector<std::string>(6));
    }
    const auto ids = [](const ProcessResult& run) {
        std::string found;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            const json record = json::parse(line, nullptr, false);
            EXPECT_FALSE(record.is_discarded()) << line;
            found += record.value("id", "?").back();
        }
        return found;
    };
    const ProcessResult all = station.run({"history", "--json"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(ids(all), "dcba");
    const json newest = json::parse(all.out.substr(0, all.out.find('\n')));
    EXPECT_EQ(newest["result"], "running");
    EXPECT_EQ(newest["row"], nullptr);
    EXPECT_EQ(
        json::parse(all.out.substr(all.out.rfind('\n', all.out.size() - 2) + 1))["serial_burned"],
        "AB12003F");

    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string ids;
    };
    for (const Case& c : std::vector<Case>{
             {{"--serial", "AB12003F"}, 0, "a"},
             {{"--result", "aborted"}, 0, "c"},
             {{"--result", "fail", "--port", "1-1:2"}, 0, "b"},
             {{"--result", "pass", "--port", "1-1:2"}, 1, ""},
             {{"--since", "2026-12-09T09:00:00Z", "--until", "2026-12-09T09:30"}, 0, "cb"},
             {{"--until", "2026-12-08"}, 0, "a"},
             {{"--image", "BBBB"}, 0, "b"},
             {{"--limit", "2"}, 0, "dc"},
             {{"--result", "maybe"}, 2, ""},
             {{"--since", "yesterday"}, 2, ""},
             {{"--limit", "0"}, 2, ""},
             {{"--image", "xyz"}, 2, ""}}) {
        std::vector<std::string> arguments = {"history", "--json"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProcessResult run = station.run(arguments);
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(ids(run), c.ids);
    }

    const ProcessResult csv = station.run({"history", "--csv", "--port", "1-1:2"});
    EXPECT_EQ(csv.status, 0);
    EXPECT_TRUE(csv.out.rfind("id,sequence,station,tool,", 0) == 0) << csv.out;
    EXPECT_TRUE(contains(csv.out, ",fail,2,,\"flash says \"\"no\"\", stop\",")) << csv.out;
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 2);

    const ProcessResult summary = station.run({"history", "--summary"});
    EXPECT_EQ(summary.status, 0);
    EXPECT_TRUE(contains(summary.out, "2026-12-08       1       0        0  100.0%"))
        << summary.out;
    EXPECT_TRUE(contains(summary.out, "2026-12-09       0       1        2    0.0%"))
        << summary.out;
    EXPECT_TRUE(contains(summary.out, "median burn time: 21.0 s over 2 burns")) << summary.out;

    std::filesystem::remove(station.home / kHistoryFileName);
    const ProcessResult none = station.run({"history"});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(contains(none.err, "no history yet")) << none.err;
}

// Sixteen burns record at once through the one writer; a file another
// process holds locked costs a burn no more than the bound, and the record
// that could not be written is named. What is written cannot be deleted or
// rewritten.
TEST(HistoryWriter, ManyBurnsAtOnceAndALockedFileNeverHoldABurnLong) {
    TempDir dir;
    const auto file = dir / kHistoryFileName;
    std::mutex mutex;
    std::vector<std::string> problems;
    {
        auto opened = HistoryDb::open(file, HistoryDb::Mode::Write);
        ASSERT_TRUE(opened.db) << opened.problem;
        HistoryWriter writer(
            std::move(opened.db),
            [&](std::string_view line) {
                const std::lock_guard lock(mutex);
                problems.emplace_back(line);
            },
            std::chrono::milliseconds(300));
        std::vector<std::thread> burns;
        for (int port = 1; port <= 16; ++port)
            burns.emplace_back([&writer, port] {
                BurnRecord record =
                    storedRecord(newRecordId(), recordTime(std::chrono::system_clock::now()), port);
                writer.recordIntent(record);
                record.result = "pass";
                record.ended = recordTime(std::chrono::system_clock::now());
                writer.recordOutcome(record);
            });
        for (std::thread& burn : burns)
            burn.join();
        EXPECT_TRUE(problems.empty()) << problems.front();

        sqlite3* holder = nullptr;
        ASSERT_EQ(sqlite3_open(file.string().c_str(), &holder), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        const auto start = std::chrono::steady_clock::now();
        writer.recordIntent(storedRecord(newRecordId(), "2026-12-09T10:00:00.000Z", 9));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
        {
            const std::lock_guard lock(mutex);
            ASSERT_EQ(problems.size(), 1u);
            EXPECT_TRUE(contains(problems[0], "the record of 1-1:9 is not yet written"))
                << problems[0];
        }
        // The writer gives up once the other process has held the file for
        // its busy time-out, and says so.
        for (int wait = 0; wait < 500; ++wait) {
            {
                const std::lock_guard lock(mutex);
                if (problems.size() >= 2)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
        const std::lock_guard lock(mutex);
        ASSERT_EQ(problems.size(), 2u);
        EXPECT_TRUE(contains(problems[1], "intent of 1-1:9")) << problems[1];
        EXPECT_TRUE(contains(problems[1], "locked")) << problems[1];
    }
    auto opened = HistoryDb::open(file, HistoryDb::Mode::Read);
    ASSERT_TRUE(opened.db);
    std::string problem;
    int passed = 0;
    opened.db->select(
        {}, {},
        [&](const BurnRecord& record) {
            passed += record.result == "pass";
            return true;
        },
        problem);
    EXPECT_EQ(passed, 16);
    EXPECT_FALSE(execute(file, "DELETE FROM burns"));
    EXPECT_FALSE(execute(file, "UPDATE burns SET result = 'fail'"));
    EXPECT_EQ(integrity(file), "ok");
}

} // namespace
} // namespace tessell::testing
