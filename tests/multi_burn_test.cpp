// The multi-camera station's controller on simulated stations: scanning
// against the taught ports, the state table on plug-in and plug-out, the
// burn of many cameras at once with its per-camera outcomes, and the
// firmware file chosen per camera.

#include "common/sha256.h"
#include "platform/sim/flash_identity.h"
#include "tests/support/station_rig.h"
#include "tests/support/synthetic_image.h"

#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace tessell::testing {
namespace {

using nlohmann::json;

class RecordingStationView final : public MultiBurnView {
public:
    void setCaption(std::string_view text) override { caption = text; }
    void showLog(std::string_view text) override { log = text; }
    void showCameraCount(std::string_view text) override { count = text; }
    void showRow(int row, const SlotRow& shown) override {
        rows.at(static_cast<std::size_t>(row)) = shown;
    }
    void setEnabled(MultiControl control, bool on) override { enabled[control] = on; }
    void showError(std::string_view text, std::string_view caption) override {
        errors.push_back(std::string(caption) + ": " + std::string(text));
    }
    bool askAboutUnknownPort(const platform::UsbAddress& address) override {
        unknownPorts.push_back(address.text());
        return false;
    }
    bool runPortSetting(PortSettingHost&) override { return false; }
    void showStationCounts(std::string_view text) override { stationCounts = text; }

    std::string caption, log, count, stationCounts;
    std::array<SlotRow, kSlotRowCount> rows;
    std::map<MultiControl, bool> enabled;
    std::vector<std::string> errors, unknownPorts;
};

// The station's controller on a recording view and a dialog loop whose time
// is the simulator's manual clock.
class MultiRig : public StationRig {
public:
    MultiRig(const json& devices, const std::vector<int>& taughtPorts, std::string settings)
        : StationRig(devices, taughtPorts, settings), pumped(sim.clock), loop([this](int id) {
              if (dialog)
                  dialog->OnTimer(id);
          }) {}
    ~MultiRig() { dialog.reset(); }

    void start() { StationRig::start(loop, view); }

    // Runs the dialog's thread until `done`, letting tool time pass in small
    // steps so that the burn threads' own sleeps keep their share of it.
    bool pumpUntil(const std::function<bool()>& done,
                   Clock::Duration budget = std::chrono::minutes(5)) {
        const auto end = sim.clock.now() + budget;
        pumped.startPumping();
        bool reached = false;
        for (;;) {
            sim.platform().service();
            loop.runPending();
            pumped.roundDone();
            if ((reached = done()) || sim.clock.now() >= end)
                break;
            std::this_thread::yield();
            sim.clock.advance(std::chrono::milliseconds(1));
        }
        pumped.stopPumping();
        return reached;
    }
    void pass(Clock::Duration time) {
        const auto end = sim.clock.now() + time;
        pumpUntil([&] { return sim.clock.now() >= end; });
    }
    std::string status(int row) const { return view.rows.at(static_cast<std::size_t>(row)).status; }

