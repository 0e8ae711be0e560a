// The simulated camera's life on the bus: resets and re-enumeration, the
// injected faults and the state file that shows it all from outside.

#include "support/sim_rig.h"

#include <gtest/gtest.h>
#include <mutex>

using namespace std::chrono_literals;
using nlohmann::json;

namespace tessell::testing {
namespace {

using EventKind = platform::HotplugEvent::Kind;

// Records the notifications a listener receives.
class EventLog {
public:
    explicit EventLog(platform::Hotplug& hotplug)
        : subscription_(hotplug.subscribe([this](const platform::HotplugEvent& event) {
              std::lock_guard lock(mutex_);
              events_.push_back(event);
          })) {}

    std::vector<platform::HotplugEvent> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::vector<platform::HotplugEvent> events_;
    std::unique_ptr<platform::Hotplug::Subscription> subscription_;
};

std::size_t listed(sim::SimPlatform& platform) {
    std::vector<platform::DeviceEntry> entries;
    platform.list(platform::DeviceListKind::VideoInput, entries);
    return entries.size();
}

Status resetChip(XuClient& xu) {
    const std::pair<std::uint16_t, std::uint8_t> writes[] = {
        {0x2034, 0}, {0x2030, 0xFF}, {0x2031, 0}, {0x2032, 0}, {0x2033, 2}, {0x2034, 1}};
    Status last = status::kOk;
    for (const auto& [address, value] : writes)
        last = xu.writeRegister(address, value);
    return last;
}

// A 'k' image whose device descriptor names 1209:000C rev 0917, with the
// invalid signature the tool streams before the download is verified.
Bytes descriptorImage() {
    Bytes bytes(8192, 0x00);
    bytes[0] = 0xF9;
    bytes[1] = 0xFF;
    bytes[4] = 0x01; // header at 0x0100
    bytes[5] = 0x00;
    bytes[0x0116] = 0x02; // device descriptor at 0x0200
    bytes[0x0117] = 0x00;
    const std::uint8_t ids[] = {0x09, 0x12, 0x0C, 0x00, 0x17, 0x09};
    std::copy(std::begin(ids), std::end(ids), bytes.begin() + 0x020A);
    bytes[0x017A] = 0xFF; // no string blocks
    bytes[0x017B] = 0xFF;
    return bytes;
}

TEST(SimBus, ResetLeavesTheBusAndReturnsWithTheIdentityReadAgain) {
    SimRig rig(json::parse(R"([{"chip_id": "0xC0", "reenumerate_ms": 300,
                                "rom": {"vid": "0x1209", "pid": "0x0001"}}])"));
    EventLog events(rig.platform());
    XuClient xu(rig.platform(), 0);
    const auto before = rig.platform().camera(0).view();
    EXPECT_NE(before.devicePath.find("vid_1209&pid_0001"), std::string::npos) << "the rom identity";

    // Download a 'k' image and write its signature the way the tool does.
    xu.loadTable(flash::opcodeTable(0));
    ASSERT_EQ(xu.set(XU_DFU_ENABLE_CONTROL, {1}), status::kOk);
    const Bytes data = descriptorImage();
    for (std::size_t at = 0; at < data.size(); at += 4096)
        ASSERT_EQ(xu.set(XU_DFU_ACCESS_CONTROL, Bytes(data.begin() + at, data.begin() + at + 4096)),
                  status::kOk);
    Bytes header(64, 0xFF);
    header[0] = 0x89;
    header[1] = 0x17;
    xu.set(XU_SF_ADDRESS, {0, 0, 0, 0});
    ASSERT_EQ(xu.set(XU_SF_DATA_64, header), status::kOk);
    xu.set(XU_DFU_ENABLE_CONTROL, {0});

