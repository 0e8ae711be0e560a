#include "app/exit_codes.h"
#include "common/sha256.h"
#include "platform/sim/flash_identity.h"
#include "records/history_db.h"
#include "tests/support/dialog_rig.h"
#include "tests/support/text_match.h"

#include <gtest/gtest.h>

namespace tessell::testing {
namespace {

using nlohmann::json;

// A ZLTA_7310 camera: its ISP download needs no reset, so a test thread on a
// manual clock can follow it from start to end.
json dialogCamera7310(json extra = json::object()) {
    json camera = {{"friendly_name", "Bench camera"},
                   {"chip_id", "0x80"},
                   {"flash", {{"part", "0x79"}}},
                   {"state_file", "cam.state"}};
    camera.update(extra);
    return camera;
}

image::SynthesisRequest image7310(std::uint16_t bcd = 0x0102) {
    image::SynthesisRequest request;
    request.family = ImageFamily::d;
    request.vid = 0x1209;
    request.pid = 0x0002;
    request.bcdDevice = bcd;
    return request;
}

json cameraState(const DialogRig& rig) {
    return json::parse(rig.file("cam.state"), nullptr, false);
}

constexpr std::string_view kResultFormat =
    "[LOG]\r\nFORMAT={pid}{tab}{vid}{tab}{bcd}{tab}{result}{tab}{errcode}\r\n";

TEST(SingleCameraDialog, UnattendedDownloadPassesAndLeavesEveryResult) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.settings("[SETTING]\r\nWriteLog=1\r\n" + std::string(kResultFormat));
    const Bytes image = rig.image("image.bin", image7310());
    rig.start(commandLine((rig.folder() / "image.bin").string()));
    ASSERT_TRUE(rig.initialised);
    ASSERT_TRUE(rig.runToEnd());

    EXPECT_EQ(rig.view.endedWith, kExitPassed);
    const std::string log = rig.log();
    EXPECT_TRUE(contains(log, "=== Select camera 0 : Bench camera ===\r\n")) << log;
    EXPECT_TRUE(contains(log, "Driver Connected(ZLTA_7310)\r\n")) << log;
    EXPECT_TRUE(contains(log, "\r\nStart Download...Download complete.\r\n\r\n")) << log;
    // The whole log reached the view before the end.
    EXPECT_EQ(rig.view.shownLog, log);
    EXPECT_EQ(rig.file("Result.txt"), "TestResult = pass");
    EXPECT_TRUE(contains(rig.file("CmdModeLog.log"), "]Download complete.\r\n"));
    // The camera as it was selected: its erased flash left it the ROM's identity.
    EXPECT_EQ(rig.file("burn_result.txt"), "\r\n0001\t1209\t0100\tPass\t0\r\n\r\n");
    EXPECT_TRUE(contains(rig.file("burn_log.txt"), "]   Start Download...\r\n"));
    ASSERT_FALSE(rig.view.progress.empty());
    EXPECT_EQ(rig.view.progress.back(), 100);
    ASSERT_FALSE(rig.view.pictures.empty());
    EXPECT_EQ(rig.view.pictures.back(), StatusPicture::Success);
    EXPECT_NE(std::find(rig.view.pictures.begin(), rig.view.pictures.end(), StatusPicture::Running),
              rig.view.pictures.end());
    EXPECT_TRUE(rig.view.boxes.empty()) << "no message box without -m";