    PumpedClock pumped;
    RecordingStationView view;
    DialogLoop loop;
};

// Nine cameras on taught ports with NUM 8: eight burn at once, the ninth is
// left alone; the one that leaves the bus mid-burn ends in Error without
// holding up the others, and its flash does not boot half an image.
TEST(MultiBurn, EightCamerasBurnTogetherOneLostMidBurnNinthBeyondNum) {
    json devices = json::array();
    for (int index = 0; index < 9; ++index)
        devices.push_back(stationCamera(index + 1));
    devices[4]["faults"] = json::array({{{"unplug_after", 40}}});
    MultiRig rig(devices, {1, 2, 3, 4, 5, 6, 7, 8, 9}, "[SETTING]\r\nNUM=8\r\nBIN=sf.bin\r\n");
    const Bytes image = synthesized(lineImage(ImageFamily::f));
    writeImage(rig.sim.dir, "sf.bin", image);
    rig.start();
    EXPECT_EQ(rig.view.caption, "Halvane Serial Flash Multi-Burning Tool v1.0.3.0c");
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.status(0) == "Ready"; }));
    EXPECT_EQ(rig.view.count, "09/08");
    for (int row = 0; row < 8; ++row) {
        EXPECT_EQ(rig.view.rows[row].stat, " O") << row;
        EXPECT_EQ(rig.view.rows[row].colour, kRowReady) << row;
    }
    EXPECT_EQ(rig.view.rows[8].stat, "--");
    EXPECT_EQ(rig.status(8), "");

    rig.dialog->OnBurn();
    EXPECT_EQ(rig.dialog->state(), MultiBurnState::Burning);
    EXPECT_FALSE(rig.view.enabled[MultiControl::Setting]);
    EXPECT_FALSE(rig.dialog->OnClose()) << "the window must not close under running burns";
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.dialog->burning(); }));

    const std::vector<RowResult> results = rig.dialog->results();
    ASSERT_EQ(results.size(), 8u);
    for (int row = 0; row < 8; ++row) {
        SCOPED_TRACE("row " + std::to_string(row + 1));
        const SlotRow& shown = rig.view.rows[row];
        const Bytes flash = rig.flash("cam" + std::to_string(row) + ".flash");
        if (row == 4) {
            // Its row may already be cleared by a later plug-out: the
            // outcome is kept.
            EXPECT_EQ(results[4].status, slot::kError);
            EXPECT_FALSE(sim::isBootable(flash));
            continue;
        }
        EXPECT_EQ(shown.status, "Complete");
        EXPECT_EQ(shown.colour, kRowComplete);
        EXPECT_EQ(shown.progress, "100%|||||||||||||||||");
        EXPECT_TRUE(flashBeginsWith(flash, expectedFlash(image, IcType::k, 0x79)));
    }
    EXPECT_EQ(rig.status(8), "");
    const Bytes ninth = rig.flash("cam8.flash");
    EXPECT_EQ(std::count(ninth.begin(), ninth.end(), 0xFF), static_cast<long>(ninth.size()))
        << "the ninth camera was written";
    EXPECT_EQ(rig.dialog->state(), MultiBurnState::Finished);
    const std::string& log = rig.view.log;
    EXPECT_NE(log.find("Start burning..."), std::string::npos);
    EXPECT_NE(log.find("Warning! plug out detected!\r\n"), std::string::npos);
    EXPECT_GT(log.find("Finish!\r\n"), log.find("Warning! plug out detected!\r\n"));
    EXPECT_TRUE(rig.view.enabled[MultiControl::Setting]);
    EXPECT_TRUE(rig.view.enabled[MultiControl::ReScan]);
    EXPECT_FALSE(rig.view.enabled[MultiControl::Burn]);

    // The operator takes the cameras off: rows clear as theirs leave, and
    // with the last one gone the station stands by for the next set.
    for (auto& device : devices)
        device["present"] = false;
    rig.sim.rewrite(devices);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.dialog->state() == MultiBurnState::Standby; }));
    EXPECT_EQ(rig.view.count, "00/08");
    EXPECT_EQ(rig.view.rows[0].stat, "--");
    EXPECT_EQ(rig.status(0), "");
}

// Each camera of a multi-camera burn is one record under its own row, slot
// and port, the lost one failed; the window shows the day's counts.
TEST(MultiBurn, EachCameraOfABurnIsRecordedWithItsRowAndSlot) {
    json devices = json::array({stationCamera(1), stationCamera(2)});
    devices[1]["faults"] = json::array({{{"unplug_after", 40}}});
    MultiRig rig(devices, {2, 1}, "[SETTING]\r\nNUM=2\r\nBIN=sf.bin\r\n");
    const Bytes image = synthesized(lineImage(ImageFamily::f));
    writeImage(rig.sim.dir, "sf.bin", image);
    rig.start();
    EXPECT_EQ(rig.view.stationCounts, "Today: 0 passed, 0 failed");
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.status(1) == "Ready"; }));
    rig.dialog->OnBurn();
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.dialog->burning(); }));
    EXPECT_EQ(rig.view.stationCounts, "Today: 1 passed, 1 failed");

    auto opened = HistoryDb::open(rig.sim.dir / kHistoryFileName, HistoryDb::Mode::Read);
    ASSERT_TRUE(opened.db) << opened.problem;
    std::map<int, BurnRecord> byPort;
    std::string problem;
    opened.db->select(
        {}, {},
        [&](const BurnRecord& record) {
            byPort[record.port] = record;
            return true;
        },
        problem);
    ASSERT_EQ(byPort.size(), 2u);
    for (const auto& [port, record] : byPort) {
        SCOPED_TRACE("port " + std::to_string(port));
        EXPECT_EQ(record.tool, "multi-window");
        EXPECT_EQ(record.hub, "sim-hub-1");
        EXPECT_EQ(record.row, port);
        EXPECT_EQ(record.slot, port == 2 ? 1 : 2);
        EXPECT_EQ(record.imageName, "sf.bin");
        EXPECT_EQ(record.imageSha256, sha256Hex(image));
        EXPECT_EQ(record.result, port == 1 ? "pass" : "fail");
        EXPECT_EQ(record.rowStatus, port == 1 ? "Complete" : "Error");
        EXPECT_EQ(record.error.empty(), port == 1) << record.error;
    }
    EXPECT_TRUE(flashBeginsWith(rig.flash("cam0.flash"), expectedFlash(image, IcType::k, 0x79)));
}

