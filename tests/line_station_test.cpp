// A line of stations, each a `tessell burn` process of its own against one
// line database: four stations of sixteen cameras burning five cycles at
// once, stations killed in the middle of a burn, and the database going away
// in the middle of a cycle.

#include "app/burn_command.h"
#include "platform/sim/flash_identity.h"
#include "tests/support/line_server.h"
#include "tests/support/process.h"
#include "tests/support/synthetic_image.h"
#include "tests/support/test_env.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

namespace tessell::testing {
namespace {

#ifndef _WIN32

using nlohmann::json;

// A station of `cameras` simulated cameras in line mode, every camera of a
// multi-camera burn with its own number.
struct LineStation {
    // `slow`: a flash that takes its time to program, so that a burn can be
    // caught in the middle.
    LineStation(const std::string& database, const std::string& name, int cameras,
                double timeScale = 0.01, bool slow = false)
        : cameras_(cameras), timeScale_(timeScale), slow_(slow) {
        for (int index = 0; index < cameras; ++index)
            ports.push_back(hub(index) + ":" + std::to_string(index % 8 + 1));
        plug(true);
        home.write("setting.ini", "[SETTING]\r\nNUM=" + std::to_string(cameras) +
                                      "\r\nSNFile=sn.txt\r\n[LINE]\r\nDatabase=" + database +
                                      "\r\nStation=" + name + "\r\nSerialsInMultiBurn=1\r\n");
        home.write("sn.txt", "QX7*****\r\nQX700FF0\r\n");
        writeImage(home, "sf.bin", synthesized(lineImage(ImageFamily::f)));
        EXPECT_EQ(run(ports).status, 0);
    }
    void setTimeScale(double scale) {
        timeScale_ = scale;
        plug(true);
    }
    static std::string hub(int index) { return index < 8 ? "sim-hub-1" : "sim-hub-2"; }
    static std::string flashFile(int index) { return "cam" + std::to_string(index) + ".flash"; }
    // Plugs every camera in, or pulls every one out.
    void plug(bool present) const {
        json devices = json::array();
        for (int index = 0; index < cameras_; ++index)
            devices.push_back({{"hub", hub(index)},
                               {"port", index % 8 + 1},
                               {"present", present},
                               {"chip_id", "0xC0"},
                               {"flash", {{"part", "0x79"}, {"file", flashFile(index)}}}});
        // Each 4 KiB sector takes most of the flash's busy budget to erase:
        // seconds of real time per camera even at the station's time scale,
        // so that the burn is still writing on a loaded machine.
        if (slow_)
            for (json& device : devices)
                device["flash_timing"] = {{"page_program_us", 3000}, {"sector_erase_ms", 1500}};
        home.write("station.json", json{{"time_scale", timeScale_}, {"devices", devices}}.dump(2));
    }
    EnvironmentChanges environment() const {
        return {{"TESSELL_SIM", (home / "station.json").string()},
                {"TESSELL_HOME", home.path().string()},
                {"TESSELL_DATABASE", std::nullopt},
                {"XDG_RUNTIME_DIR", home.path().string()},
                {"XDG_CONFIG_HOME", home.path().string()},
                {"TMPDIR", home.path().string()}};
    }
    ProcessResult run(const std::vector<std::string>& arguments) const {
        return runProcess(TESSELL_BINARY, arguments, environment(), std::chrono::seconds(120));
    }
    std::unique_ptr<BackgroundProcess> start(const std::vector<std::string>& arguments) const {
        return std::make_unique<BackgroundProcess>(TESSELL_BINARY, arguments, environment());
    }
    std::string flash(int index) const { return home.read(flashFile(index)); }
    // The serial number each camera's flash holds now.
    std::vector<std::string> burnedNumbers() const {
        std::vector<std::string> numbers;
        for (int index = 0; index < cameras_; ++index) {
            const std::string bytes = flash(index);
            numbers.push_back(
                sim::identityFromFlash(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                       IcType::k, {})
                    .manufacturer);
        }
        return numbers;
    }
    TempDir home;
    std::vector<std::string> ports = {"ports", "set"};

private:
    int cameras_;
    double timeScale_;
    bool slow_;
};

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

// Drives the cameras of a `tessell burn --cycles N --json` station the way an
// operator does: after each cycle the flashes are read and every camera
// pulled out, then plugged in again once the station waits for them.
struct CycleDriver {
    const LineStation& station;
    BackgroundProcess& process;
    int cycles;
    std::vector<std::vector<std::string>> numbers; // per cycle, per camera
    std::vector<std::string> results;              // each cycle's results line
    bool pulled = false;