    // The download writes the flash part's type into the image it sends.
    EXPECT_TRUE(flashBeginsWith(rig.sim.platform().camera(0).flashContents(),
                                expectedFlash(image, IcType::h, 0x79)));
}

struct FailureCase {
    const char* name;
    const char* settingsName;
    std::string settings;
    const char* line;
    const char* message;
    int exitCode;
};

TEST(SingleCameraDialog, EveryFailureKindHasItsTextsFilesAndExitCode) {
    // The camera breaks the download in the same way every time: a block is
    // received damaged, so the checksums disagree.
    const std::vector<FailureCase> cases = {
        {"download", "setting.ini", "[SETTING]\r\nWriteLog=1\r\n", "Download fail.\r\n",
         "]Download fail.\r\n", kExitDownloadFailed},
        {"rework", "moravel.ini", "[SETTING]\r\nWriteLog=1\r\nrework=1\r\n", "Rework fail.\r\n",
         "]Rework fail.\r\n", kExitReworkFailed},
        {"serial number", "setting.ini", "[SETTING]\r\nWriteLog=1\r\nSNFile=sn.txt\r\n",
         "Download (Change SN) fail.\r\n", "]Download (Change SN) fail.\r\n",
         kExitSerialDownloadFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DialogRig rig(json::array({dialogCamera7310({{"faults", {{{"corrupt_block", 1}}}}})}));
        ScopedEnv home("TESSELL_HOME", rig.folder().c_str());
        ScopedEnv temporary("TMPDIR", rig.folder().c_str());
        rig.settings(c.settings + std::string(kResultFormat), c.settingsName);
        rig.sim.dir.write("sn.txt", "AB12****\r\nAB120001\r\n");
        rig.image("image.bin", image7310());
        StartupFlags flags = commandLine((rig.folder() / "image.bin").string());
        flags.msgMode = 1;
        rig.start(flags);
        ASSERT_TRUE(rig.runToEnd());

        EXPECT_EQ(rig.view.endedWith, c.exitCode);
        EXPECT_TRUE(contains(rig.log(), c.line)) << rig.log();
        EXPECT_EQ(rig.file("Result.txt"), "TestResult = fail");
        EXPECT_TRUE(contains(rig.file("CmdModeLog.log"), c.message));
        EXPECT_TRUE(contains(rig.file("burn_result.txt"),
                             "\tFail\t" + std::to_string(c.exitCode) + "\r\n"));
        ASSERT_FALSE(rig.view.boxes.empty());
        const std::string expectedBox =
            c.exitCode == kExitReworkFailed ? "Fail: Rework Fail!" : "Fail: Download Fail!";
        EXPECT_EQ(rig.view.boxes.back(), expectedBox);
        EXPECT_EQ(rig.view.pictures.back(), StatusPicture::Fail);
        if (c.exitCode == kExitSerialDownloadFailed) {
            EXPECT_EQ(rig.file("sn.txt"), "AB12****\r\nAB120001\r\n")
                << "a failed download does not use up a serial number";
        }
    }
}

TEST(SingleCameraDialog, PassedSerialDownloadAdvancesTheNumberExceptForCalden) {
    for (const char* name : {"setting.ini", "calden.ini"}) {
        SCOPED_TRACE(name);
        DialogRig rig(json::array({dialogCamera7310()}));
        ScopedEnv home("TESSELL_HOME", rig.folder().c_str());
        rig.settings("[SETTING]\r\nSNFile=sn.txt\r\nBurnSN=1\r\n", name);
        rig.sim.dir.write("sn.txt", "AB12****\r\nAB120009\r\n");
        rig.image("image.bin", image7310());
        rig.start(commandLine((rig.folder() / "image.bin").string()));
        ASSERT_TRUE(rig.runToEnd());
        EXPECT_EQ(rig.view.endedWith, kExitPassed) << rig.log();
        EXPECT_TRUE(contains(rig.log(), "Download (Change SN) complete.\r\n")) << rig.log();
        const std::string serial = rig.file("sn.txt");
        const char* expected = std::string_view(name) == "calden.ini" ? "AB120009" : "AB12000A";
        EXPECT_TRUE(contains(serial, expected)) << serial;
    }
}

struct CheckCase {
    const char* name;
    json devices;
    std::string settings;
    bool imageForOtherChip = false;
    bool answerYes = false;
    bool writeImage = true;
    int exitCode;
    const char* logText;
};

TEST(SingleCameraDialog, UnattendedChecksEndWithTheirExitCodes) {
    const std::vector<CheckCase> cases = {
        // No exit code of their own: the run ends with what it stored.
        {"no camera", json::array(), "", false, false, true, kExitNothingFinished,
         "\r\n *** Device not found! ***\r\n\r\n"},
        {"streaming camera", json::array({dialogCamera7310({{"registers", {{"0x2509", "0x10"}}}})}),
         "", false, false, true, kExitNothingFinished, "\r\n Fail, please stop preview first."},
        {"wrong chip code", json::array({dialogCamera7310()}), "Cam_Num=1\r\nRev=11\r\n", false,
         false, true, kExitWrongCamera, "\r\n *** Device PID/VID not match.\r\n"},
        {"no image", json::array({dialogCamera7310()}), "", false, false, false, kExitNoImage,
         "\r\n fail.\r\n"},
        {"image for another chip, answered No", json::array({dialogCamera7310()}), "", true, false,
         true, kExitNoImage, "Auto "},
        {"pid/vid of the image differ", json::array({dialogCamera7310()}),
         "rework=1\r\nCheckPidVid=1\r\n", false, false, true, kExitWrongCamera, "Auto "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DialogRig rig(c.devices);
        const bool pidVid = std::string_view(c.name).starts_with("pid/vid");
        rig.settings("[SETTING]\r\nWriteLog=1\r\n" + c.settings,
                     pidVid ? "moravel.ini" : "setting.ini");
        image::SynthesisRequest request = image7310();
        if (c.imageForOtherChip)
            request.family = ImageFamily::f;
        if (pidVid) {
            // The camera shows the identity of its own flash, which is erased:
            // the image's differs.
            request.pid = 0x9999;
        }
        if (c.writeImage)
            rig.image("image.bin", request);
        rig.sim.dir.write("Result.txt", "TestResult = pass"); // the previous camera's
        rig.view.answerYes = c.answerYes;
        rig.start(commandLine((rig.folder() / "image.bin").string()));
        ASSERT_TRUE(rig.runToEnd()) << "the run must end by itself";
        EXPECT_EQ(rig.view.endedWith, c.exitCode);
        EXPECT_TRUE(contains(rig.log(), c.logText)) << rig.log();
        EXPECT_FALSE(contains(rig.file("burn_log.txt"), "Start download progress"))
            << "no download was started";
        EXPECT_EQ(rig.file("Result.txt"), "TestResult = fail")
            << "a run without a download does not pass, and the previous pass goes";
        if (c.imageForOtherChip) {
            EXPECT_EQ(rig.view.questions.size(), 1U);
        }
        if (c.exitCode == kExitWrongCamera && !pidVid) {
            EXPECT_TRUE(contains(rig.file("CmdModeLog.log"), "]Device PID/VID not match.\r\n"));
        }
        if (pidVid) {
            EXPECT_TRUE(contains(rig.file("burn_log.txt"), "Please check pid/vid !"));
        }
    }
}

TEST(SingleCameraDialog, QuestionAnsweredYesWritesTheImageAnyway) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.settings("[SETTING]\r\nWriteLog=1\r\n");
    image::SynthesisRequest request = image7310();
    request.family = ImageFamily::f;
    rig.image("image.bin", request);
    rig.view.answerYes = true;
    rig.start(commandLine((rig.folder() / "image.bin").string()));
    ASSERT_TRUE(rig.runToEnd());
    ASSERT_EQ(rig.view.questions.size(), 1U);
    EXPECT_EQ(rig.view.questions[0],
              "It seems that the bincode is NOT for the IC\nDo you really want to download?");
    EXPECT_TRUE(contains(rig.log(), "Start Download...")) << rig.log();
    EXPECT_TRUE(contains(rig.file("burn_log.txt"), "] it seems bin file not match IC\r\n"));
}

// A file that cannot be firmware (a stray file, a cut image) gets the
// question a foreign image gets; unattended the answer is No and the camera
// keeps its flash.
TEST(SingleCameraDialog, FilesThatAreNoImageAreRefused) {
    const Bytes whole = synthesized(image7310());
    const std::string status = "Name:\ttessell\nUmask:\t0022\nState:\tR (running)\n";
    const std::vector<std::pair<const char*, Bytes>> files = {
        {"one byte", Bytes{0x55}},
        {"text", Bytes(status.begin(), status.end())},
        {"image cut in half", Bytes(whole.begin(), whole.begin() + 0x8000)},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        DialogRig rig(json::array({dialogCamera7310()}));
        rig.settings("[SETTING]\r\nWriteLog=1\r\n");
        writeImage(rig.sim.dir, "image.bin", bytes);
        rig.start(commandLine((rig.folder() / "image.bin").string()));
        ASSERT_TRUE(rig.runToEnd());
        EXPECT_EQ(rig.view.endedWith, kExitNoImage);
        EXPECT_EQ(rig.view.questions.size(), 1U);
        EXPECT_FALSE(contains(rig.log(), "Start Download")) << rig.log();
        EXPECT_FALSE(contains(rig.log(), "version = ffff")) << "read beyond the file";
        const auto flash = rig.sim.platform().camera(0).flashContents();
        EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](auto b) { return b == 0xFF; }));
    }
}

