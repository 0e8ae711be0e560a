#include "common/dialog_loop.h"
#include "multi/identify_hub.h"
#include "multi/port_memory.h"
#include "multi/port_teaching.h"
#include "platform/linux/ini_port_store.h"
#include "tests/support/sim_rig.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace tessell {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using testing::ScopedEnv;
using testing::SimRig;
using testing::TempDir;

class RecordingPortView final : public PortSettingView {
public:
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    void showRows(const std::vector<PortSettingRow>& shown) override { rows = shown; }

    std::vector<std::string> messages;
    std::vector<PortSettingRow> rows;
};

// A camera of ours on a hub port.
json camera(const std::string& hub, int port, bool present = true) {
    return {{"friendly_name", "Teach camera"},
            {"hub", hub},
            {"port", port},
            {"present", present},
            {"rom", {{"vid", "0x1209"}, {"pid", "0x0001"}}}};
}

// A webcam of another make: the tool cannot open it as one of its cameras.
json otherMake(const std::string& hub, int port, bool present = true) {
    json device = camera(hub, port, present);
    device["chip_id"] = nullptr;
    device["friendly_name"] = "Other webcam";
    return device;
}

// Port Setting open on a simulated station, teaching on plug-in and plug-out.
struct TeachRig {
    explicit TeachRig(const json& devices)
        : sim(devices), loop([this](int id) { teaching.OnTimer(id); }),
          teaching({&sim.platform(), &sim.platform()}, loop, memory, state) {
        notifications = sim.platform().subscribe([this](const platform::HotplugEvent& event) {
            loop.post([this, event] { teaching.OnDeviceChange(event); });
        });
        teaching.setPortSetting(&dialog);
        dialog.OnInitDialog(teaching.CountCameras());
    }

    // The station's cameras become `devices`; the notifications and the
    // pause before teaching pass.
    void plug(const json& devices) {
        sim.rewrite(devices);
        sim.pass(milliseconds(200));
        loop.runPending();
        sim.pass(kTeachPause);
        loop.runPending();
    }

    SimRig sim;
    DialogLoop loop;
    PortMemory memory;
    MultiBurnState state = MultiBurnState::Learning;
    RecordingPortView view;
    IdentifyHub dialog{memory, state, view};
    PortTeaching teaching;
    std::unique_ptr<platform::Hotplug::Subscription> notifications;
};

TEST(PortTeaching, OneCameraThroughThreeNewPortsThenBackIntoTheFirst) {
    TeachRig rig(json::array({camera("hub-a", 1, false)}));
    ASSERT_TRUE(rig.sim);
    EXPECT_EQ(rig.view.messages, std::vector<std::string>{std::string(kPlugSameCamera)});
    ASSERT_EQ(rig.view.rows.size(), 16u);
    EXPECT_EQ(rig.view.rows[0], (PortSettingRow{"01 =>", "", ""}));
    EXPECT_EQ(rig.view.rows[1].number, "02");

    // Plugged in: nothing happens before the pause is over.
    rig.sim.rewrite(json::array({camera("hub-a", 1)}));
    rig.sim.pass(milliseconds(200));
    rig.loop.runPending();
    rig.sim.clock.advance(kTeachPause - milliseconds(1));
    rig.loop.runPending();
    EXPECT_EQ(rig.memory.UsedSlotCount(), 0);
    rig.sim.clock.advance(milliseconds(1));
    rig.loop.runPending();
    EXPECT_EQ(rig.view.messages.back(), "Port 01 remember!  (plug-out and plug-in port 2)");

    for (const int port : {2, 3}) {
        rig.plug(json::array({camera("hub-a", port - 1, false)}));
        EXPECT_EQ(rig.view.messages.back(), kPlugSameCamera);
        rig.plug(json::array({camera("hub-a", port)}));
    }
    EXPECT_EQ(rig.view.messages.back(), "Port 03 remember!  (plug-out and plug-in port 4)");
    EXPECT_EQ(rig.view.rows[2], (PortSettingRow{"03", "hub-a", "3"}));
    EXPECT_EQ(rig.view.rows[3].number, "04 =>");
    EXPECT_EQ(rig.view.rows[4].number, "05");

    // Back into the first port: a port it knows, so nothing is said.
    rig.plug(json::array({camera("hub-a", 3, false)}));
    const auto said = rig.view.messages.size();
    rig.plug(json::array({camera("hub-a", 1)}));
    EXPECT_EQ(rig.view.messages.size(), said);
    EXPECT_EQ(rig.memory.UsedSlotCount(), 3);

    // A hub whose name differs only in letter case is another hub.
    rig.plug(json::array({camera("HUB-A", 1)}));
    EXPECT_EQ(rig.view.messages.back(), "Port 04 remember!  (plug-out and plug-in port 5)");
    EXPECT_EQ(rig.memory.FindPortSlot("hub-a", 1), 0);
    EXPECT_EQ(rig.memory.FindPortSlot("HUB-A", 1), 3);
    EXPECT_EQ(rig.teaching.learnedCount(), 4);

    // With Port Setting closed only the memory learns; out of Learning nothing does.
    rig.teaching.setPortSetting(nullptr);
    rig.plug(json::array({camera("hub-a", 5)}));
    EXPECT_EQ(rig.memory.FindPortSlot("hub-a", 5), 4);
    EXPECT_EQ(rig.view.messages.back(), "Port 04 remember!  (plug-out and plug-in port 5)");
    rig.state = MultiBurnState::Standby;
    rig.plug(json::array({camera("hub-a", 6)}));
    EXPECT_EQ(rig.memory.UsedSlotCount(), 5);
}

