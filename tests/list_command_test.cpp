#include "app/list_command.h"
#include "tests/support/process.h"
#include "tests/support/sim_rig.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using nlohmann::json;
using testing::SimRig;

// Cameras of two makes, a device that is not USB, two hubs with equal port
// numbers and a sensor camera: the cases where a listing goes wrong.
json mixedStation() {
    return json::array({
        {{"friendly_name", "Cam A"},
         {"flash", {{"part", "0x79"}}},
         {"rom",
          {{"vid", "0x1209"},
           {"pid", "0x000C"},
           {"bcd", "0x0123"},
           {"manufacturer", "Maker A"},
           {"serial", "SN-A"}}}},
        {{"usb", false}, {"friendly_name", "Integrated"}},
        {{"friendly_name", "Other make"}, {"chip_id", nullptr}},
        {{"friendly_name", "Cam B"},
         {"hub", "sim-hub-2"},
         {"port", 1},
         {"chip_id", "0x90"},
         {"flash", {{"part", "0x8B"}}},
         {"rom", {{"manufacturer", "Maker B"}, {"serial", "SN-B"}}}},
        {{"list", "sensor"}, {"friendly_name", "Front"}, {"port", 7}},
    });
}

TEST(ListCameras, EveryCameraOfOursInListOrderWithItsOwnIdentity) {
    SimRig rig(mixedStation());
    ASSERT_TRUE(rig);
    const platform::CameraServices services{&rig.platform(), &rig.platform(), &rig.platform()};
    const auto cameras = listCameras(services);
    ASSERT_EQ(cameras.size(), 3u);

    EXPECT_EQ(cameras[0].list, "video");
    EXPECT_EQ(cameras[0].index, 0);
    EXPECT_EQ(cameras[0].friendlyName, "Cam A");
    EXPECT_EQ(cameras[0].icType, IcType::k);
    EXPECT_EQ(cameras[0].chipId, 0xC0);
    EXPECT_EQ(cameras[0].vid, 0x1209);
    EXPECT_EQ(cameras[0].pid, 0x000C);
    EXPECT_EQ(cameras[0].bcdDevice, 0x0123);
    EXPECT_EQ(cameras[0].hub, "sim-hub-1");
    EXPECT_EQ(cameras[0].port, 1);
    EXPECT_EQ(cameras[0].manufacturer, "Maker A");
    EXPECT_EQ(cameras[0].serial, "SN-A");
    EXPECT_EQ(cameras[0].flashCode, 0x79);
    EXPECT_EQ(cameras[0].flashName, "MX 25L512");

    // Positions count the non-USB device and the other make's webcam.
    EXPECT_EQ(cameras[1].index, 3);
    EXPECT_EQ(cameras[1].icType, IcType::g);
    EXPECT_EQ(cameras[1].chipId, 0x90);
    // Port 1 on the second hub: its own strings, not those of port 1 on the first.
    EXPECT_EQ(cameras[1].hub, "sim-hub-2");
    EXPECT_EQ(cameras[1].port, 1);
    EXPECT_EQ(cameras[1].manufacturer, "Maker B");
    EXPECT_EQ(cameras[1].serial, "SN-B");
    EXPECT_EQ(cameras[1].flashCode, 0x8B);

    EXPECT_EQ(cameras[2].list, "sensor");
    EXPECT_EQ(cameras[2].index, 0);
    EXPECT_EQ(cameras[2].friendlyName, "Front");
    EXPECT_EQ(cameras[2].port, 7);

    const auto document = listJson(cameras);
    ASSERT_TRUE(document.is_array());
    const std::vector<std::string> keys = {"list",      "index",     "friendlyName", "icType",
                                           "chipName",  "chipId",    "vid",          "pid",
                                           "bcdDevice", "hub",       "port",         "manufacturer",
                                           "serial",    "flashCode", "flashName"};
    std::vector<std::string> written;
    for (const auto& item : document[1].items())
        written.push_back(item.key());
    EXPECT_EQ(written, keys);
    EXPECT_EQ(document[1]["icType"], "g");
    EXPECT_EQ(document[1]["index"], 3);
    EXPECT_EQ(document[0]["pid"], 0x000C);
}

// The built program, as scripts run it: exit status and output per station.
TEST(ListCommand, ExitStatusTellsCamerasNoneOrError) {
    testing::TempDir dir;
    testing::TempDir runtime;
    const auto run = [&](const std::string& station, std::vector<std::string> arguments) {
        const auto file = dir.write("station.json", station);
        arguments.insert(arguments.begin(), "list");
        return testing::runProcess(
            TESSELL_BINARY, arguments,
            {{"TESSELL_SIM", file.string()}, {"XDG_RUNTIME_DIR", runtime.path().string()}});
    };

    const auto found = run(json{{"devices", mixedStation()}}.dump(), {"--json"});
    ASSERT_TRUE(found.finished);
    EXPECT_EQ(found.status, kListFoundCameras) << found.err;
    const auto parsed = json::parse(found.out, nullptr, false);
    ASSERT_TRUE(parsed.is_array()) << found.out;
    EXPECT_EQ(parsed.size(), 3u);

    const auto none = run(R"({"devices": [{"usb": false}]})", {"--json"});
    EXPECT_EQ(none.status, kListNoCamera);
    EXPECT_EQ(json::parse(none.out, nullptr, false), json::array());
    EXPECT_NE(none.err.find("no camera found"), std::string::npos);

    const auto broken = run("{\"devices\": [", {});
    EXPECT_EQ(broken.status, kListError);
    EXPECT_NE(broken.err.find("TESSELL_SIM"), std::string::npos) << broken.err;
    EXPECT_EQ(broken.out, "");

    const auto wrong = run(R"({"devices": []})", {"--xml"});
    EXPECT_EQ(wrong.status, kListError);
    EXPECT_NE(wrong.err.find("--xml"), std::string::npos);
}

// A V4L2 card name cut inside a multi-byte character, and other text that is
// not UTF-8, still give JSON a script can read, with U+FFFD in the place of
// the bad bytes.
TEST(ListCommand, TextThatIsNotUtf8StillGivesValidJson) {
    ListedCamera cut;
    cut.list = "video";
    cut.friendlyName = "Camera \xE6\x97";
    cut.hub = "hub-\xFF";
    cut.manufacturer = "Maker \xC3";
    cut.serial = "SN-1";
    const json parsed = json::parse(listJsonText({cut}), nullptr, false);
    ASSERT_TRUE(parsed.is_array());
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0]["friendlyName"].get<std::string>().rfind("Camera \xEF\xBF\xBD", 0), 0u);
    EXPECT_EQ(parsed[0]["hub"], "hub-\xEF\xBF\xBD");
    EXPECT_EQ(parsed[0]["serial"], "SN-1");
}

} // namespace
} // namespace tessell