TEST(SingleCameraDialog, NoPowerRefusesUnattendedRunAtStart) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.settings("[SETTING]\r\ncheckac=1\r\n");
    rig.image("image.bin", image7310());
    rig.power.line = platform::kAcOffline;
    rig.start(commandLine((rig.folder() / "image.bin").string()));
    EXPECT_EQ(rig.view.endedWith, kExitRefused);
    EXPECT_EQ(rig.out.str(), "Please plugin AC power before update FW\n");
    EXPECT_FALSE(contains(rig.log(), "Start Download"));
}

TEST(SingleCameraDialog, WindowModeStopsStayOpenAndWait) {
    // The same refusals in the window leave the tool running for the operator.
    DialogRig rig(json::array({dialogCamera7310({{"registers", {{"0x2509", "0x10"}}}})}));
    rig.image("SF.bin", image7310());
    rig.start();
    ASSERT_TRUE(rig.initialised);
    EXPECT_TRUE(rig.view.isEnabled(Control::Download));
    EXPECT_EQ(rig.view.caption, "Halvane Serial Flash Write Tool for ALL IC v1.0.3.0c");
    // An erased flash has no identity: the camera shows its ROM's.
    EXPECT_EQ(rig.view.texts[Control::CameraPid], "0001");
    rig.dialog->OnDownload();
    EXPECT_TRUE(contains(rig.log(), "\r\n Fail, please stop preview first."));
    EXPECT_FALSE(rig.view.endedWith.has_value());
    EXPECT_FALSE(rig.dialog->downloadRunning());
    EXPECT_EQ(rig.dialog->exitCode(), kExitNothingFinished);
}

