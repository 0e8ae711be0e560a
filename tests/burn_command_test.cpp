// `tessell burn` as a line's script runs it: the built program on simulated
// stations, its exit statuses and the JSON results scripts read.

#include "app/burn_command.h"
#include "tests/support/process.h"
#include "tests/support/synthetic_image.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tessell::testing {
namespace {

using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

json camera(const std::string& hub, int port, const std::string& flashFile) {
    return {{"friendly_name", "Line camera"},
            {"hub", hub},
            {"port", port},
            {"chip_id", "0xC0"},
            {"flash", {{"part", "0x79"}, {"file", flashFile}}}};
}

struct BurnStation {
    explicit BurnStation(const json& devices, std::string settings = "[SETTING]\r\nNUM=16\r\n") {
        home.write("station.json", json{{"time_scale", 0.01}, {"devices", devices}}.dump(2));
        home.write("setting.ini", settings);
    }
    ProcessResult run(std::vector<std::string> arguments) const {
        return runProcess(TESSELL_BINARY, arguments,
                          {{"TESSELL_SIM", (home / "station.json").string()},
                           {"TESSELL_HOME", home.path().string()},
                           {"XDG_RUNTIME_DIR", home.path().string()},
                           {"XDG_CONFIG_HOME", home.path().string()},
                           {"TMPDIR", home.path().string()}});
    }
    Bytes flash(const std::string& file) const {
        const std::string bytes = home.read(file);
        return Bytes(bytes.begin(), bytes.end());
    }
    TempDir home;
};

// The last line of a --json run: the results scripts read.
json results(const ProcessResult& run) {
    const auto end = run.out.find_last_not_of('\n');
    const auto start = run.out.rfind('\n', end);
    const json last = json::parse(
        run.out.substr(start == std::string::npos ? 0 : start + 1, end - start), nullptr, false);
    EXPECT_TRUE(last.contains("results")) << run.out;
    return last.value("results", json::array());
}

// Sixteen cameras behind two hubs of eight ports, taught with `ports set`:
// all sixteen burn; with two cameras lost mid-burn those rows alone are
// Error and the run ends 1.
TEST(BurnCommand, SixteenCamerasOnTwoHubs) {
    json devices = json::array();
    std::vector<std::string> ports = {"ports", "set"};
    for (int index = 0; index < 16; ++index) {
        const std::string hub = index < 8 ? "sim-hub-1" : "sim-hub-2";
        devices.push_back(camera(hub, index % 8 + 1, "cam" + std::to_string(index) + ".flash"));
        ports.push_back(hub + ":" + std::to_string(index % 8 + 1));
    }
    BurnStation station(devices);
    const Bytes image = synthesized(lineImage(ImageFamily::f));
    writeImage(station.home, "sf.bin", image);
    ASSERT_EQ(station.run(ports).status, 0);

    const ProcessResult all = station.run({"burn", "--once", "--json"});
    ASSERT_TRUE(all.finished);
    EXPECT_EQ(all.status, kBurnAllComplete) << all.err;
    const json rows = results(all);
    ASSERT_EQ(rows.size(), 16u) << all.out;
    for (int index = 0; index < 16; ++index) {
        SCOPED_TRACE("camera " + std::to_string(index));
        const json& row = rows[static_cast<std::size_t>(index)];
        EXPECT_EQ(row["row"], index + 1);
        EXPECT_EQ(row["slot"], index + 1);
        EXPECT_EQ(row["hub"], index < 8 ? "sim-hub-1" : "sim-hub-2");
        EXPECT_EQ(row["port"], index % 8 + 1);
        EXPECT_EQ(row["file"], "sf.bin");
        EXPECT_EQ(row["status"], "Complete");
        EXPECT_EQ(row["progress"], 100);
        EXPECT_TRUE(flashBeginsWith(station.flash("cam" + std::to_string(index) + ".flash"),
                                    expectedFlash(image, IcType::k, 0x79)));
    }

    // Cameras 4 and 11 (one on each hub) leave the bus in the middle of the next burn.
    devices[3]["faults"] = json::array({{{"unplug_after", 40}}});
    devices[10]["faults"] = json::array({{{"unplug_after", 40}}});
    station.home.write("station.json", json{{"time_scale", 0.01}, {"devices", devices}}.dump(2));
    const ProcessResult lost = station.run({"burn", "--once", "--json"});
    EXPECT_EQ(lost.status, kBurnSomeFailed) << lost.err;
    const json after = results(lost);
    ASSERT_EQ(after.size(), 16u);
    for (int index = 0; index < 16; ++index)
        EXPECT_EQ(after[static_cast<std::size_t>(index)]["status"],
                  index == 3 || index == 10 ? "Error" : "Complete")
            << index;
}

// What a script sees when the station cannot burn, or not every camera.
TEST(BurnCommand, ExitStatusesOfStationsThatCannotBurnEverything) {
    BurnStation station(
        json::array({camera("sim-hub-1", 1, "cam0.flash"), camera("sim-hub-1", 2, "cam1.flash")}),
        "[SETTING]\r\nNUM=2\r\n");
#ifdef _WIN32
    // The registry holds one store per user, shared by every test: start empty.
    ASSERT_EQ(station.run({"ports", "clear"}).status, 0);
#endif
    // No port taught yet.
    const ProcessResult untaught = station.run({"burn", "--once"});
    EXPECT_EQ(untaught.status, kBurnUsage);
    EXPECT_NE(untaught.err.find("tessell ports"), std::string::npos) << untaught.err;

    ASSERT_EQ(station.run({"ports", "set", "sim-hub-1:1"}).status, 0);
    // No image: "sf.bin" is missing.
    const ProcessResult noImage = station.run({"burn", "--once"});
    EXPECT_EQ(noImage.status, kBurnUsage);
    EXPECT_NE(noImage.err.find("Please check the file [setting.ini]"), std::string::npos);

    // Port 2 is not taught: camera 1 burns, camera 2 is named and left out.
    const Bytes image = synthesized(lineImage(ImageFamily::f));
    writeImage(station.home, "sf.bin", image);
    const ProcessResult leftOut = station.run({"burn", "--once"});
    EXPECT_EQ(leftOut.status, kBurnSomeFailed) << leftOut.err;
    EXPECT_NE(leftOut.out.find("I don't know this port! sim-hub-1:2"), std::string::npos)
        << leftOut.out;
    EXPECT_TRUE(
        flashBeginsWith(station.flash("cam0.flash"), expectedFlash(image, IcType::k, 0x79)));
    const Bytes second = station.flash("cam1.flash");
    EXPECT_EQ(std::count(second.begin(), second.end(), 0xFF), static_cast<long>(second.size()));

    // Both ports taught: the station loop burns both for its one cycle.
    ASSERT_EQ(station.run({"ports", "set", "sim-hub-1:1", "sim-hub-1:2"}).status, 0);
    const ProcessResult cycle = station.run({"burn", "--json", "--cycles", "1"});
    EXPECT_EQ(cycle.status, kBurnAllComplete) << cycle.err;
    const json both = results(cycle);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[1]["status"], "Complete");
    EXPECT_TRUE(
        flashBeginsWith(station.flash("cam1.flash"), expectedFlash(image, IcType::k, 0x79)));