    // An interrupted sequence is no reset.
    xu.writeRegister(0x2034, 0);
    xu.writeRegister(0x2030, 0xFF);
    xu.writeRegister(0x2031, 0);
    xu.writeRegister(0x2033, 2);
    xu.writeRegister(0x2034, 1);
    EXPECT_EQ(xu.readRegister(0x20FF), 0xC0);

    EXPECT_EQ(resetChip(xu), status::kOk) << "the last write of the reset succeeds";
    EXPECT_EQ(xu.writeRegister(0x2041, 0xFF), status::kDeviceGone);
    Bytes probe(1);
    EXPECT_EQ(xu.get(XU_DFU_CHECKSUM, probe), status::kDeviceGone);
    EXPECT_EQ(listed(rig.platform()), 0u);
    rig.platform().service();
    auto seen = events.take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, EventKind::Removal);
    EXPECT_EQ(seen[0].devicePath, before.devicePath);

    rig.pass(299ms);
    EXPECT_TRUE(events.take().empty());
    EXPECT_EQ(listed(rig.platform()), 0u);
    rig.pass(1ms);
    seen = events.take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, EventKind::Arrival);
    const auto after = rig.platform().camera(0).view();
    EXPECT_EQ(seen[0].devicePath, after.devicePath);
    EXPECT_NE(after.devicePath.find("vid_1209&pid_000c"), std::string::npos) << after.devicePath;
    EXPECT_EQ(after.hardwareId, "USB\\VID_1209&PID_000C&REV_0917");
    EXPECT_EQ(after.hub, before.hub);
    EXPECT_EQ(after.port, before.port);
    EXPECT_EQ(after.instanceId.substr(after.instanceId.rfind('\\')),
              before.instanceId.substr(before.instanceId.rfind('\\')))
        << "same hub and port, same key";

    // The old binding stays dead; a new one reaches the camera.
    EXPECT_EQ(xu.get(XU_DFU_CHECKSUM, probe), status::kDeviceGone);
    XuClient again(rig.platform(), 0);
    EXPECT_EQ(again.readRegister(0x20FF), 0xC0);

    // The firmware's own restart leaves and returns the same way.
    again.writeRegister(0x20F8, 1);
    again.writeRegister(0x20F5, 0xAA);
    again.writeRegister(0x20F6, 0x55);
    EXPECT_EQ(again.writeRegister(0x20F7, 0xA0), status::kOk);
    EXPECT_EQ(again.get(XU_DFU_CHECKSUM, probe), status::kDeviceGone);
    rig.pass(300ms);
    seen = events.take();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, EventKind::Removal);
    EXPECT_EQ(seen[1].kind, EventKind::Arrival);
}

TEST(SimFaults, RequestFaultsCountByKindSelectorRegisterAndDownload) {
    SimRig rig(json::parse(R"([{"faults": [
        {"op": "set", "selector": 10, "nth": 2, "times": 2, "status": "0x8007001F"},
        {"op": "get", "register": "0x20FF", "status": "0x80004005"},
        {"op": "len", "selector": 10, "status": "0x80070015", "in_download": true}]}])"));
    XuClient xu(rig.platform(), 0);

    EXPECT_EQ(xu.readRegister(0x2509), 0) << "another register does not count";
    Bytes one(1);
    xu.set(XU_REG_ADDRESS, {0xFF, 0x20});
    EXPECT_EQ(xu.get(XU_REG_DATA, one), status::kFail);
    EXPECT_EQ(xu.get(XU_REG_DATA, one), status::kOk);
    EXPECT_EQ(one[0], 0xC0);

    std::uint32_t size = 0;
    EXPECT_EQ(xu.size(XU_DFU_ACCESS_CONTROL, size), status::kOk) << "outside download: not counted";
    xu.loadTable(flash::opcodeTable(0));
    xu.set(XU_DFU_ENABLE_CONTROL, {1});
    EXPECT_EQ(xu.size(XU_DFU_ACCESS_CONTROL, size), status::kNotReady);
    EXPECT_EQ(xu.size(XU_DFU_ACCESS_CONTROL, size), status::kOk);

    // Blocks 2 and 3 answer the status and are not taken: the stream goes on
    // where it stood.
    const Status expected[] = {status::kOk, status::kDeviceGone, status::kDeviceGone, status::kOk};
    for (int block = 0; block < 4; ++block)
        EXPECT_EQ(
            xu.set(XU_DFU_ACCESS_CONTROL, Bytes(4096, static_cast<std::uint8_t>(0x10 * block))),
            expected[block])
            << "block " << block + 1;
    const auto flash = rig.platform().camera(0).flashContents();
    EXPECT_EQ(flash[1], 0x00);
    EXPECT_EQ(flash[4096], 0x30) << "the fourth block follows the first";
    EXPECT_EQ(flash[8192], 0xFF);

    // Counting starts again when the camera arrives again.
    xu.set(XU_DFU_ENABLE_CONTROL, {0});
    resetChip(xu);
    rig.pass(300ms);
    XuClient again(rig.platform(), 0);
    again.set(XU_REG_ADDRESS, {0xFF, 0x20});
    EXPECT_EQ(again.get(XU_REG_DATA, one), status::kFail);
}