// "Start the tool, then plug the camera": an unattended run waits a bounded
// time for a camera, downloads the one that arrives, and otherwise ends with
// the code it had.
TEST(SingleCameraDialog, UnattendedRunsWaitForACameraWithinTheirBound) {
    for (const bool plugged : {true, false}) {
        SCOPED_TRACE(plugged ? "plugged in after a while" : "never plugged in");
        DialogRig rig(json::array({dialogCamera7310({{"present", false}})}));
        rig.image("image.bin", image7310());
        rig.start(commandLine((rig.folder() / "image.bin").string()));
        ASSERT_TRUE(rig.pumpUntil([&] { return contains(rig.log(), "Waiting up to 60 s"); },
                                  std::chrono::seconds(1)));
        EXPECT_FALSE(rig.view.endedWith);
        const auto start = rig.sim.clock.now();
        if (plugged) {
            rig.sim.pass(std::chrono::seconds(20));
            rig.sim.rewrite(json::array({dialogCamera7310()}));
        }
        ASSERT_TRUE(rig.runToEnd());
        EXPECT_EQ(rig.view.endedWith, plugged ? kExitPassed : kExitNothingFinished) << rig.log();
        EXPECT_EQ(rig.file("Result.txt"), plugged ? "TestResult = pass" : "TestResult = fail");
        if (!plugged) {
            EXPECT_GE(rig.sim.clock.now() - start, std::chrono::seconds(60));
            EXPECT_LT(rig.sim.clock.now() - start, std::chrono::seconds(61));
        }
    }
}

