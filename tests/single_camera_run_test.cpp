// End-to-end runs of the built program in its unattended mode, against
// simulated stations.

#include "download/image_synthesis.h"
#include "tests/support/process.h"
#include "tests/support/synthetic_image.h"
#include "tests/support/test_env.h"
#include "tests/support/text_match.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tessell::testing {
namespace {

using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

// A scratch station: program folder, station file and image in one folder.
class RunStation {
public:
    RunStation(json devices, std::string settings = "[SETTING]\r\nWriteLog=1\r\n",
               std::string settingsName = "setting.ini", json stationExtra = json::object()) {
        json station = {{"time_scale", 0.01}, {"devices", std::move(devices)}};
        station.update(stationExtra);
        home.write("station.json", station.dump(2));
        home.write(settingsName, settings);
        std::filesystem::create_directories(temporaryFolder());
    }

    Bytes image(ImageFamily family) {
        auto bytes = synthesized(lineImage(family));
        if (!bytes.empty())
            writeImage(home, "image.bin", bytes);
        return bytes;
    }

    ProcessResult run(std::vector<std::string> arguments, EnvironmentChanges extra = {},
                      ChildOutput output = ChildOutput::Captured) {
        EnvironmentChanges environment = {{"TESSELL_SIM", (home / "station.json").string()},
                                          {"TESSELL_HOME", home.path().string()},
                                          {"XDG_RUNTIME_DIR", home.path().string()},
                                          {"TMPDIR", temporaryFolder().string()},
                                          {"TESSELL_TRACE", std::nullopt},
                                          // Never a window on the developer's screen.
                                          {"DISPLAY", std::nullopt},
                                          {"WAYLAND_DISPLAY", std::nullopt},
                                          {"QT_QPA_PLATFORM", std::nullopt}};
        for (auto& [name, value] : extra)
            environment[name] = std::move(value);
        return runProcess(TESSELL_BINARY, arguments, environment, std::chrono::seconds(20), output);
    }

    std::string imagePath() const { return (home / "image.bin").string(); }
    // Apart from the program folder, so that both burn-log copies show.
    std::filesystem::path temporaryFolder() const { return home / "tmp"; }