    // One step; true once every cycle ended or the process did.
    bool step(const std::function<void(int cycle)>& afterCycle = {}) {
        const std::string out = process.out();
        const std::size_t done = occurrences(out, "{\"results\":");
        if (done > results.size()) {
            const std::size_t from = out.rfind("{\"results\":");
            results.push_back(out.substr(from, out.find('\n', from) - from));
            numbers.push_back(station.burnedNumbers());
            if (afterCycle)
                afterCycle(static_cast<int>(results.size()));
            if (static_cast<int>(results.size()) < cycles) {
                station.plug(false);
                pulled = true;
            }
        }
        if (pulled && occurrences(out, "Waiting for") > results.size()) {
            station.plug(true);
            pulled = false;
        }
        return static_cast<int>(results.size()) >= cycles || !process.running();
    }
};

TEST(LineStations, FourStationsOfSixteenCamerasBurnFiveCyclesAndNeverANumberTwice) {
    TESSELL_NEEDS_LINE_SERVER();
    ScratchLine line;
    constexpr int kStations = 4;
    constexpr int kCycles = 5;
    constexpr int kCameras = 16;
    std::vector<std::unique_ptr<LineStation>> stations;
    std::vector<std::unique_ptr<BackgroundProcess>> processes;
    std::vector<CycleDriver> drivers;
    for (int index = 0; index < kStations; ++index)
        stations.push_back(std::make_unique<LineStation>(
            line.connection(), "station-" + std::to_string(index), kCameras));
    for (int index = 0; index < kStations; ++index) {
        processes.push_back(
            stations[index]->start({"burn", "--cycles", std::to_string(kCycles), "--json"}));
        drivers.push_back({*stations[index], *processes[index], kCycles, {}, {}, false});
    }
    const Deadline deadline(std::chrono::seconds(120));
    for (bool all = false; !all && !deadline.expired();) {
        all = true;
        for (CycleDriver& driver : drivers)
            all = driver.step() && all;
        clock().sleepFor(std::chrono::milliseconds(5));
    }
    std::set<std::string> distinct;
    std::size_t total = 0;
    for (int index = 0; index < kStations; ++index) {
        const ProcessResult ended = processes[index]->wait(std::chrono::seconds(30));
        EXPECT_EQ(ended.status, kBurnAllComplete) << ended.out << ended.err;
        ASSERT_EQ(drivers[index].numbers.size(), std::size_t{kCycles}) << ended.out << ended.err;
        for (const auto& cycle : drivers[index].numbers) {
            total += cycle.size();
            distinct.insert(cycle.begin(), cycle.end());
        }
        for (const std::string& results : drivers[index].results)
            EXPECT_EQ(occurrences(results, "\"Complete\""), std::size_t{kCameras}) << results;
    }
    EXPECT_EQ(total, std::size_t{kStations * kCycles * kCameras});
    EXPECT_EQ(distinct.size(), total) << "a serial number burned into two cameras";

    // The line holds exactly the numbers the flashes hold, each burned once;
    // its counter moved once for every number it handed out (burned, void,
    // or released and not taken again), and no number is in flight.
    auto db = line.open();
    const auto numbers = db->exec("SELECT serial, state FROM tessell.serial_numbers");
    std::set<std::string> burned;
    std::map<std::string, int> states;
    for (std::size_t row = 0; row < numbers.rows.size(); ++row) {
        ++states[numbers.text(row, 1)];
        if (numbers.text(row, 1) == "burned")
            burned.insert(numbers.text(row, 0));
    }
    EXPECT_EQ(burned, distinct);
    EXPECT_EQ(states["reserved"], 0);
    EXPECT_EQ(db->exec("SELECT issued FROM tessell.serial_counters").text(0, 0),
              std::to_string(states["burned"] + states["void"] + states["released"]));
    // Every station's records went up once each, and each number's
    // reservation leads to the record of the camera that burned it.
    const auto records = db->exec("SELECT station, count(*), count(DISTINCT record_id), "
                                  "count(DISTINCT serial_burned), bool_and(result = 'pass') "
                                  "FROM tessell.line_records GROUP BY station ORDER BY station");
    ASSERT_EQ(records.rows.size(), std::size_t{kStations});
    for (int index = 0; index < kStations; ++index) {
        const std::string perStation = std::to_string(kCycles * kCameras);
        EXPECT_EQ(records.text(index, 0), "station-" + std::to_string(index));
        EXPECT_EQ(records.text(index, 1), perStation);
        EXPECT_EQ(records.text(index, 2), perStation);
        EXPECT_EQ(records.text(index, 3), perStation);
        EXPECT_EQ(records.text(index, 4), "t");
    }
    EXPECT_EQ(db->exec("SELECT count(*) FROM tessell.serial_reservations AS r "
                       "JOIN tessell.line_records AS l ON l.record_id = r.record_id "
                       "AND l.serial_burned = r.serial AND l.station = r.station "
                       "WHERE r.state = 'burned'")
                  .text(0, 0),
              std::to_string(total));

    // What any station of the line is told about it.
    const ProcessResult status = stations[0]->run({"line", "status", "--json"});
    ASSERT_EQ(status.status, 0) << status.err;
    const json shown = json::parse(status.out, nullptr, false);
    EXPECT_EQ(shown.value("records_waiting", -1), 0) << status.out;
    ASSERT_EQ(shown["stations"].size(), std::size_t{kStations}) << status.out;
    for (const json& station : shown["stations"]) {
        // (Today's counts are left alone: a run may cross midnight.)
        EXPECT_TRUE(station["last_record"].is_string()) << station;
        EXPECT_EQ(station["in_flight"], "0");
        EXPECT_EQ(station["void"], "0");
    }
    const std::string one = drivers[2].numbers[3][5];
    const ProcessResult found = stations[0]->run({"history", "--line", "--serial", one, "--json"});
    ASSERT_EQ(found.status, 0) << found.err;
    const json record = json::parse(found.out, nullptr, false);
    EXPECT_EQ(record.value("station", ""), "station-2") << found.out;
    EXPECT_EQ(record.value("serial_burned", ""), one);

    // Every station's own file still holds its first number: the line gave them.
    for (const auto& station : stations)
        EXPECT_EQ(station->home.read("sn.txt"), "QX7*****\r\nQX700FF0\r\n");
}

std::set<std::string> firstColumn(const LineConnection::Result& result) {
    std::set<std::string> values;
    for (std::size_t row = 0; row < result.rows.size(); ++row)
        values.insert(result.text(row, 0));
    return values;
}

// Two stations killed (kill -9) with their cameras' numbers in flight. The
// one that starts again voids its own, never the other's; the other's end
// void by `tessell serials --resolve`; no void number is burned afterwards.
TEST(LineStations, StationsKilledMidBurnLeaveTheirNumbersVoid) {
    TESSELL_NEEDS_LINE_SERVER();
    ScratchLine line;
    // Slow enough that a burn is still writing when it is killed.
    LineStation a(line.connection(), "station-a", 2, 0.5, true);
    LineStation b(line.connection(), "station-b", 2, 0.5, true);
    auto db = line.open();
    const auto inFlight = [&](const std::string& station) {
        return firstColumn(db->exec("SELECT serial FROM tessell.serial_reservations "
                                    "WHERE station = $1 AND state = 'reserved'",
                                    {station}));
    };
    auto burnA = a.start({"burn", "--once"});
    auto burnB = b.start({"burn", "--once"});
    const Deadline deadline(std::chrono::seconds(60));
    while (!deadline.expired() &&
           (inFlight("station-a").size() < 2 || inFlight("station-b").size() < 2))
        clock().sleepFor(std::chrono::milliseconds(5));
    ASSERT_FALSE(deadline.expired()) << "the stations did not reserve their numbers in time";
    burnA->kill(SIGKILL);
    burnB->kill(SIGKILL);
    ASSERT_TRUE(burnA->killedBySignal() && burnB->killedBySignal()) << "a burn ended first";
    const std::set<std::string> lostA = inFlight("station-a");
    const std::set<std::string> lostB = inFlight("station-b");
    ASSERT_EQ(lostA.size(), 2u);
    ASSERT_EQ(lostB.size(), 2u);

    a.setTimeScale(0.01);
    const ProcessResult again = a.run({"burn", "--once"});
    EXPECT_EQ(again.status, kBurnAllComplete) << again.out << again.err;
    std::vector<std::string> burned = a.burnedNumbers();
    EXPECT_EQ(inFlight("station-a"), std::set<std::string>{});
    EXPECT_EQ(inFlight("station-b"), lostB) << "a station voided another's numbers";

    const ProcessResult resolved = b.run({"serials", "--resolve", "--json"});
    ASSERT_EQ(resolved.status, 0) << resolved.err;
    const json voided = json::parse(resolved.out, nullptr, false)["resolved"]["voided"];
    EXPECT_EQ(voided, json(std::vector<std::string>(lostB.begin(), lostB.end()))) << resolved.out;
    b.setTimeScale(0.01);
    const ProcessResult afterResolve = b.run({"burn", "--once"});
    EXPECT_EQ(afterResolve.status, kBurnAllComplete) << afterResolve.out << afterResolve.err;
    for (const std::string& number : b.burnedNumbers())
        burned.push_back(number);

    std::set<std::string> lost = lostA;
    lost.insert(lostB.begin(), lostB.end());
    EXPECT_EQ(
        firstColumn(db->exec("SELECT serial FROM tessell.serial_numbers WHERE state = 'void'")),
        lost);
    EXPECT_EQ(
        firstColumn(db->exec("SELECT serial FROM tessell.serial_numbers WHERE state = 'burned'")),
        std::set<std::string>(burned.begin(), burned.end()));
    EXPECT_EQ(burned.size(), 4u);
}

// The database stopped while a cycle's cameras hold their numbers, and
// started again 10 s later. The cameras that passed meanwhile keep their
// pass and their numbers end void; the cameras that needed a number while it
// was away fail before anything is written; numbering goes on without a
// repeat, and every record of the station arrives once.
TEST(LineStations, TheDatabaseGoesAwayInTheMiddleOfACycle) {
    TESSELL_NEEDS_LINE_SERVER();
    TempDir server;
    const std::string script = std::string(TESSELL_SOURCE_DIR) + "/tools/pg-test-server.sh";
    const std::string folder = (server.path() / "pg").string();
    constexpr auto kServerLimit = std::chrono::seconds(90); // initdb on a busy machine
    const ProcessResult started = runProcess(script, {"start", folder}, {}, kServerLimit);
    ASSERT_EQ(started.status, 0) << started.err;
    const std::string connection = started.out.substr(0, started.out.find('\n'));
    // Stopped at the end, whatever happens.
    const std::shared_ptr<void> stopAtEnd(nullptr, [&](void*) {
        runProcess(script, {"stop", folder}, {}, kServerLimit);
    });
    std::string problem;
    {
        auto admin = LineConnection::open(connection, problem);
        ASSERT_TRUE(admin) << problem;
        ASSERT_TRUE(initLineSchema(*admin).ok);
    }
    LineStation station(connection, "station-a", 2, 0.2, true);
    auto process = station.start({"burn", "--cycles", "4", "--json"});
    CycleDriver driver{station, *process, 4, {}, {}, false};
    std::string flashAway[2];
    std::optional<Deadline> away;
    auto watch = LineConnection::open(connection, problem);
    ASSERT_TRUE(watch) << problem;
    const Deadline deadline(std::chrono::seconds(120));
    bool stopped = false;
    while (!driver.step([&](int cycle) {
        if (cycle == 2) {
            flashAway[0] = station.flash(0);
            flashAway[1] = station.flash(1);
        } else if (cycle == 3) {
            EXPECT_TRUE(station.flash(0) == flashAway[0] && station.flash(1) == flashAway[1])
                << "a camera was written while the database was away";
            // Back 10 s after it went.
            while (away && !away->expired())
                clock().sleepFor(std::chrono::milliseconds(20));
            EXPECT_EQ(runProcess(script, {"restart", folder}, {}, kServerLimit).status, 0);
        }
    }) && !deadline.expired()) {
        // Once the second cycle's cameras have their numbers, their
        // confirmations wait on a lock until the database goes.
        if (!stopped && driver.results.size() == 1) {
            watch->exec("BEGIN");
            if (watch
                    ->exec("SELECT 1 FROM tessell.serial_reservations WHERE state = 'reserved' "
                           "FOR UPDATE")
                    .rows.size() == 2) {
                ASSERT_EQ(runProcess(script, {"stop", folder}, {}, kServerLimit).status, 0);
                away.emplace(std::chrono::seconds(10));
                stopped = true;
            } else {
                watch->exec("ROLLBACK");
            }
        }
        clock().sleepFor(std::chrono::milliseconds(5));
    }
    const ProcessResult ended = process->wait(std::chrono::seconds(30));
    ASSERT_EQ(driver.results.size(), 4u) << ended.out << ended.err;
    // The run says that cameras failed, though its last cycle passed.
    EXPECT_EQ(ended.status, kBurnSomeFailed);
    EXPECT_EQ(occurrences(driver.results[0], "\"Complete\""), 2u) << driver.results[0];
    EXPECT_EQ(occurrences(driver.results[1], "\"Complete\""), 2u) << driver.results[1];
    EXPECT_EQ(occurrences(driver.results[2], "\"Complete\""), 0u) << driver.results[2];
    EXPECT_EQ(occurrences(driver.results[3], "\"Complete\""), 2u) << driver.results[3];
    EXPECT_NE(ended.out.find("cannot be reached"), std::string::npos) << ended.out;
    // Nothing written while it was away.
    EXPECT_EQ(driver.numbers[2], driver.numbers[1]);
    std::set<std::string> numbers;
    for (int cycle : {0, 1, 3})
        numbers.insert(driver.numbers[cycle].begin(), driver.numbers[cycle].end());
    EXPECT_EQ(numbers.size(), 6u) << "a number burned twice";

    auto db = LineConnection::open(connection, problem);
    ASSERT_TRUE(db) << problem;
    EXPECT_EQ(
        firstColumn(db->exec("SELECT serial FROM tessell.serial_numbers WHERE state = 'void'")),
        std::set<std::string>(driver.numbers[1].begin(), driver.numbers[1].end()));
    EXPECT_EQ(db->exec("SELECT count(*) FILTER (WHERE state = 'burned') || ' ' || "
                       "count(*) FILTER (WHERE state = 'reserved') FROM tessell.serial_numbers")
                  .text(0, 0),
              "4 0");
    // Eight records, each once; the two of the cycle without the database
    // failed without a number.
    EXPECT_EQ(db->exec("SELECT count(*) || ' ' || count(DISTINCT record_id) || ' ' || "
                       "count(*) FILTER (WHERE result = 'fail' AND serial_burned = '') "
                       "FROM tessell.line_records")
                  .text(0, 0),
              "8 8 2");
}

#endif

} // namespace
} // namespace tessell::testing
