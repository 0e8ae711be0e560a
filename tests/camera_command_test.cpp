// The one-camera commands of the built program against simulated stations:
// the camera chosen by its port, their exit statuses and their JSON results.

#include "app/camera_command.h"
#include "app/startup.h"
#include "platform/instance_guard.h"
#include "tests/support/process.h"
#include "tests/support/synthetic_image.h"
#include "tests/support/test_env.h"
#include "tests/support/text_match.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tessell::testing {
namespace {

using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

json camera(const char* hub, int port, const char* chipId, const char* flashFile) {
    return {{"friendly_name", "Bench camera"},
            {"hub", hub},
            {"port", port},
            {"chip_id", chipId},
            {"flash", {{"part", "0x79"}, {"file", flashFile}}}};
}

// Program folder, station file and image in one scratch folder.
struct FlashStation {
    explicit FlashStation(json devices) {
        home.write("station.json", json{{"time_scale", 0.01}, {"devices", devices}}.dump(2));
        home.write("setting.ini", "[SETTING]\r\n");
    }
    ProcessResult run(std::vector<std::string> arguments) const {
        return runProcess(TESSELL_BINARY, arguments,
                          {{"TESSELL_SIM", (home / "station.json").string()},
                           {"TESSELL_HOME", home.path().string()},
                           {"XDG_RUNTIME_DIR", home.path().string()},
                           {"TMPDIR", home.path().string()}});
    }
    std::string flash(const char* file) const {
        return std::filesystem::exists(home / file) ? home.read(file) : std::string();
    }
    TempDir home;
};

bool blank(const std::string& flash) {
    return flash.find_first_not_of('\xFF') == std::string::npos;
}

// Two cameras on port 1 of two hubs: only the one named is touched.
TEST(CameraCommand, PortChoosesTheCameraAndExitStatusTellsTheOutcome) {
    // The first camera takes no firmware block: its download fails.
    json first = camera("sim-hub-1", 1, "0xC0", "camA.flash");
    first["faults"] = json::array(
        {{{"op", "set"}, {"selector", 10}, {"nth", 1}, {"times", 1000}, {"status", "0x8007001F"}}});
    FlashStation station(json::array({first, camera("sim-hub-2", 1, "0xC0", "camB.flash")}));
    const Bytes image = synthesized(lineImage(ImageFamily::f));
    const auto imagePath = writeImage(station.home, "image.bin", image).string();

    const auto flashed = station.run({"flash", "--port", "sim-hub-2:1", imagePath});
    ASSERT_TRUE(flashed.finished);
    EXPECT_EQ(flashed.status, kCameraJobDone) << flashed.err;
    EXPECT_TRUE(
        flashBeginsWith(station.flash("camB.flash"), expectedFlash(image, IcType::k, 0x79)));
    EXPECT_TRUE(blank(station.flash("camA.flash"))) << "the camera on the first hub is untouched";

    const auto ambiguous = station.run({"erase"});
    EXPECT_EQ(ambiguous.status, kCameraJobUsage);
    EXPECT_TRUE(contains(ambiguous.err, "sim-hub-1:1") && contains(ambiguous.err, "sim-hub-2:1"))
        << ambiguous.err;
    EXPECT_TRUE(flashBeginsWith(station.flash("camB.flash"), expectedFlash(image, IcType::k, 0x79)))
        << "nothing was erased";

    const auto absent = station.run({"info", "--port", "sim-hub-3:1"});
    EXPECT_EQ(absent.status, kCameraJobNoCamera);
    EXPECT_TRUE(contains(absent.err, "no camera on port sim-hub-3:1")) << absent.err;

    EXPECT_EQ(station.run({"led", "blink", "--port", "sim-hub-1:1"}).status, kCameraJobUsage);
    EXPECT_EQ(station.run({"dump", "--port", "sim-hub-1"}).status, kCameraJobUsage);

    // An image for another chip is refused without --yes, with its reason.
    const auto foreign =
        writeImage(station.home, "other.bin", synthesized(lineImage(ImageFamily::d)));
    const auto refused = station.run({"flash", "--port", "sim-hub-1:1", foreign.string()});
    EXPECT_EQ(refused.status, kCameraJobFailed);
    EXPECT_TRUE(contains(refused.err, "another chip")) << refused.err;
    EXPECT_TRUE(blank(station.flash("camA.flash")));

    // A failed download says why, on that camera's port only.
    const auto failed = station.run({"flash", "--port", "sim-hub-1:1", "--json", imagePath});
    EXPECT_EQ(failed.status, kCameraJobFailed);
    const auto failure = json::parse(failed.out, nullptr, false);
    ASSERT_TRUE(failure.is_object()) << failed.out;
    EXPECT_EQ(failure["error"],
              "the download failed: firmware block 1 was not taken, also when sent again");
    EXPECT_EQ(failure["hub"], "sim-hub-1");

    // Another copy running: the camera is left alone.
    const auto guard = platform::makeInstanceGuard(station.home.path(), kInstanceMutexName);
    ASSERT_EQ(guard->acquire().status, platform::InstanceStatus::Acquired);
    const auto locked = station.run({"erase", "--port", "sim-hub-2:1", "--json"});
    EXPECT_EQ(locked.status, kCameraJobUsage);
    const auto lockedResult = json::parse(locked.out, nullptr, false);
    EXPECT_TRUE(lockedResult.is_object() && lockedResult["exitCode"] == kCameraJobUsage)
        << locked.out;
    EXPECT_TRUE(
        flashBeginsWith(station.flash("camB.flash"), expectedFlash(image, IcType::k, 0x79)));
}

// One camera, --port left out: every command's one JSON object.
TEST(CameraCommand, EachCommandPrintsOneJsonResult) {
    // An unprotected flash, so that the erase can be seen to take.
    json device = camera("sim-hub-1", 4, "0xC0", "cam.flash");
    device["flash"]["protected"] = false;
    FlashStation station(json::array({device}));
    const Bytes image = synthesized(lineImage(ImageFamily::f));
    const auto imagePath = writeImage(station.home, "image.bin", image).string();
    const auto run = [&](std::vector<std::string> arguments) {
        arguments.push_back("--json");
        const auto result = station.run(arguments);
        EXPECT_TRUE(result.finished);
        const auto document = json::parse(result.out, nullptr, false);
        if (!document.is_object()) {
            ADD_FAILURE() << "not one JSON object: " << result.out << result.err;
            return json::object();
        }
        EXPECT_EQ(document["exitCode"], result.status);
        if (result.status != kCameraJobUsage) {
            EXPECT_EQ(document["hub"], "sim-hub-1");
            EXPECT_EQ(document["port"], 4);
        }
        return document;
    };

    const auto flashed = run({"flash", imagePath});
    EXPECT_EQ(flashed["command"], "flash");
    EXPECT_EQ(flashed["ok"], true);
    EXPECT_EQ(flashed["result"], "Pass");
    EXPECT_EQ(flashed["image"], imagePath);
    EXPECT_TRUE(contains(flashed.value("log", ""), "Start Download")) << flashed;

    const auto info = run({"info"})["info"];
    EXPECT_EQ(info["icType"], "k");
    EXPECT_EQ(info["chipId"], 0xC0);
    EXPECT_EQ(info["flashCode"], 0x79);
    EXPECT_EQ(info["flashName"], "MX 25L512");
    EXPECT_EQ(info["flashSize"], 65536);
    EXPECT_EQ(info["vid"], 0x1209);
    EXPECT_EQ(info["firmwareVersion"], "0102") << "the version of the image just written";

    const auto dumped = run({"dump", "-o", (station.home / "dump.bin").string()});
    EXPECT_EQ(dumped["ok"], true);
    EXPECT_EQ(dumped["bytes"], 65536);
    EXPECT_EQ(station.home.read("dump.bin"), station.flash("cam.flash").substr(0, 65536));

    EXPECT_EQ(run({"led", "on"})["led"], "on");

    const auto erased = run({"erase"});
    EXPECT_EQ(erased["ok"], true);
    EXPECT_EQ(erased["error"], nullptr);
    EXPECT_EQ(station.flash("cam.flash"), std::string(65536, '\xFF')) << "read back blank";

    // Usage errors are results too; settings takes --json like the others.
    const auto wrong = run({"flash"});
    EXPECT_EQ(wrong["ok"], false);
    EXPECT_EQ(wrong["exitCode"], kCameraJobUsage);
    EXPECT_EQ(station.run({"settings", "--json"}).status, 0);
}

} // namespace
} // namespace tessell::testing