TEST(SimFaults, UnplugAfterLeavesUntilTheStationPlugsItInAgain) {
    const json devices = json::parse(R"([{"faults": [{"unplug_after": 5}]},
        {"faults": [{"unplug_after": 2, "in_download": true}]}])");
    SimRig rig(devices);
    EventLog events(rig.platform());
    XuClient xu(rig.platform(), 0);
    Bytes one(1);
    for (int request = 1; request <= 5; ++request)
        EXPECT_EQ(xu.get(XU_DFU_CHECKSUM, one), status::kOk) << "request " << request;
    EXPECT_EQ(xu.get(XU_DFU_CHECKSUM, one), status::kDeviceGone);
    rig.pass(10s);
    auto seen = events.take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, EventKind::Removal);

    // The second camera (now first in the list) counts only requests made in
    // download mode.
    XuClient download(rig.platform(), 0);
    for (int request = 0; request < 10; ++request)
        EXPECT_EQ(download.read(XU_DFU_CHECKSUM, 1), Bytes{0});
    EXPECT_EQ(download.set(XU_DFU_ENABLE_CONTROL, {1}), status::kOk) << "not yet in download";
    EXPECT_EQ(download.read(XU_DFU_CHECKSUM, 1), Bytes{0});
    EXPECT_EQ(download.read(XU_DFU_CHECKSUM, 1), Bytes{0});
    EXPECT_EQ(download.get(XU_DFU_CHECKSUM, one), status::kDeviceGone);

    // Plugged in again by the station file; the spent fault does not fire again.
    rig.rewrite(devices);
    rig.pass(200ms);
    seen = events.take();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].kind, EventKind::Removal);
    EXPECT_EQ(seen[1].kind, EventKind::Arrival);
    EXPECT_EQ(seen[2].kind, EventKind::Arrival);
    XuClient back(rig.platform(), 0);
    for (int request = 0; request < 10; ++request)
        EXPECT_EQ(back.read(XU_DFU_CHECKSUM, 1), Bytes{0});
}

TEST(SimFaults, AnUnplugFallingOnTheResetKeepsTheCameraAway) {
    // The reset takes twelve requests (address and data for six registers).
    SimRig rig(json::parse(R"([{"faults": [{"unplug_after": 12}], "state_file": "s.json"}])"));
    XuClient xu(rig.platform(), 0);
    EXPECT_EQ(resetChip(xu), status::kOk);
    rig.pass(10s);
    EXPECT_EQ(listed(rig.platform()), 0u);
    const auto state = json::parse(rig.dir.read("s.json"));
    EXPECT_EQ(state["resets"], 1);
    EXPECT_EQ(state["arrivals"], 0);
    EXPECT_EQ(state["requests"], 12);
}