    TempDir home;
};

json camera(const char* chipId, json extra = json::object()) {
    json device = {{"friendly_name", "Line camera"},
                   {"chip_id", chipId},
                   {"flash", {{"part", "0x79"}, {"file", "cam0.flash"}}}};
    device.update(extra);
    return device;
}

TEST(SingleCameraRun, SilentDownloadIntoA7315PassesAndLeavesTheImageInFlash) {
    RunStation station(json::array({camera("0xC0")}));
    const Bytes image = station.image(ImageFamily::f);
    const auto result = station.run({"-s", station.imagePath(), "-silent"});
    ASSERT_TRUE(result.finished) << result.err;
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(contains(result.out, "Driver Connected(ZLTA_7315/23/13/17 series)\n"))
        << result.out;
    EXPECT_TRUE(contains(result.out, "Start Download...Download complete.\n")) << result.out;
    EXPECT_FALSE(contains(result.out, "\r")) << "plain lines on standard output";
    EXPECT_EQ(station.home.read("Result.txt"), "TestResult = pass");

    // The flash as the camera holds it, with the part's type byte the
    // download wrote into the image.
    EXPECT_TRUE(
        flashBeginsWith(station.home.read("cam0.flash"), expectedFlash(image, IcType::k, 0x79)));
}

// Stations with two cameras: the camera downloaded is the camera selected,
// whatever the other one shares with it.
TEST(SingleCameraRun, TwoCameraStationsWriteAndRecordOnlyTheSelectedCamera) {
    {
        SCOPED_TRACE("two 'm' cameras, the second selected, module download");
        const auto moduleCamera = [](const char* chipId, int port) {
            const std::string n = std::to_string(port);
            return camera(chipId, {{"hub", "1-1"},
                                   {"port", port},
                                   {"flash", {{"part", "0x79"}, {"file", "cam" + n + ".flash"}}},
                                   {"module", {{"size", 131072}, {"file", "mod" + n + ".bin"}}}});
        };
        RunStation station(json::array({moduleCamera("0xD0", 1), moduleCamera("0xD2", 2)}),
                           "[SETTING]\r\nCam_Num=1\r\nRev=D2\r\nisMCM=1\r\n");
        const Bytes image = station.image(ImageFamily::h);
        const auto result = station.run({"-f", station.imagePath(), "-silent"});
        ASSERT_TRUE(result.finished) << result.err;
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        const std::string text = station.home.read("mod2.bin");
        const Bytes module2(text.begin(), text.end());
        ASSERT_GE(module2.size(), image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.end(), module2.begin()))
            << "the selected camera's module holds the image";
        EXPECT_FALSE(std::filesystem::exists(station.home / "mod1.bin") &&
                     station.home.read("mod1.bin") != std::string(131072, '\xFF'))
            << "the other camera's module is untouched";
        EXPECT_FALSE(std::filesystem::exists(station.home / "cam1.flash") &&
                     station.home.read("cam1.flash") != std::string(65536, '\xFF'))
            << "the other camera's flash is untouched";
    }
    {
        SCOPED_TRACE("port 1 of two hubs, the second camera selected, its serial recorded");
        RunStation station(
            json::array({camera("0xC0", {{"hub", "1-1"},
                                         {"port", 1},
                                         {"rom", {{"serial", "SERIAL-A"}}},
                                         {"flash", {{"part", "0x79"}, {"file", "camA.flash"}}}}),
                         camera("0x80", {{"hub", "1-2"},
                                         {"port", 1},
                                         {"rom", {{"serial", "SERIAL-B"}}},
                                         {"flash", {{"part", "0x79"}, {"file", "camB.flash"}}}})}),
            "[SETTING]\r\nCam_Num=1\r\nRev=80\r\nSNAddr=1\r\nWriteLog=1\r\n"
            "[LOG]\r\nFORMAT={sn}{tab}{result}{nl}\r\n");
        station.image(ImageFamily::d);
        const auto result = station.run({"-f", station.imagePath(), "-silent"});
        ASSERT_TRUE(result.finished) << result.err;
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_TRUE(contains(station.home.read("burn_result.txt"), "SERIAL-B\tPass"))
            << station.home.read("burn_result.txt");
        EXPECT_FALSE(std::filesystem::exists(station.home / "camA.flash") &&
                     station.home.read("camA.flash") != std::string(65536, '\xFF'));
    }
}

// Serial numbers as stations configure them: the number goes in, the file
// moves on once per pass, and a station set up for numbers never passes a
// camera without one.
TEST(SingleCameraRun, SerialNumberStationsAdvanceTheirFileOrFail) {
    {
        SCOPED_TRACE("a file in a subfolder, named with a backslash");
        RunStation station(json::array({camera("0xC0")}), "[SETTING]\r\nSNFile=sub\\sn.txt\r\n");
        std::filesystem::create_directories(station.home / "sub");
        station.home.write("sub/sn.txt", "AB12****\r\nAB12003F\r\n");
        station.image(ImageFamily::f);
        const auto result = station.run({"-f", station.imagePath(), "-silent"});
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_TRUE(contains(result.out, " Load setting.ini ")) << result.out;
        EXPECT_TRUE(contains(result.out, "Change SN to AB12003F")) << result.out;
        EXPECT_EQ(station.home.read("sub/sn.txt"), "AB12****\r\nAB120040\r\n");
    }
    {
        SCOPED_TRACE("a rework station with a serial-number file");
        RunStation station(json::array({camera("0xC0")}),
                           "[SETTING]\r\nrework=1\r\nSNFile=sn.txt\r\n", "moravel.ini");
        station.home.write("sn.txt", "AB12****\r\nAB120041\r\n");
        station.image(ImageFamily::f);
        const auto result = station.run({"-f", station.imagePath(), "-silent"});
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_EQ(station.home.read("sn.txt"), "AB12****\r\nAB120042\r\n");
    }
    {
        SCOPED_TRACE("a configured file that is missing");
        RunStation station(json::array({camera("0xC0")}), "[SETTING]\r\nSNFile=sn.txt\r\n");
        station.image(ImageFamily::f);
        const auto result = station.run({"-f", station.imagePath(), "-silent"});
        EXPECT_EQ(result.status, 3) << result.out << result.err;
        EXPECT_TRUE(contains(result.out, "open sn.txt fail")) << result.out;
        EXPECT_EQ(station.home.read("Result.txt"), "TestResult = fail");
    }
}