TEST(SingleCameraDialog, WindowDownloadThenSelectionComesBackAfterTwoSeconds) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.image("SF.bin", image7310());
    rig.start();
    rig.dialog->OnDownload();
    ASSERT_TRUE(rig.dialog->downloadRunning());
    EXPECT_FALSE(rig.dialog->selectEnabled());
    EXPECT_FALSE(rig.view.isEnabled(Control::CameraList));
    EXPECT_FALSE(rig.view.isEnabled(Control::Download));
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.dialog->downloadRunning(); }));
    EXPECT_EQ(rig.dialog->exitCode(), kExitPassed);
    EXPECT_FALSE(rig.view.endedWith.has_value()) << "the window stays after a result";
    EXPECT_TRUE(rig.view.isEnabled(Control::CameraList));
    EXPECT_FALSE(rig.dialog->cameraOpen()) << "the link is closed after the download";
    EXPECT_EQ(rig.file("Result.txt"), "") << "Result.txt is for command-line mode only";
    EXPECT_TRUE(rig.loop.timerRunning(kReselectTimer));
    EXPECT_TRUE(rig.loop.timerRunning(kPreviewEndTimer));
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.loop.timerRunning(kReselectTimer); }));
    EXPECT_TRUE(rig.dialog->selectEnabled());
}

// The window records the camera it burned, not the other one attached, with
// the serial number now in its flash, and shows the station's day so far.
TEST(SingleCameraDialog, WindowDownloadIsRecordedAndCounted) {
    if (!historyAvailable())
        GTEST_SKIP() << "no history on this build";
    DialogRig rig(json::array(
        {dialogCamera7310({{"hub", "2-1"}, {"port", 1}, {"state_file", "cam1.state"}}),
         dialogCamera7310({{"hub", "2-1"}, {"port", 3}, {"state_file", "cam3.state"}})}));
    ScopedEnv home("TESSELL_HOME", rig.folder().c_str());
    rig.settings("[SETTING]\r\nSNFile=sn.txt\r\nSNAddr=1\r\n[LINE]\r\nStation=bench-7\r\n");
    rig.sim.dir.write("sn.txt", "AB12****\r\nAB120009\r\n");
    image::SynthesisRequest request = image7310();
    request.manufacturer = "Bench maker";
    request.serialNumber = "00000000";
    rig.image("SF.bin", request);
    rig.start();
    EXPECT_EQ(rig.view.stationCounts, "Today: 0 passed, 0 failed");
    rig.dialog->OnDownload();
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.dialog->downloadRunning(); }));
    ASSERT_EQ(rig.dialog->exitCode(), kExitPassed) << rig.log();
    EXPECT_EQ(rig.view.stationCounts, "Today: 1 passed, 0 failed");

    const auto flash = rig.sim.platform().camera(0).flashContents();
    EXPECT_EQ(sim::identityFromFlash(flash, IcType::h, {}).serial, "AB120009");
    auto opened = HistoryDb::open(rig.folder() / kHistoryFileName, HistoryDb::Mode::Read);
    ASSERT_TRUE(opened.db) << opened.problem;
    std::vector<BurnRecord> records;
    std::string problem;
    opened.db->select(
        {}, {},
        [&](const BurnRecord& record) {
            records.push_back(record);
            return true;
        },
        problem);
    ASSERT_EQ(records.size(), 1u);
    const BurnRecord& record = records[0];
    EXPECT_EQ(record.tool, "window");
    EXPECT_EQ(record.station, "bench-7");
    EXPECT_EQ(record.hub + ":" + std::to_string(record.port), "2-1:1");
    EXPECT_EQ(record.result, "pass");
    EXPECT_EQ(record.exitCode, kExitPassed);
    EXPECT_EQ(record.serialBurned, "AB120009");
    EXPECT_EQ(record.serialAfter, "AB120009");
    EXPECT_EQ(record.chipId, 0x80);
    EXPECT_EQ(record.imageName, "SF.bin");
    const std::string file = rig.file("SF.bin");
    EXPECT_EQ(record.imageSha256, sha256Hex(Bytes(file.begin(), file.end())));
}

