// A line of stations: four simulated stations of sixteen cameras, each
// running `tessell burn` at the same time against one line database, every
// camera with its own serial number.

#include "app/burn_command.h"
#include "platform/sim/flash_identity.h"
#include "tests/support/line_server.h"
#include "tests/support/process.h"
#include "tests/support/synthetic_image.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

namespace tessell::testing {
namespace {

using nlohmann::json;

constexpr int kStationCameras = 16;

struct LineStation {
    LineStation(const std::string& database, const std::string& name) {
        json devices = json::array();
        for (int index = 0; index < kStationCameras; ++index) {
            const std::string hub = index < 8 ? "sim-hub-1" : "sim-hub-2";
            devices.push_back({{"hub", hub},
                               {"port", index % 8 + 1},
                               {"chip_id", "0xC0"},
                               {"flash", {{"part", "0x79"}, {"file", flashFile(index)}}}});
            ports.push_back(hub + ":" + std::to_string(index % 8 + 1));
        }
        home.write("station.json", json{{"time_scale", 0.01}, {"devices", devices}}.dump(2));
        home.write("setting.ini",
                   "[SETTING]\r\nNUM=16\r\nSNFile=sn.txt\r\n[LINE]\r\nDatabase=" + database +
                       "\r\nStation=" + name + "\r\nSerialsInMultiBurn=1\r\n");
        home.write("sn.txt", "QX7*****\r\nQX700FF0\r\n");
        writeImage(home, "sf.bin", synthesized(lineImage(ImageFamily::f)));
    }
    static std::string flashFile(int index) { return "cam" + std::to_string(index) + ".flash"; }
    ProcessResult run(const std::vector<std::string>& arguments) const {
        return runProcess(TESSELL_BINARY, arguments,
                          {{"TESSELL_SIM", (home / "station.json").string()},
                           {"TESSELL_HOME", home.path().string()},
                           {"TESSELL_DATABASE", std::nullopt},
                           {"XDG_RUNTIME_DIR", home.path().string()},
                           {"XDG_CONFIG_HOME", home.path().string()},
                           {"TMPDIR", home.path().string()}},
                          std::chrono::seconds(120));
    }
    // The serial number each camera's flash holds now.
    std::vector<std::string> burnedNumbers() const {
        std::vector<std::string> numbers;
        for (int index = 0; index < kStationCameras; ++index) {
            const std::string bytes = home.read(flashFile(index));
            numbers.push_back(
                sim::identityFromFlash(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                       IcType::k, {})
                    .manufacturer);
        }
        return numbers;
    }
    TempDir home;
    std::vector<std::string> ports = {"ports", "set"};
};

TEST(LineStations, FourStationsOfSixteenCamerasNeverBurnANumberTwice) {
    TESSELL_NEEDS_LINE_SERVER();
    ScratchLine line;
    constexpr int kStations = 4;
    constexpr int kCycles = 5;
    std::vector<std::unique_ptr<LineStation>> stations;
    for (int index = 0; index < kStations; ++index) {
        stations.push_back(
            std::make_unique<LineStation>(line.connection(), "station-" + std::to_string(index)));
        ASSERT_EQ(stations.back()->run(stations.back()->ports).status, 0);
    }
    std::vector<std::vector<std::string>> burned(kStations);
    std::vector<std::string> failures(kStations);
    std::vector<std::thread> threads;
    for (int index = 0; index < kStations; ++index)
        threads.emplace_back([&, index] {
            for (int cycle = 0; cycle < kCycles; ++cycle) {
                const ProcessResult run = stations[index]->run({"burn", "--once", "--json"});
                if (run.status != kBurnAllComplete) {
                    failures[index] += run.out + run.err;
                    return;
                }
                for (const std::string& number : stations[index]->burnedNumbers())
                    burned[index].push_back(number);
            }
        });
    for (auto& thread : threads)
        thread.join();
    std::set<std::string> distinct;
    std::size_t total = 0;
    for (int index = 0; index < kStations; ++index) {
        EXPECT_EQ(failures[index], "") << "station " << index;
        total += burned[index].size();
        distinct.insert(burned[index].begin(), burned[index].end());
    }
    EXPECT_EQ(total, std::size_t{kStations * kCycles * kStationCameras});
    EXPECT_EQ(distinct.size(), total) << "a serial number burned into two cameras";

    // The line holds exactly the numbers the flashes hold, each burned once,
    // and its counter moved once for each of them.
    auto db = line.open();
    const auto numbers = db->exec("SELECT serial, state FROM tessell.serial_numbers");
    std::set<std::string> recorded;
    for (std::size_t row = 0; row < numbers.rows.size(); ++row) {
        EXPECT_EQ(numbers.text(row, 1), "burned") << numbers.text(row, 0);
        recorded.insert(numbers.text(row, 0));
    }
    EXPECT_EQ(recorded, distinct);
    EXPECT_EQ(db->exec("SELECT issued FROM tessell.serial_counters").text(0, 0),
              std::to_string(total));
    // Every station's records went up once each, carrying the numbers burned.
    const auto records = db->exec("SELECT station, count(*), count(DISTINCT record_id), "
                                  "count(DISTINCT serial_burned), bool_and(result = 'pass') "
                                  "FROM tessell.line_records GROUP BY station ORDER BY station");
    ASSERT_EQ(records.rows.size(), std::size_t{kStations});
    for (int index = 0; index < kStations; ++index) {
        const std::string count = std::to_string(kCycles * kStationCameras);
        EXPECT_EQ(records.text(index, 0), "station-" + std::to_string(index));
        EXPECT_EQ(records.text(index, 1), count);
        EXPECT_EQ(records.text(index, 2), count);
        EXPECT_EQ(records.text(index, 3), count);
        EXPECT_EQ(records.text(index, 4), "t");
    }
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
    const std::string one = burned[2].front();
    const ProcessResult found = stations[0]->run({"history", "--line", "--serial", one, "--json"});
    ASSERT_EQ(found.status, 0) << found.err;
    const json record = json::parse(found.out, nullptr, false);
    EXPECT_EQ(record.value("station", ""), "station-2") << found.out;
    EXPECT_EQ(record.value("serial_burned", ""), one);

    // Every station's own file still holds its first number: the line gave them.
    for (const auto& station : stations)
        EXPECT_EQ(station->home.read("sn.txt"), "QX7*****\r\nQX700FF0\r\n");
}

} // namespace
} // namespace tessell::testing