// Every exit code a factory script branches on, each in the situation that
// gives it, with the files the run leaves behind.
TEST(SingleCameraRun, ExitCodesAndFilesOfUnattendedRuns) {
    const std::string logSettings = "[LOG]\r\nHEADER=Result\r\nFORMAT={result}\r\n";
    struct Case {
        const char* name;
        json devices;
        std::string settingsName;
        std::string settings;
        json stationExtra;
        bool missingImage;
        int status;
        const char* cmdModeLog; // expected line of CmdModeLog.log; "" when none
        const char* result;     // Result.txt
        bool burnResult;        // a record in burn_result.txt
    };
    const std::vector<Case> cases = {
        {"pass", json::array({camera("0xC0")}), "setting.ini",
         "[SETTING]\r\nWriteLog=1\r\n" + logSettings, json::object(), false, 0,
         "]Download complete.\r\n", "TestResult = pass", true},
        {"download fails", json::array({camera("0xC0", {{"faults", {{{"corrupt_block", 2}}}}})}),
         "setting.ini", "[SETTING]\r\nWriteLog=1\r\n" + logSettings, json::object(), false, 2,
         "]Download fail.\r\n", "TestResult = fail", true},
        {"download with serial number fails",
         json::array({camera("0xC0", {{"faults", {{{"corrupt_block", 2}}}}})}), "calden.ini",
         "[SETTING]\r\nWriteLog=1\r\nBurnSN=1\r\n" + logSettings, json::object(), false, 3,
         "]Download (Change SN) fail.\r\n", "TestResult = fail", true},
        // A run that ends without a download still leaves its result: the
        // previous camera's pass must not stand for this one.
        {"PID/VID differ from the image's",
         json::array({camera("0xC0", {{"rom", {{"vid", "0x1209"}, {"pid", "0x0001"}}}})}),
         "moravel.ini", "[SETTING]\r\nWriteLog=1\r\nrework=1\r\nCheckPidVid=1\r\n" + logSettings,
         json::object(), false, 4, "", "TestResult = fail", false},
        {"identity check at selection", json::array({camera("0xC0")}), "setting.ini",
         "[SETTING]\r\nWriteLog=1\r\nCam_Num=1\r\nRev=38\r\n" + logSettings, json::object(), false,
         4, "]Device PID/VID not match.\r\n", "TestResult = fail", false},
        {"image load fails without a camera", json::array(), "setting.ini",
         "[SETTING]\r\nWriteLog=1\r\n" + logSettings, json::object(), true, 10, "",
         "TestResult = fail", false},
        {"AC power refused", json::array({camera("0xC0")}), "setting.ini",
         "[SETTING]\r\nWriteLog=1\r\ncheckac=1\r\n" + logSettings, json{{"ac_power", false}}, false,
         255, "", "TestResult = fail", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunStation station(c.devices, c.settings, c.settingsName, c.stationExtra);
        station.home.write("Result.txt", "TestResult = pass"); // the previous camera's
        if (!c.missingImage)
            station.image(ImageFamily::f);
        const auto result = station.run({"-s", station.imagePath(), "-silent"});
        ASSERT_TRUE(result.finished) << result.err;
        EXPECT_EQ(result.status, c.status) << result.out << result.err;
        EXPECT_EQ(station.home.read("Result.txt"), c.result);
        const std::string cmdModeLog = station.home.read("CmdModeLog.log");
        if (*c.cmdModeLog) {
            EXPECT_TRUE(contains(cmdModeLog, c.cmdModeLog)) << cmdModeLog;
        }
        const std::string burnResult = station.home.read("burn_result.txt");
        if (c.burnResult) {
            EXPECT_TRUE(contains(burnResult, "Result\r\n")) << burnResult;
            EXPECT_TRUE(contains(burnResult, c.status == 0 ? "Pass\r\n" : "Fail\r\n"))
                << burnResult;
        } else {
            EXPECT_EQ(burnResult, "");
        }
        // Both burn-log copies hold the same lines.
        const std::string burnLog = station.home.read("burn_log.txt");
        EXPECT_EQ(burnLog, TempDir::readFile(station.temporaryFolder() / "burn_log.txt"));
        if (c.status != 255) {
            EXPECT_FALSE(burnLog.empty());
        }
    }
}

TEST(SingleCameraRun, FailingCameraEndsWithTwoAndSaysSoWithMessages) {
    RunStation station(json::array({camera("0xC0", {{"faults", {{{"corrupt_block", 2}}}}})}));
    station.image(ImageFamily::f);
    const auto result = station.run({"-f", station.imagePath(), "-silent", "-m"});
    ASSERT_TRUE(result.finished) << result.err;
    EXPECT_EQ(result.status, 2) << result.out << result.err;
    EXPECT_TRUE(contains(result.out, "Download fail.\n")) << result.out;
    EXPECT_TRUE(contains(result.err, "Fail: Download Fail!\n")) << result.err;
    EXPECT_EQ(station.home.read("Result.txt"), "TestResult = fail");
    EXPECT_TRUE(contains(station.home.read("CmdModeLog.log"), "]Download fail.\r\n"));
}

TEST(SingleCameraRun, NoCameraEndsPromptlyWithTheStoredCode) {
    RunStation station(json::array());
    station.image(ImageFamily::f);
    station.home.write("Result.txt", "TestResult = pass");
    const auto result = station.run({"-s", station.imagePath(), "-silent"});
    ASSERT_TRUE(result.finished) << "a run without a camera must not wait";
    EXPECT_EQ(result.status, 99);
    EXPECT_TRUE(contains(result.out, "*** Device not found! ***")) << result.out;
    EXPECT_EQ(station.home.read("Result.txt"), "TestResult = fail");
}

// Mistyped options never download another image in silence; an empty path
// is a failed image load, not the settings' image.
TEST(SingleCameraRun, MistypedImageOptionsAreNamedAndAnEmptyPathWritesNothing) {
    struct Case {
        std::vector<std::string> arguments; // "IMAGE" stands for the image's path
        const char* told;                   // on standard error
    };
    const Case cases[] = {
        {{"-F", "IMAGE", "-silent"}, "unknown option \"-F\" ignored"},
        {{"-f=IMAGE", "-silent"}, "ignored (an option and its value are two words"},
        {{"IMAGE", "-silent"}, "ignored: no option takes it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.told);
        RunStation station(json::array({camera("0xC0")}));
        station.image(ImageFamily::f);
        std::vector<std::string> arguments;
        for (const std::string& argument : c.arguments)
            arguments.push_back(argument == "IMAGE"      ? station.imagePath()
                                : argument == "-f=IMAGE" ? "-f=" + station.imagePath()
                                                         : argument);
        const auto result = station.run(arguments);
        ASSERT_TRUE(result.finished) << result.err;
        EXPECT_TRUE(contains(result.err, c.told)) << result.err;
    }

    RunStation station(json::array({camera("0xC0")}));
    const Bytes image = station.image(ImageFamily::f);
    writeImage(station.home, "SF.bin", image); // the settings' image, there to be taken
    station.home.write("Result.txt", "TestResult = pass");
    const auto result = station.run({"-f", "", "-silent"});
    ASSERT_TRUE(result.finished) << result.err;
    EXPECT_EQ(result.status, 10) << result.out << result.err;
    EXPECT_TRUE(contains(result.err, "the image path after -f is empty")) << result.err;
    EXPECT_EQ(station.home.read("Result.txt"), "TestResult = fail");
    const std::string flash = station.home.read("cam0.flash");
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](char c) { return c == '\xFF'; }))
        << "nothing was written";
}