TEST(SingleCameraDialog, RemovalWhileIdleResetsTheWindowAndRelists) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.image("SF.bin", image7310());
    rig.start();
    ASSERT_EQ(rig.view.cameras, std::vector<std::string>{"0:Bench camera"});
    ASSERT_TRUE(rig.dialog->cameraOpen());

    rig.sim.rewrite(json::array({dialogCamera7310({{"present", false}})}));
    ASSERT_TRUE(rig.pumpUntil([&] { return contains(rig.log(), "Camera Plug Out\r\n"); },
                              std::chrono::seconds(5)));
    EXPECT_TRUE(contains(rig.log(), "Camera Plug Out\r\n====================================\r\n"));
    EXPECT_TRUE(rig.view.cameras.empty());
    EXPECT_FALSE(rig.dialog->cameraOpen());
    EXPECT_FALSE(rig.view.isEnabled(Control::Download));
    EXPECT_EQ(rig.view.texts[Control::CameraPid], " __  __  __  __");
    EXPECT_EQ(rig.view.texts[Control::CameraBcd], "ver");
    EXPECT_EQ(rig.view.texts[Control::DeviceSerial], "____________________");

    // And back: the arrival lists and selects it again.
    rig.sim.rewrite(json::array({dialogCamera7310()}));
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.dialog->cameraOpen(); }, std::chrono::seconds(5)))
        << rig.log();
    EXPECT_EQ(rig.view.cameras, std::vector<std::string>{"0:Bench camera"});
    EXPECT_TRUE(rig.view.isEnabled(Control::Download));
}

TEST(SingleCameraDialog, CameraLostDuringSelectionIsReportedNotUsed) {
    // The camera leaves the bus a few requests into its selection.
    for (const int after : {1, 4, 12}) {
        SCOPED_TRACE(after);
        DialogRig rig(json::array({dialogCamera7310({{"faults", {{{"unplug_after", after}}}}})}));
        rig.image("image.bin", image7310());
        rig.start(commandLine((rig.folder() / "image.bin").string()));
        ASSERT_TRUE(rig.runToEnd()) << "the run must end by itself";
        EXPECT_NE(rig.view.endedWith, kExitPassed);
        EXPECT_NE(rig.file("Result.txt"), "TestResult = pass");
    }
}

TEST(SingleCameraDialog, IdentityCheckMovesToTheNextCamera) {
    json second = dialogCamera7310({{"chip_id", "0x81"}, {"friendly_name", "Second"}});
    DialogRig rig(json::array({dialogCamera7310(), second}));
    rig.settings("[SETTING]\r\nCam_Num=1\r\nRev=81\r\n");
    rig.image("SF.bin", image7310());
    rig.start();
    EXPECT_EQ(rig.view.selection, 1);
    EXPECT_EQ(rig.dialog->identityCheck(), 1);
    EXPECT_TRUE(contains(rig.log(), "=== Select camera 1 : Second ===")) << rig.log();
    EXPECT_FALSE(contains(rig.log(), "=== Select camera 0")) << rig.log();
    EXPECT_TRUE(rig.view.isEnabled(Control::Download));
}

TEST(SingleCameraDialog, AutoDownloadOnlyForANewerImage) {
    {
        DialogRig rig(json::array({dialogCamera7310()}));
        rig.settings("[SETTING]\r\nAutoDL=1\r\n");
        rig.image("SF.bin", image7310(0x0100)); // the erased camera's ROM reports 0100
        rig.start();
        EXPECT_FALSE(rig.loop.timerRunning(kAutoDownloadTimer));
        EXPECT_TRUE(contains(rig.log(), " Auto download stop : \r\n   device bcdDevice(0100) >= "
                                        "file bcdDevice(0100)\r\n"))
            << rig.log();
    }
    {
        DialogRig rig(json::array({dialogCamera7310()}));
        rig.settings("[SETTING]\r\nAutoDL=1\r\n");
        rig.image("SF.bin", image7310(0x0200));
        rig.start();
        ASSERT_TRUE(rig.loop.timerRunning(kAutoDownloadTimer));
        ASSERT_TRUE(rig.pumpUntil([&] { return contains(rig.log(), "complete."); }));
        EXPECT_FALSE(rig.loop.timerRunning(kAutoDownloadTimer));
        EXPECT_EQ(rig.dialog->exitCode(), kExitPassed);
    }
}