TEST(PortTeaching, LastSlotFullTableAndCamerasItCannotRead) {
    // A webcam of another make is there from the start: never reported.
    TeachRig rig(json::array({camera("hub-b", 15, false), camera("hub-b", 16, false),
                              otherMake("hub-c", 1), otherMake("hub-c", 2, false)}));
    for (int port = 1; port <= 14; ++port)
        ASSERT_EQ(rig.memory.LearnPort("hub-b", port, port - 1), 1);

    // Two new cameras in one plug-in: learned in list order; the 16th slot
    // names no next port.
    rig.plug(json::array({camera("hub-b", 15), camera("hub-b", 16), otherMake("hub-c", 1),
                          otherMake("hub-c", 2, false)}));
    EXPECT_EQ(rig.view.messages.back(), "Port 16 remember!");
    EXPECT_EQ(rig.view.messages[rig.view.messages.size() - 2],
              "Port 15 remember!  (plug-out and plug-in port 16)");
    EXPECT_EQ(rig.view.rows[15], (PortSettingRow{"16", "hub-b", "16"}));
    for (const auto& row : rig.view.rows)
        EXPECT_EQ(row.number.find("=>"), std::string::npos) << "no slot left to mark";
    for (const auto& message : rig.view.messages)
        EXPECT_NE(message, kCameraUnreadable);

    // A new port with every slot taken is refused, and nothing changes.
    rig.plug(json::array({camera("hub-b", 15), camera("hub-b", 17), otherMake("hub-c", 1),
                          otherMake("hub-c", 2, false)}));
    EXPECT_EQ(rig.view.messages.back(), kAllPortsTaken);
    EXPECT_EQ(rig.memory.FindPortSlot("hub-b", 16), 15);
    EXPECT_EQ(rig.memory.FindPortSlot("hub-b", 17), -1);

    // A camera plugged in that cannot be read is not learned, and the
    // operator is told once: not again while it stays plugged in.
    TeachRig fresh(json::array({otherMake("hub-d", 1, false), camera("hub-d", 2, false)}));
    fresh.plug(json::array({otherMake("hub-d", 1), camera("hub-d", 2, false)}));
    EXPECT_EQ(fresh.view.messages.back(), kCameraUnreadable);
    EXPECT_EQ(fresh.memory.UsedSlotCount(), 0);
    EXPECT_EQ(fresh.view.rows[0].number, "01 =>");
    const auto said = fresh.view.messages.size();
    fresh.plug(json::array({otherMake("hub-d", 1), camera("hub-d", 2)}));
    ASSERT_EQ(fresh.view.messages.size(), said + 1);
    EXPECT_EQ(fresh.view.messages.back(), "Port 01 remember!  (plug-out and plug-in port 2)");
}

std::string slotLines(int first, int last, const std::string& hub) {
    std::string lines;
    for (int slot = first; slot <= last; ++slot) {
        char text[96];
        std::snprintf(text, sizeof text, "%02d-HubName=%s\n%02d-RealNum=%d\n", slot, hub.c_str(),
                      slot, slot);
        lines += text;
    }
    return lines;
}