// Standby follows the count: the last of NUM cameras schedules a scan, one
// fewer clears the rows and disables Burn-Mutiple; a camera on a port the
// station does not know clears the rows and is reported.
TEST(MultiBurn, PlugInAndOutFollowTheStationState) {
    json devices = json::array();
    for (int index = 0; index < 3; ++index)
        devices.push_back(stationCamera(index + 1));
    devices[2]["present"] = false;
    MultiRig rig(devices, {1, 2, 3}, "[SETTING]\r\nNUM=3\r\n");
    rig.start();
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.status(1) == "Ready"; }));
    EXPECT_EQ(rig.view.count, "02/03");
    EXPECT_EQ(rig.dialog->state(), MultiBurnState::Standby);

    devices[2]["present"] = true;
    rig.sim.rewrite(devices);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.view.count == "03/03"; }));
    EXPECT_NE(rig.view.log.find("camera plug in!\r\nRe-Scanning...\r\n"), std::string::npos);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.status(2) == "Ready"; }, std::chrono::seconds(3)));

    devices[0]["present"] = false;
    rig.sim.rewrite(devices);
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.view.count == "02/03"; }));
    EXPECT_NE(rig.view.log.find("camera plug out!\r\n"), std::string::npos);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(rig.view.rows[row].stat, "--") << row;
    EXPECT_FALSE(rig.view.enabled[MultiControl::Burn]);

    // Back to three, one of them on port 7, which was never taught.
    devices[0]["present"] = true;
    devices[0]["port"] = 7;
    rig.sim.rewrite(devices);
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.view.unknownPorts.empty(); }));
    EXPECT_EQ(rig.view.unknownPorts, std::vector<std::string>{"sim-hub-1:7"});
    EXPECT_EQ(rig.dialog->state(), MultiBurnState::Learning);
    EXPECT_EQ(rig.dialog->unknownPorts().size(), 1u);
}

// With ChooseBinUsePid each camera gets the file "pid.ini" names for it:
// a section name that is not "PID_" and four hex digits is passed over, a
// camera without a section is "bin not found" and Error while the others
// burn, and chip 0xC5 takes the B5AC section whatever its product ID.
TEST(MultiBurn, FilesChosenPerCameraFromPidIni) {
    const auto rom = [](const char* pid) { return json{{"vid", "0x1209"}, {"pid", pid}}; };
    json devices = json::array({stationCamera(1, {{"rom", rom("0x0003")}}),
                                stationCamera(2, {{"rom", rom("0x0004")}}),
                                stationCamera(3, {{"rom", rom("0x0003")}, {"chip_id", "0xC5"}})});
    MultiRig rig(devices, {1, 2, 3}, "[SETTING]\r\nNUM=3\r\nChooseBinUsePid=1\r\n");
    rig.sim.dir.write("pid.ini", "[PID_3]\r\nBIN=short.bin\r\n[PID_0003]\r\nBIN=three.bin\r\n"
                                 "[PID_B5AC]\r\nBIN=c5.bin\r\n");
    std::filesystem::create_directories(rig.sim.dir.path() / "bin");
    const Bytes three = synthesized(lineImage(ImageFamily::f, 0x0103));
    const Bytes c5 = synthesized(lineImage(ImageFamily::f, 0x0105));
    writeImage(rig.sim.dir, "bin/three.bin", three);
    writeImage(rig.sim.dir, "bin/c5.bin", c5);
    rig.start();
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.status(2) == "Ready"; }));
    EXPECT_EQ(rig.view.rows[0].file, "three.bin");
    EXPECT_EQ(rig.view.rows[1].file, "");
    EXPECT_EQ(rig.view.rows[2].file, "c5.bin");

    rig.dialog->OnBurn();
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.dialog->burning(); }));
    EXPECT_EQ(rig.status(0), "Complete");
    EXPECT_EQ(rig.view.rows[1].file, "bin not found");
    EXPECT_EQ(rig.status(1), "Error");
    EXPECT_EQ(rig.status(2), "Complete");
    EXPECT_TRUE(flashBeginsWith(rig.flash("cam0.flash"), expectedFlash(three, IcType::k, 0x79)));
    EXPECT_TRUE(flashBeginsWith(rig.flash("cam2.flash"), expectedFlash(c5, IcType::k, 0x79)));
}

TEST(MultiBurn, RowTextsAndRefusedStarts) {
    EXPECT_EQ(ProgressText(0), "0%");
    EXPECT_EQ(ProgressText(5), "5%|");
    EXPECT_EQ(ProgressText(6), "6%|");
    EXPECT_EQ(ProgressText(7), "7%||");
    EXPECT_EQ(ProgressText(50), "50%|||||||||");

    // No common image, then one larger than the station takes, then no camera.
    MultiRig rig(json::array(), {1}, "[SETTING]\r\nBIN=big.bin\r\n");
    rig.start();
    rig.dialog->OnBurn();
    rig.sim.dir.write("big.bin", std::string(kCommonImageLimit + 1, '\x55'));
    rig.dialog->OnBurn();
    writeImage(rig.sim.dir, "big.bin", synthesized(lineImage(ImageFamily::f)));
    rig.dialog->OnBurn();
    ASSERT_EQ(rig.view.errors.size(), 3u);
    EXPECT_EQ(rig.view.errors[0], "Error: Please check the file [setting.ini]");
    EXPECT_NE(rig.view.errors[1].find("larger than 65536 bytes"), std::string::npos);
    EXPECT_EQ(rig.view.errors[2], "Error: There is no camera, plug in or Re-Scan");
    EXPECT_FALSE(rig.dialog->burning());
}

} // namespace
} // namespace tessell::testing