TEST(SingleCameraDialog, DumpKeepsTheOtherCameraCommandsAway) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.settings("[SETTING]\r\nShowDump=1\r\nErase=1\r\nLEDTest=1\r\n");
    rig.image("SF.bin", image7310());
    rig.start();
    ASSERT_TRUE(rig.dialog->cameraOpen());
    const auto flashBefore = rig.sim.platform().camera(0).flashContents();
    const auto dumpFile = rig.folder() / "dump.bin";
    rig.view.dumpChoice = dumpFile.string();

    // The dump thread is held at its first report to the window.
    rig.thread.close();
    rig.dialog->OnDump();
    rig.thread.awaitVisitor();
    ASSERT_TRUE(rig.dialog->dumpRunning());
    EXPECT_FALSE(rig.view.isEnabled(Control::Download));
    EXPECT_FALSE(rig.view.isEnabled(Control::Erase));
    EXPECT_FALSE(rig.view.isEnabled(Control::LedOn));
    EXPECT_FALSE(rig.view.isEnabled(Control::Dump));

    rig.dialog->OnDownload();
    rig.dialog->OnErase();
    rig.dialog->OnLedOn();
    rig.dialog->OnDump();
    EXPECT_FALSE(rig.dialog->downloadRunning());
    EXPECT_FALSE(contains(rig.log(), "Start Download"));
    EXPECT_FALSE(contains(rig.log(), "Erase SF"));
    EXPECT_EQ(rig.view.dumpProposals.size(), 1U) << "no second dump was offered";

    rig.thread.open();
    ASSERT_TRUE(rig.pumpUntil(
        [&] { return !rig.dialog->dumpRunning() && rig.view.isEnabled(Control::Erase); }));
    EXPECT_TRUE(
        contains(rig.log(), "DUMP internal Serial Flash to\r\n" + dumpFile.string() + "\r\n"));
    const std::string dumped = rig.file("dump.bin");
    ASSERT_EQ(dumped.size(), kDumpSize);
    EXPECT_TRUE(
        std::equal(dumped.begin(), dumped.end(), flashBefore.begin(),
                   [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
    EXPECT_EQ(rig.view.pictures.back(), StatusPicture::Success);
    EXPECT_EQ(cameraState(rig).value("led", ""), "unknown") << "LED ON was kept away";
    EXPECT_TRUE(rig.view.isEnabled(Control::Download));
}

TEST(SingleCameraDialog, DumpThatCannotWriteItsFileSaysSo) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.image("SF.bin", image7310());
    rig.start();
    rig.view.dumpChoice = (rig.folder() / "no-such-folder" / "dump.bin").string();
    rig.dialog->OnDump();
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.dialog->dumpRunning(); }));
    ASSERT_TRUE(rig.pumpUntil([&] { return contains(rig.log(), "DUMP"); }));
    EXPECT_TRUE(contains(rig.log(), "DUMP internal Serial Flash fail: the file could not be "
                                    "written\r\n"))
        << rig.log();
    ASSERT_TRUE(rig.pumpUntil([&] { return rig.view.pictures.back() == StatusPicture::Fail; }));
}