TEST(PortSetting, OpeningCelarAndOkWithTheStore) {
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().c_str());
    const auto file = config / "tessell" / "port-memory.ini";
    // An older save of eight slots.
    config.write("tessell/port-memory.ini",
                 "[PortMemory]\n" + slotLines(1, 8, "old") + "SavedCount=8\n");
    const auto store = platform::makeUserPortStore();
    EXPECT_EQ(store->location(), file.string());

    PortMemory memory;
    MultiBurnState state = MultiBurnState::Learning;
    EXPECT_EQ(LoadPortMemory(*store, memory, state).count, 8);
    EXPECT_EQ(state, MultiBurnState::Standby);
    RecordingPortView view;
    IdentifyHub dialog(memory, state, view);
    for (const auto& [cameras, message] : std::vector<std::pair<int, std::string_view>>{
             {2, kRemoveAllCameras}, {0, kPlugSameCamera}, {1, ""}}) {
        dialog.OnInitDialog(cameras);
        EXPECT_EQ(view.messages.back(), message) << cameras << " cameras";
    }
    EXPECT_EQ(view.rows[7], (PortSettingRow{"08", "old", "8"}));
    EXPECT_EQ(view.rows[8].number, "09") << "no arrow outside teaching";

    // "Celar", then OK: the next start is in Learning.
    dialog.OnClear();
    EXPECT_EQ(state, MultiBurnState::Learning);
    EXPECT_EQ(view.rows[0], (PortSettingRow{"01 =>", "", ""}));
    const PortMemorySave cleared = dialog.OnOK(*store);
    EXPECT_TRUE(cleared.written) << cleared.problem;
    EXPECT_EQ(cleared.count, 0);
    EXPECT_EQ(config.read("tessell/port-memory.ini").find("SavedCount=8"), std::string::npos);
    EXPECT_NE(config.read("tessell/port-memory.ini").find("SavedCount=0\n"), std::string::npos);
    PortMemory reloaded;
    state = MultiBurnState::Standby;
    EXPECT_EQ(LoadPortMemory(*store, reloaded, state).count, 0);
    EXPECT_EQ(state, MultiBurnState::Learning);

    // Five ports, then OK: slots 01 to 05 are rewritten, 06 to 08 of the old
    // save stay in the store but do not count.
    const std::vector<std::pair<std::string, int>> taught = {
        {"1-2", 1}, {"1-2", 2}, {"Hub-A", 7}, {"hub-a", 7}, {"1-2.4", 3}};
    for (const auto& [hub, port] : taught)
        ASSERT_EQ(memory.LearnPort(hub, port, memory.UsedSlotCount()), 1);
    const PortMemorySave saved = dialog.OnOK(*store);
    EXPECT_TRUE(saved.written);
    EXPECT_EQ(saved.count, 5);
    EXPECT_EQ(state, MultiBurnState::Standby);
    const std::string text = config.read("tessell/port-memory.ini");
    EXPECT_NE(text.find("01-HubName=1-2\n01-RealNum=1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("04-HubName=hub-a\n04-RealNum=7\n"), std::string::npos) << text;
    EXPECT_NE(text.find(slotLines(6, 8, "old")), std::string::npos) << text;
    EXPECT_NE(text.find("SavedCount=5\n"), std::string::npos) << text;

    reloaded = PortMemory();
    EXPECT_EQ(LoadPortMemory(*store, reloaded, state).count, 5);
    EXPECT_EQ(state, MultiBurnState::Standby);
    for (int slot = 0; slot < 5; ++slot) {
        EXPECT_EQ(reloaded.slot(slot).hub, taught[static_cast<std::size_t>(slot)].first);
        EXPECT_EQ(reloaded.slot(slot).port, taught[static_cast<std::size_t>(slot)].second);
    }
    EXPECT_FALSE(reloaded.slot(5).used());
}

// Whatever is in the store, a table that cannot be trusted whole is none:
// the tool starts in Learning and says why.
TEST(PortStore, MissingOrDamagedStoresLoadAsLearning) {
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().c_str());
    const auto store = platform::makeUserPortStore();
    const auto load = [&](std::optional<std::string> content) {
        std::filesystem::remove_all(config / "tessell");
        if (content)
            config.write("tessell/port-memory.ini", *content);
        PortMemory memory;
        MultiBurnState state = MultiBurnState::Standby;
        const PortMemoryLoad result = LoadPortMemory(*store, memory, state);
        EXPECT_EQ(state == MultiBurnState::Standby, result.count > 0);
        EXPECT_EQ(memory.UsedSlotCount(), result.count);
        return result;
    };

    const auto missing = load(std::nullopt);
    EXPECT_EQ(missing.count, 0);
    EXPECT_EQ(missing.problem, "");
    EXPECT_EQ(load("[PortMemory]\nSavedCount=0\n" + slotLines(1, 2, "1-1")).problem, "");

    const std::string hub254(254, 'h');
    const auto accepted = load("; hand-written\r\n\r\n[portmemory]\r\n 01-HubName = 1-1 \r\n"
                               "01-realnum=1\r\n02-HubName=" +
                               hub254 + "\r\n02-RealNum=65535\r\nSavedCount=2\r\n");
    EXPECT_EQ(accepted.count, 2) << accepted.problem;

    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"not a line of the store", "[PortMemory]\nSavedCount=1\n01-HubName\n"},
        {"values before the section", "SavedCount=1\n[PortMemory]\n" + slotLines(1, 1, "1-1")},
        {"another section", "[PortMemory]\nSavedCount=1\n" + slotLines(1, 1, "1-1") + "[Other]\n"},
        {"a name twice", "[PortMemory]\nSavedCount=1\nsavedcount=1\n" + slotLines(1, 1, "1-1")},
        {"a NUL byte", std::string("[PortMemory]\nSavedCount=1\0\n", 27) + slotLines(1, 1, "1-1")},
        {"SavedCount not a number", "[PortMemory]\nSavedCount=-1\n" + slotLines(1, 1, "1-1")},
        {"SavedCount above 16", "[PortMemory]\nSavedCount=17\n" + slotLines(1, 17, "1-1")},
        {"a slot missing",
         "[PortMemory]\nSavedCount=3\n" + slotLines(1, 1, "1-1") + slotLines(3, 3, "1-1")},
        {"an empty port", "[PortMemory]\nSavedCount=1\n01-HubName=1-1\n01-RealNum=4294967295\n"},
        {"a port repeated", "[PortMemory]\nSavedCount=2\n01-HubName=1-1\n01-RealNum=2\n"
                            "02-HubName=1-1\n02-RealNum=2\n"},
        {"a hub of 255 characters",
         "[PortMemory]\nSavedCount=1\n01-HubName=" + hub254 + "h\n01-RealNum=1\n"},
        {"an empty hub", "[PortMemory]\nSavedCount=1\n01-HubName=\n01-RealNum=1\n"},
        {"larger than 64 KiB", "[PortMemory]\n" + slotLines(1, 1, "1-1") + "SavedCount=1\n; " +
                                   std::string(70000, 'x') + "\n"},
    };
    for (const auto& [why, content] : damaged) {
        const auto result = load(content);
        EXPECT_EQ(result.count, 0) << why;
        EXPECT_NE(result.problem, "") << why;
    }
    // The store's name taken by a folder: unreadable.
    std::filesystem::remove_all(config / "tessell");
    std::filesystem::create_directories(config / "tessell" / "port-memory.ini");
    PortMemory memory;
    MultiBurnState state = MultiBurnState::Standby;
    EXPECT_NE(LoadPortMemory(*store, memory, state).problem, "");
    EXPECT_EQ(state, MultiBurnState::Learning);
}