    // Nothing attached on a taught port: nothing burned.
    station.home.write(
        "station.json",
        json{{"time_scale", 0.01}, {"devices", json::array({camera("sim-hub-9", 1, "cam0.flash")})}}
            .dump(2));
    EXPECT_EQ(station.run({"burn", "--once"}).status, kBurnNothingBurned);
    EXPECT_EQ(station.run({"burn", "--bogus"}).status, kBurnUsage);
}

// One common image in the layout of the 'k' chips on a station with a 'k'
// and an 'h' camera: the 'h' camera is not written (a camera given another
// chip's firmware does not boot), its row says Error and the log names its
// chip and the file; the 'k' camera burns. A camera on a port nobody taught
// has a row of its own in the results, saying why it was left out.
TEST(BurnCommand, CameraOfAnotherChipAndCameraOnUntaughtPortHaveTheirOwnRows) {
    json devices =
        json::array({camera("sim-hub-1", 1, "cam0.flash"), camera("sim-hub-1", 2, "cam1.flash")});
    devices[1]["chip_id"] = "0x80";
    BurnStation station(devices, "[SETTING]\r\nNUM=3\r\n");
#ifdef _WIN32
    ASSERT_EQ(station.run({"ports", "clear"}).status, 0);
#endif
    ASSERT_EQ(station.run({"ports", "set", "sim-hub-1:1", "sim-hub-1:2"}).status, 0);
    const Bytes image = synthesized(lineImage(ImageFamily::f));
    writeImage(station.home, "sf.bin", image);

    const ProcessResult mixed = station.run({"burn", "--once", "--json"});
    ASSERT_TRUE(mixed.finished);
    EXPECT_EQ(mixed.status, kBurnSomeFailed) << mixed.err;
    const json rows = results(mixed);
    ASSERT_EQ(rows.size(), 2u) << mixed.out;
    EXPECT_EQ(rows[0]["status"], "Complete");
    EXPECT_EQ(rows[1]["status"], "Error");
    EXPECT_EQ(rows[1]["port"], 2);
    EXPECT_TRUE(
        flashBeginsWith(station.flash("cam0.flash"), expectedFlash(image, IcType::k, 0x79)));
    const Bytes untouched = station.flash("cam1.flash");
    EXPECT_EQ(std::count(untouched.begin(), untouched.end(), 0xFF),
              static_cast<long>(untouched.size()));
    bool named = false;
    std::istringstream lines(mixed.out);
    for (std::string line; std::getline(lines, line);) {
        const json parsed = json::parse(line, nullptr, false);
        if (parsed.contains("log") && parsed["log"].is_string()) {
            const std::string log = parsed["log"];
            named = named || (log.find("ZLTA_7310") != std::string::npos &&
                              log.find("sf.bin") != std::string::npos &&
                              log.find("sim-hub-1:2") != std::string::npos);
        }
    }
    EXPECT_TRUE(named) << mixed.out;

    // A third camera on port 3, which is not taught.
    devices[1]["chip_id"] = "0xC0";
    devices.push_back(camera("sim-hub-1", 3, "cam2.flash"));
    station.home.write("station.json", json{{"time_scale", 0.01}, {"devices", devices}}.dump(2));
    const ProcessResult leftOut = station.run({"burn", "--once", "--json"});
    EXPECT_EQ(leftOut.status, kBurnSomeFailed) << leftOut.err;
    const json all = results(leftOut);
    ASSERT_EQ(all.size(), 3u) << leftOut.out;
    EXPECT_EQ(all[0]["status"], "Complete");
    EXPECT_EQ(all[1]["status"], "Complete");
    EXPECT_EQ(all[2]["row"], 3);
    EXPECT_EQ(all[2]["hub"], "sim-hub-1");
    EXPECT_EQ(all[2]["port"], 3);
    EXPECT_EQ(all[2]["slot"], nullptr);
    EXPECT_EQ(all[2]["status"], "Port not taught");
    const Bytes third = station.flash("cam2.flash");
    EXPECT_EQ(std::count(third.begin(), third.end(), 0xFF), static_cast<long>(third.size()));
}

} // namespace
} // namespace tessell::testing