TEST(SingleCameraDialog, LedEraseAndReworkToggle) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.image("SF.bin", image7310());
    rig.start();
    rig.dialog->OnLedOn();
    EXPECT_EQ(cameraState(rig).value("led", ""), "on");
    rig.dialog->OnLedOff();
    EXPECT_EQ(cameraState(rig).value("led", ""), "off");

    // Only "moravel.ini" has a Re-Work mode.
    rig.view.setChecked(Control::ReworkToggle, true);
    rig.dialog->OnReworkToggle();
    EXPECT_EQ(rig.dialog->settings().reworkFlag, 0);
    ASSERT_EQ(rig.view.boxes.size(), 1U);
    EXPECT_EQ(rig.view.boxes[0], "Tessell: function not work");

    const int resetsBefore = cameraState(rig).value("resets", -1);
    rig.dialog->OnErase();
    EXPECT_TRUE(contains(rig.log(), "Erase SF ok.\r\n")) << rig.log();
    const auto flash = rig.sim.platform().camera(0).flashContents();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 0x10000,
                            [](std::uint8_t byte) { return byte == 0xFF; }));
    EXPECT_EQ(cameraState(rig).value("resets", -1), resetsBefore + 1);

    // With no camera the commands do nothing.
    rig.sim.rewrite(json::array({dialogCamera7310({{"present", false}})}));
    ASSERT_TRUE(rig.pumpUntil([&] { return !rig.dialog->cameraOpen(); }, std::chrono::seconds(5)));
    const std::string log = rig.log();
    rig.dialog->OnErase();
    rig.dialog->OnLedOn();
    EXPECT_EQ(rig.log(), log);
}

TEST(SingleCameraDialog, ReworkToggleInMoravelChangesTheButton) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.settings("[SETTING]\r\n", "moravel.ini");
    rig.image("SF.bin", image7310());
    rig.start();
    rig.view.setChecked(Control::ReworkToggle, true);
    rig.dialog->OnReworkToggle();
    EXPECT_EQ(rig.dialog->settings().reworkFlag, 1);
    EXPECT_EQ(rig.view.texts[Control::Download], "Re-Work");
    rig.view.setChecked(Control::ReworkToggle, false);
    rig.dialog->OnReworkToggle();
    EXPECT_EQ(rig.dialog->settings().reworkFlag, 0);
    EXPECT_EQ(rig.view.texts[Control::Download], "Download");
}

TEST(SingleCameraDialog, PreviewToggleSaysItIsNotAvailable) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.image("SF.bin", image7310());
    rig.start();
    rig.view.setChecked(Control::PreviewToggle, true);
    rig.dialog->OnPreviewToggle();
    EXPECT_EQ(rig.dialog->settings().preview, 1);
    EXPECT_TRUE(contains(rig.log(), kPreviewUnavailable));
}

TEST(SingleCameraDialog, FailedImageLoadIsNotReplacedByTheOldImage) {
    DialogRig rig(json::array({dialogCamera7310()}));
    rig.image("SF.bin", image7310());
    rig.start();
    ASSERT_TRUE(rig.view.isEnabled(Control::Download));
    // The operator picks a file that cannot be read: the image loaded before
    // must not be written in its place.
    rig.view.imageChoice = (rig.folder() / "missing.bin").string();
    rig.dialog->OnBrowse();
    rig.dialog->OnDownload();
    EXPECT_FALSE(rig.dialog->downloadRunning());
    ASSERT_FALSE(rig.view.boxes.empty());
    EXPECT_EQ(rig.view.boxes.back(), "Error: Please load file first!");
}

TEST(SingleCameraDialog, CountDownPicturesInTheLastThirtyPercent) {
    const std::vector<std::pair<int, std::optional<StatusPicture>>> cases = {
        {5, std::nullopt},
        {70, std::nullopt},
        {71, StatusPicture::CountDown3},
        {79, StatusPicture::CountDown3},
        {80, std::nullopt},
        {81, StatusPicture::CountDown2},
        {89, StatusPicture::CountDown2},
        {90, std::nullopt},
        {91, StatusPicture::CountDown1},
        {99, StatusPicture::CountDown1},
        {100, std::nullopt},
    };
    for (const auto& [progress, picture] : cases)
        EXPECT_EQ(countDownPicture(progress), picture) << progress;
}

} // namespace
} // namespace tessell::testing