// A settings file that is there but cannot be read stops the tool: the
// station must not run on defaults (no serial numbers, no camera check).
TEST(SingleCameraRun, ASettingsFileThatCannotBeReadStopsTheRun) {
    RunStation station(json::array({camera("0xC0")}), "", "brevik.ini");
    station.image(ImageFamily::f);
    std::filesystem::create_directory(station.home / "setting.ini");
    const auto result = station.run({"-s", station.imagePath(), "-silent"});
    ASSERT_TRUE(result.finished) << result.err;
    EXPECT_EQ(result.status, 99);
    EXPECT_TRUE(contains(result.err, "the settings file \"" +
                                         (station.home / "setting.ini").string() +
                                         "\" is a folder"))
        << result.err;
    EXPECT_FALSE(contains(result.out, "Start Download")) << result.out;
    EXPECT_EQ(station.home.read("Result.txt"), "TestResult = fail");
}

// Files the tool cannot write are named once each; the outcome stands.
TEST(SingleCameraRun, FilesThatCannotBeWrittenAreNamedOnce) {
    RunStation station(json::array({camera("0xC0")}));
    station.image(ImageFamily::f);
    const auto missing = station.home / "no-such-folder";
    const auto result =
        station.run({"-s", station.imagePath(), "-silent"}, {{"TESSELL_HOME", missing.string()}});
    ASSERT_TRUE(result.finished) << result.err;
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    for (const char* name : {"Result.txt", "CmdModeLog.log"}) {
        const std::string line = "tessell: warning: cannot write \"" + (missing / name).string() +
                                 "\": no such file or directory\n";
        const auto first = result.err.find(line);
        EXPECT_NE(first, std::string::npos) << result.err;
        EXPECT_EQ(result.err.find(line, first + 1), std::string::npos) << "named once";
    }
}