TEST(SimFaults, BusyForeverNoReturnAndNotReady) {
    const json devices = json::parse(R"([
        {"busy_ms": 100, "faults": [{"busy_forever": true}, {"no_return": true}]},
        {"faults": [{"not_ready": 2}]}])");
    SimRig rig(devices);
    XuClient xu(rig.platform(), 0);
    xu.set(XU_FW_CHECKSUM_TRIGGER, {1});
    rig.clock.advance(1h);
    EXPECT_EQ(xu.read(XU_FW_CHECKSUM_TRIGGER, 1), Bytes{1});

    resetChip(xu);
    rig.pass(1h);
    EXPECT_EQ(listed(rig.platform()), 1u) << "the first camera does not come back";
    auto station = devices;
    station[0]["present"] = false;
    rig.rewrite(station);
    rig.pass(200ms);
    EXPECT_EQ(listed(rig.platform()), 1u);
    rig.rewrite(devices);
    rig.pass(200ms);
    EXPECT_EQ(listed(rig.platform()), 2u) << "plugged in again";

    XuClient probe(rig.platform(), 1);
    Bytes one(1);
    EXPECT_EQ(probe.readRegister(0x20FF), 0xC0) << "only probe reads answer not ready";
    EXPECT_EQ(probe.get(XU_DFU_CHECKSUM, one), status::kNotReady);
    EXPECT_EQ(probe.get(XU_DFU_CHECKSUM, one), status::kNotReady);
    EXPECT_EQ(probe.get(XU_DFU_CHECKSUM, one), status::kOk);
    EXPECT_EQ(probe.get(XU_DFU_CHECKSUM, one), status::kOk);
}

TEST(SimStateFile, ShowsTheCameraFromOutside) {
    SimRig rig(json::parse(R"([{"chip_id": "0xC1", "state_file": "state/cam0.json",
                                "registers": {"0x2509": 3}}])"));
    XuClient xu(rig.platform(), 0);
    EXPECT_EQ(xu.readRegister(0x2509), 3);
    auto state = [&] { return json::parse(rig.dir.read("state/cam0.json")); };
    EXPECT_EQ(rig.dir.read("state/cam0.json"),
              R"({"present":true,"mode":"idle","led":"unknown","resets":0,"arrivals":0,)"
              R"("requests":2,"registers":{"0x2041":0,"0x2043":0,"0x20d0":0,"0x20ff":193,)"
              R"("0x2509":3},"flash_status":12})"
              "\n");

    xu.writeRegister(0x2041, 0xFF);
    EXPECT_EQ(state()["led"], "unknown");
    xu.writeRegister(0x2043, 0xFF);
    EXPECT_EQ(state()["led"], "on");
    xu.writeRegister(0x2043, 0xFD);
    xu.writeRegister(0x2041, 0xFD);
    EXPECT_EQ(state()["led"], "off");
    EXPECT_EQ(state()["registers"]["0x2041"], 0xFD);

    xu.set(XU_DFU_ENABLE_CONTROL, {1});
    EXPECT_EQ(state()["mode"], "download");
    EXPECT_EQ(state()["flash_status"], 0) << "'k' unprotects on entering download";
    EXPECT_EQ(state()["requests"], 11);

    resetChip(xu);
    auto now = state();
    EXPECT_EQ(now["present"], false);
    EXPECT_EQ(now["mode"], "idle");
    EXPECT_EQ(now["resets"], 1);
    EXPECT_EQ(now["arrivals"], 0);
    rig.pass(300ms);
    now = state();
    EXPECT_EQ(now["present"], true);
    EXPECT_EQ(now["arrivals"], 1);
    EXPECT_EQ(now["registers"]["0x2034"], 1) << "registers keep what was written";
    EXPECT_FALSE(std::filesystem::exists(rig.dir / "state/cam0.json.tmp"));
}

} // namespace
} // namespace tessell::testing