TEST(PortStore, WritesWholeTablesOrNothingWhereTheUserKeepsSettings) {
    TempDir home;
    ScopedEnv noConfig("XDG_CONFIG_HOME", "relative/ignored");
    ScopedEnv homeVariable("HOME", home.path().c_str());
    const auto file = home / ".config" / "tessell" / "port-memory.ini";
    EXPECT_EQ(platform::userPortStoreFile(), file);
    const auto store = platform::makeUserPortStore();

    PortMemory memory;
    MultiBurnState state = MultiBurnState::Learning;
    memory.LearnPort("1-2", 3, 0);
    ASSERT_TRUE(SavePortMemory(*store, memory, state).written);
    const std::string saved = testing::TempDir::readFile(file);
    auto temporary = file;
    temporary += ".tmp";
    EXPECT_FALSE(std::filesystem::exists(temporary));

    // A power cut in the middle of a save leaves a part of a temporary file:
    // the store still reads whole, and the next save writes over it.
    home.write(".config/tessell/port-memory.ini.tmp", "[PortMemory]\n01-Hub");
    PortMemory reloaded;
    EXPECT_EQ(LoadPortMemory(*store, reloaded, state).count, 1);
    memory.LearnPort("1-2", 4, 1);
    ASSERT_TRUE(SavePortMemory(*store, memory, state).written);
    EXPECT_FALSE(std::filesystem::exists(temporary));
    EXPECT_EQ(LoadPortMemory(*store, reloaded, state).count, 2);

    // A save that cannot be made says why and leaves the store as it was.
    const std::string before = testing::TempDir::readFile(file);
    std::filesystem::create_directories(temporary / "blocked");
    memory.LearnPort("1-2", 5, 2);
    const PortMemorySave failed = SavePortMemory(*store, memory, state);
    EXPECT_FALSE(failed.written);
    EXPECT_NE(failed.problem.find(temporary.string()), std::string::npos) << failed.problem;
    EXPECT_EQ(testing::TempDir::readFile(file), before);
    EXPECT_NE(before, saved);

    // Without any folder to keep it in: nothing read, nothing written.
    ScopedEnv noHome("HOME", nullptr);
    const auto nowhere = platform::makeUserPortStore();
    EXPECT_EQ(LoadPortMemory(*nowhere, reloaded, state).count, 0);
    EXPECT_NE(SavePortMemory(*nowhere, memory, state).problem.find("HOME"), std::string::npos);
}

} // namespace
} // namespace tessell