TEST(SingleCameraRun, ImageForAnotherChipNeedsYes) {
    // A 7315 image offered to a 7310 camera.
    {
        RunStation station(json::array({camera("0x80")}));
        station.image(ImageFamily::f);
        const auto result = station.run({"-s", station.imagePath(), "-silent"});
        ASSERT_TRUE(result.finished) << result.err;
        EXPECT_EQ(result.status, 5);
        EXPECT_TRUE(contains(result.err, "Warning: It seems that the bincode is NOT for the IC\n"
                                         "Do you really want to download?\n"))
            << result.err;
        EXPECT_TRUE(contains(result.err, "Answered No")) << result.err;
        EXPECT_FALSE(contains(result.out, "Start Download"));
    }
    {
        RunStation station(json::array({camera("0x80")}));
        station.image(ImageFamily::f);
        const auto result = station.run({"-s", station.imagePath(), "-y", "-silent"});
        ASSERT_TRUE(result.finished) << result.err;
        EXPECT_TRUE(contains(result.err, "Answered Yes")) << result.err;
        EXPECT_TRUE(contains(result.out, "Start Download...")) << result.out;
        EXPECT_TRUE(result.status == 0 || result.status == 2) << result.status;
    }
}

// -v sends the trace to standard error and TESSELL_TRACE appends it to a
// file, for the unattended tool and for list alike; neither changes what the
// run does or prints on standard output. A trace file that cannot be opened
// is named once and the download still goes through.
TEST(SingleCameraRun, TraceGoesToStandardErrorWithVAndToTheTraceFile) {
    RunStation station(json::array({camera("0xC0")}));
    const Bytes image = station.image(ImageFamily::f);
    const std::vector<std::string> download = {"-s", station.imagePath(), "-silent"};
    const auto traceFile = station.home / "trace.txt";
    station.home.write("trace.txt", "an earlier run\n");

    const auto quiet = station.run(download);
    ASSERT_TRUE(quiet.finished);
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "") << "no trace without -v";

    auto withV = download;
    withV.push_back("-v");
    const auto traced = station.run(withV, {{"TESSELL_TRACE", traceFile.string()}});
    ASSERT_TRUE(traced.finished);
    EXPECT_EQ(traced.status, 0) << traced.err;
    EXPECT_EQ(station.home.read("Result.txt"), "TestResult = pass");
    EXPECT_TRUE(
        flashBeginsWith(station.home.read("cam0.flash"), expectedFlash(image, IcType::k, 0x79)));
    EXPECT_NE(traced.err, "");
    // Standard error holds the trace alone, and the file the same lines
    // after what it held.
    const std::string firstTwoRuns = "an earlier run\n" + traced.err;
    EXPECT_EQ(TempDir::readFile(traceFile), firstTwoRuns);
    std::istringstream lines(traced.err);
    for (std::string line; std::getline(lines, line);)
        EXPECT_FALSE(contains(traced.out, line)) << "trace line on standard output: " << line;

    // The file alone: standard error stays quiet, the file grows.
    const auto fileOnly = station.run(download, {{"TESSELL_TRACE", traceFile.string()}});
    EXPECT_EQ(fileOnly.status, 0) << fileOnly.err;
    EXPECT_EQ(fileOnly.err, "");
    const std::string threeRuns = TempDir::readFile(traceFile);
    EXPECT_TRUE(threeRuns.starts_with(firstTwoRuns));
    EXPECT_GT(threeRuns.size(), firstTwoRuns.size());

    const auto missing = station.home / "no such folder" / "trace.txt";
    const auto unopenable = station.run(withV, {{"TESSELL_TRACE", missing.string()}});
    EXPECT_EQ(unopenable.status, 0) << unopenable.err;
    EXPECT_EQ(station.home.read("Result.txt"), "TestResult = pass");
    const auto named = unopenable.err.find(missing.string());
    ASSERT_NE(named, std::string::npos) << unopenable.err;
    EXPECT_EQ(unopenable.err.find(missing.string(), named + 1), std::string::npos) << "named once";
    EXPECT_GT(std::count(unopenable.err.begin(), unopenable.err.end(), '\n'), 1)
        << "-v still traces: " << unopenable.err;

    // tessell list: the same listing, with the trace on standard error.
    const auto list = station.run({"list", "--json"});
    const auto listTraced = station.run({"list", "-v", "--json"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(listTraced.status, 0) << listTraced.err;
    EXPECT_EQ(listTraced.out, list.out);
    EXPECT_EQ(list.err, "");
    EXPECT_NE(listTraced.err, "");
    // The camera's hub and port (station default: port 1 of "sim-hub-1") on
    // each of its lines.
    std::istringstream listLines(listTraced.err);
    for (std::string line; std::getline(listLines, line);)
        EXPECT_TRUE(line.starts_with("[sim-hub-1:1] ")) << line;
}

// A factory script that stops reading the tool's output must not kill the
// download: the run goes on to its result and writes its files.
TEST(SingleCameraRun, AReaderThatGoesAwayDoesNotStopTheDownload) {
    RunStation station(json::array({camera("0xC0")}),
                       "[SETTING]\r\nWriteLog=1\r\n[LOG]\r\nHEADER=Result\r\nFORMAT={result}\r\n");
    const Bytes image = station.image(ImageFamily::f);
    const auto result =
        station.run({"-s", station.imagePath(), "-silent"}, {}, ChildOutput::ClosedPipe);
    ASSERT_TRUE(result.finished) << result.err;
    EXPECT_EQ(result.status, 0) << "a signal ended it (-1) or it failed: " << result.err;
    EXPECT_EQ(station.home.read("Result.txt"), "TestResult = pass");
    EXPECT_TRUE(contains(station.home.read("CmdModeLog.log"), "]Download complete.\r\n"));
    EXPECT_TRUE(contains(station.home.read("burn_result.txt"), "Pass\r\n"));
    EXPECT_TRUE(
        flashBeginsWith(station.home.read("cam0.flash"), expectedFlash(image, IcType::k, 0x79)));
}

TEST(SingleCameraRun, WindowModeIsRefusedClearly) {
#ifdef _WIN32
    GTEST_SKIP() << "a Windows session always has a desktop to open the window on";
#endif
    RunStation station(json::array({camera("0xC0")}));
    station.image(ImageFamily::f);
    const auto result = station.run({});
    ASSERT_TRUE(result.finished) << result.err;
    EXPECT_EQ(result.status, 99);
    EXPECT_TRUE(contains(result.err, "window is not available")) << result.err;
    const std::string flash = station.home.read("cam0.flash");
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](char c) { return c == '\xFF'; }))
        << "nothing was written";
}

} // namespace
} // namespace tessell::testing
