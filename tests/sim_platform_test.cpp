// The platform services over a simulated station: device lists and binding,
// USB location records, the vendor interface, station edits and hotplug,
// several threads at once.

#include "support/sim_rig.h"

#include <atomic>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <thread>

using namespace std::chrono_literals;
using nlohmann::json;

namespace tessell::testing {
namespace {

using platform::DeviceListKind;

std::vector<platform::DeviceEntry> entriesOf(sim::SimPlatform& platform, DeviceListKind kind) {
    std::vector<platform::DeviceEntry> entries;
    platform.list(kind, entries);
    return entries;
}

bool passesUsbPathTest(const std::string& path) {
    return path.size() >= 7 && (path.substr(4, 3) == "usb" || path.substr(4, 3) == "USB");
}

TEST(SimPlatform, ListsInStationOrderWithTheWindowsForms) {
    SimRig rig(json::parse(R"([
        {"friendly_name": "Front", "hub": "usb-hub-7", "port": 3},
        {"usb": false, "friendly_name": "Virtual"},
        {"list": "sensor", "port": 4},
        {"present": false},
        {"chip_id": null, "friendly_name": "Other make", "rom": {"vid": "0x1209", "pid": "0x000F",
         "bcd": "0x0012"}}])"),
               json::parse(R"({"ac_power": false})"));
    auto& platform = rig.platform();
    const auto video = entriesOf(platform, DeviceListKind::VideoInput);
    ASSERT_EQ(video.size(), 3u);
    EXPECT_EQ(video[0].friendlyName, "Front");
    EXPECT_EQ(video[1].friendlyName, "Virtual");
    EXPECT_EQ(video[2].friendlyName, "Other make");
    EXPECT_TRUE(passesUsbPathTest(video[0].devicePath));
    EXPECT_FALSE(passesUsbPathTest(video[1].devicePath)) << "keeps its position, fails the test";
    EXPECT_TRUE(passesUsbPathTest(video[2].devicePath));
    const std::regex path(
        R"(\\\\\?\\usb#vid_1209&pid_0001&mi_00#6&[0-9a-f]{7}&0&0000#\{[0-9a-f-]{36}\})");
    EXPECT_TRUE(std::regex_match(video[0].devicePath, path)) << video[0].devicePath;
    EXPECT_NE(video[2].devicePath.find("vid_1209&pid_000f"), std::string::npos);

    const auto sensor = entriesOf(platform, DeviceListKind::SensorCamera);
    ASSERT_EQ(sensor.size(), 1u);
    EXPECT_NE(sensor[0].devicePath.find("{24e552d7-6523-47f7-a647-d3465bf1f5ca}"),
              std::string::npos);

    // Imaging devices: the present USB cameras, with their hub and port;
    // each listed USB device is located as itself.
    std::vector<platform::UsbDeviceInfo> imaging;
    ASSERT_EQ(platform.imagingDevices(imaging), status::kOk);
    ASSERT_EQ(imaging.size(), 3u);
    EXPECT_EQ(imaging[0].address, (platform::UsbAddress{"usb-hub-7", 3}));
    EXPECT_EQ(imaging[0].vid, 0x1209);
    EXPECT_EQ(imaging[0].bcdDevice, 0x0100);
    EXPECT_EQ(imaging[1].address, (platform::UsbAddress{"sim-hub-1", 4}));
    EXPECT_EQ(imaging[2].pid, 0x000F);
    EXPECT_EQ(platform.locate(video[0].devicePath)->address, imaging[0].address);
    EXPECT_EQ(platform.locate(sensor[0].devicePath)->address, imaging[1].address);
    EXPECT_EQ(platform.locate(video[2].devicePath)->pid, 0x000F);
    EXPECT_FALSE(platform.locate(video[1].devicePath)) << "not a USB device";
    EXPECT_TRUE(video[0].usb);
    EXPECT_FALSE(video[1].usb);

    // A bound device is the one listed; a stale entry binds nothing.
    EXPECT_TRUE(platform.bind(DeviceListKind::VideoInput, 0, video[0]));
    EXPECT_FALSE(platform.bind(DeviceListKind::VideoInput, 0, video[2]));
    EXPECT_FALSE(platform.bind(DeviceListKind::VideoInput, 3, video[0]));
    EXPECT_EQ(platform.acLineStatus(), 0);

    SimRig empty(json::array());
    std::vector<platform::DeviceEntry> none{{"x", true, "y"}};
    EXPECT_EQ(empty.platform().list(DeviceListKind::VideoInput, none), status::kNothingDone);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(empty.platform().acLineStatus(), 1);
}

TEST(SimPlatform, RefusesStationsItCannotBuild) {
    TempDir dir;
    dir.write("mod.bin", "short");
    const std::pair<const char*, const char*> cases[] = {
        {R"([{"flash": {"size": 1000}}])", "devices[0]: flash: flash size 1000"},
        {R"([{}, {"module": {"size": 65536, "file": "mod.bin"}}])", "devices[1]: module file"},
        {R"([{"flash": {"file": "."}}])", "devices[0]: flash: flash file"},
    };
    for (const auto& [devices, expected] : cases) {
        const auto file = dir.write("station.json", std::string(R"({"devices": )") + devices + "}");
        std::string error;
        const auto platform = sim::SimPlatform::open(file, {false, false}, error);
        EXPECT_FALSE(platform) << devices;
        EXPECT_NE(error.find("station.json"), std::string::npos) << error;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(sim::SimPlatform::open(dir / "none.json", {false, false}, error));
    EXPECT_NE(error.find("none.json"), std::string::npos) << error;
    // Keys the simulator does not know are left to whoever wrote them.
    const auto notes = dir.write("notes.json", R"({"note": 1, "devices": [{"label": "A"}]})");
    EXPECT_TRUE(sim::SimPlatform::open(notes, {false, false}, error)) << error;
}

TEST(SimPlatform, SixteenCamerasOnTwoHubsListQuicklyAndAreFoundByPort) {
    json devices = json::array();
    for (int i = 0; i < 16; ++i) {
        json device;
        // Hub B comes first in the station, so the walk meets it first.
        device["hub"] = i % 2 == 0 ? "hub-B" : "hub-A";
        device["port"] = i / 2 + 1;
        device["rom"] = {{"vid", "0x1209"},
                         {"pid", 0x0001 + i},
                         {"manufacturer", std::string(80, 'M')},
                         {"serial", "SN" + std::to_string(i)}};
        if (i == 4)
            device["xu"] = "fallback";
        if (i == 6)
            device["chip_id"] = nullptr;
        devices.push_back(device);
    }
    SimRig rig(devices);
    auto& platform = rig.platform();

    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 100; ++round)
        ASSERT_EQ(entriesOf(platform, DeviceListKind::VideoInput).size(), 16u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "100 listings of 16 cameras";

    // Every camera is located on its own hub and port, with its own strings.
    const auto entries = entriesOf(platform, DeviceListKind::VideoInput);
    std::set<std::string> ports;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto found = platform.locate(entries[i].devicePath);
        ASSERT_TRUE(found) << i;
        EXPECT_EQ(found->pid, 0x0001 + i);
        EXPECT_EQ(found->serialNumber, "SN" + std::to_string(i));
        EXPECT_EQ(found->manufacturer, std::string(80, 'M'));
        ports.insert(found->address.text());
    }
    EXPECT_EQ(ports.size(), 16u) << "no two cameras share a hub and port";
}

TEST(SimPlatform, AccessAndPropertySetsAnswerAsConfigured) {
    SimRig rig(json::parse(R"([
        {"access": "topology"}, {"access": "vendor"}, {"access": "both"},
        {"xu": "fallback"}, {"xu": "not_found"}, {"xu": "none"}, {"chip_id": null}])"));
    auto& platform = rig.platform();
    struct Offers {
        bool control, topology, vendor;
    };
    const Offers offers[] = {{true, true, false}, {false, false, true}, {true, true, true}};
    for (std::size_t i = 0; i < std::size(offers); ++i) {
        XuClient xu(platform, i);
        EXPECT_EQ(xu.device().control() != nullptr, offers[i].control) << i;
        EXPECT_EQ(xu.device().topology() != nullptr, offers[i].topology) << i;
        EXPECT_EQ(xu.device().vendor() != nullptr, offers[i].vendor) << i;
    }

    // The topology: an Extension-Unit node after two others.
    XuClient primary(platform, 0);
    std::uint32_t count = 0;
    ASSERT_EQ(primary.device().topology()->nodeCount(count), status::kOk);
    EXPECT_EQ(count, 3u);
    Guid type;
    ASSERT_EQ(primary.device().topology()->nodeType(2, type), status::kOk);
    EXPECT_EQ(type, platform::kNodeTypeDevSpecific);
    ASSERT_EQ(primary.device().topology()->nodeType(0, type), status::kOk);
    EXPECT_NE(type, platform::kNodeTypeDevSpecific);
    EXPECT_TRUE(status::failed(primary.device().topology()->nodeType(3, type)));

    Bytes one(1);
    auto probe = [&](XuClient& xu, const Guid& set, std::uint32_t node = 2) {
        xu.propertySet = set;
        xu.node = node;
        return xu.get(XU_DFU_CHECKSUM, one);
    };
    EXPECT_EQ(probe(primary, XU_PROPSET_PRIMARY), status::kOk);
    EXPECT_EQ(probe(primary, XU_PROPSET_FALLBACK), status::kSetNotFound);
    EXPECT_EQ(probe(primary, XU_PROPSET_PRIMARY, 1), status::kSetNotFound) << "not the XU node";

    XuClient fallback(platform, 3);
    EXPECT_EQ(probe(fallback, XU_PROPSET_PRIMARY), status::kSetNotFound);
    EXPECT_EQ(probe(fallback, XU_PROPSET_FALLBACK), status::kOk);

    // "not_found": the probe under the primary set answers not found, the
    // register read after it works, and so does the checksum in a download.
    XuClient notFound(platform, 4);
    EXPECT_EQ(probe(notFound, XU_PROPSET_PRIMARY), status::kNotFound);
    EXPECT_EQ(notFound.readRegister(0x20FF), 0xC0);
    notFound.set(XU_DFU_ENABLE_CONTROL, {1});
    EXPECT_EQ(notFound.get(XU_DFU_CHECKSUM, one), status::kOk);

    XuClient none(platform, 5);
    ASSERT_EQ(none.device().topology()->nodeCount(count), status::kOk);
    for (std::uint32_t node = 0; node < count; ++node) {
        none.device().topology()->nodeType(node, type);
        EXPECT_NE(type, platform::kNodeTypeDevSpecific);
    }
    EXPECT_EQ(probe(none, XU_PROPSET_PRIMARY), status::kSetNotFound);

    XuClient other(platform, 6);
    EXPECT_EQ(probe(other, XU_PROPSET_PRIMARY), status::kSetNotFound);
    EXPECT_EQ(probe(other, XU_PROPSET_FALLBACK), status::kSetNotFound);
}

TEST(SimPlatform, VendorInterfaceDecodesModeZeroCommandWords) {
    SimRig rig(json::parse(R"([{"access": "vendor", "chip_id": "0xB1", "block_size": 2048}])"));
    XuClient xu(rig.platform(), 0);
    auto* vendor = xu.device().vendor();
    ASSERT_NE(vendor, nullptr);
    auto word = [](std::uint32_t value) {
        return Bytes{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                     static_cast<std::uint8_t>(value >> 16),
                     static_cast<std::uint8_t>(value >> 24)};
    };
    auto with = [](Bytes bytes, std::initializer_list<std::uint8_t> more) {
        bytes.insert(bytes.end(), more);
        return bytes;
    };

    // Chip register 0x20FF as the opening code reads it through the driver.
    EXPECT_EQ(vendor->set(35, with(word(0x2010002), {0xFF, 0x20})), status::kOk);
    EXPECT_EQ(vendor->set(35, with(word(0x3810001), {0, 0, 0, 0})), status::kOk);
    Bytes answer(4096, 0xEE);
    EXPECT_EQ(vendor->get(35, answer), status::kOk);
    EXPECT_EQ(answer[0], 0xB1);
    EXPECT_EQ(answer[1], 0) << "the rest of the answer buffer is cleared";

    // GET_LEN: the size in the low 16 bits of the first word.
    EXPECT_EQ(vendor->set(35, with(word(0x0A850002), {0, 0, 0, 0})), status::kOk);
    EXPECT_EQ(vendor->get(35, answer), status::kOk);
    EXPECT_EQ(answer[0] | answer[1] << 8, 2048);

    // A register write, and the answer to it.
    vendor->set(35, with(word(0x2010002), {0x41, 0x20}));
    EXPECT_EQ(vendor->set(35, with(word(0x3010001), {0xFF})), status::kOk);
    vendor->set(35, with(word(0x3810001), {0, 0, 0, 0}));
    vendor->get(35, answer);
    EXPECT_EQ(answer[0], 0xFF);

    // Failures: another property, a short buffer, data missing, an unknown request.
    EXPECT_EQ(vendor->set(34, word(0x3810001)), status::kInvalidArgument);
    EXPECT_EQ(vendor->get(34, answer), status::kInvalidArgument);
    EXPECT_EQ(vendor->set(35, Bytes{0x01, 0x00}), status::kInvalidArgument);
    EXPECT_EQ(vendor->set(35, with(word(0x3010002), {0xFF})), status::kInvalidArgument);
    EXPECT_EQ(vendor->set(35, word(0x03820001)), status::kInvalidArgument);
    EXPECT_EQ(vendor->set(35, word(0x03811001)), status::kInvalidArgument) << "beyond 4096 bytes";
    // A failed read answers its status on Get as well.
    EXPECT_EQ(vendor->set(35, with(word(0x17810003), {0, 0, 0, 0})), status::kOk);
    EXPECT_EQ(vendor->set(35, with(word(0x09810001), {0, 0, 0, 0})), status::kFail);
    EXPECT_EQ(vendor->get(35, answer), status::kFail);

    // Reset through the vendor path: the interface answers device gone.
    for (const auto& [address, value] :
         std::initializer_list<std::pair<std::uint8_t, std::uint8_t>>{
             {0x34, 0}, {0x30, 0xFF}, {0x31, 0}, {0x32, 0}, {0x33, 2}, {0x34, 1}}) {
        vendor->set(35, with(word(0x2010002), {address, 0x20}));
        vendor->set(35, with(word(0x3010001), {value}));
    }
    EXPECT_EQ(vendor->set(35, with(word(0x3810001), {0, 0, 0, 0})), status::kDeviceGone);
    EXPECT_EQ(vendor->get(35, answer), status::kDeviceGone);
}

TEST(SimPlatform, StationEditsAndResetsNotifyOnTheServiceThread) {
    ScaledClock scaled;
    ClockOverride useScaled(scaled);
    TempDir dir;
    json devices = json::parse(R"([{"hub": "hub-1", "port": 1}, {"hub": "hub-1", "port": 2},
                                    {"present": false, "reenumerate_ms": 300}])");
    json station = {{"time_scale", 0.01}, {"devices", devices}};
    const auto file = dir.write("station.json", station.dump());
    std::string error;
    auto platform = sim::SimPlatform::open(file, {}, error);
    ASSERT_TRUE(platform) << error;
    EXPECT_EQ(clock().timeScale(), 0.01) << "the station's time scale";

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<platform::HotplugEvent> events;
    auto subscription = platform->subscribe([&](const platform::HotplugEvent& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        changed.notify_all();
    });
    // Bounded waits on real time: the edits are seen within 200 ms of tool time.
    auto waitForEvents = [&](std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 5s, [&] { return events.size() >= count; });
        return std::exchange(events, {});
    };
    auto rewrite = [&](const json& edited, int second) {
        station["devices"] = edited;
        dir.write("station.json", station.dump());
        std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) +
                                                   std::chrono::seconds(second));
    };

    const auto oldPath = platform->camera(1).view().devicePath;
    devices[0]["present"] = false;
    devices[1]["port"] = 5;
    devices[2]["present"] = true;
    devices[1]["chip_id"] = 1; // not taken from a re-read
    rewrite(devices, 1);
    auto seen = waitForEvents(4);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].kind, platform::HotplugEvent::Kind::Removal);
    EXPECT_EQ(seen[1].kind, platform::HotplugEvent::Kind::Removal);
    EXPECT_EQ(seen[1].devicePath, oldPath);
    EXPECT_EQ(seen[2].kind, platform::HotplugEvent::Kind::Arrival);
    EXPECT_NE(seen[2].devicePath, oldPath) << "a new port, a new instance";
    EXPECT_EQ(seen[3].kind, platform::HotplugEvent::Kind::Arrival);
    EXPECT_EQ(platform->camera(1).view().port, 5);
    XuClient moved(*platform, 0);
    EXPECT_EQ(moved.readRegister(0x20FF), 0xC0);

    // A broken edit changes nothing and is reported.
    dir.write("station.json", "{\"devices\": [");
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) + 10s);
    const Deadline deadline(200s); // two real seconds at this scale
    while (platform->reloadError().empty() && !deadline.expired())
        clock().sleepFor(10ms);
    EXPECT_NE(platform->reloadError().find("not valid JSON"), std::string::npos);
    EXPECT_EQ(entriesOf(*platform, DeviceListKind::VideoInput).size(), 2u);

    // A reset comes back after its re-enumeration time without anyone asking.
    XuClient third(*platform, 1);
    for (const auto& [address, value] :
         std::initializer_list<std::pair<std::uint16_t, std::uint8_t>>{
             {0x2034, 0}, {0x2030, 0xFF}, {0x2031, 0}, {0x2032, 0}, {0x2033, 2}, {0x2034, 1}})
        third.writeRegister(address, value);
    seen = waitForEvents(2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, platform::HotplugEvent::Kind::Removal);
    EXPECT_EQ(seen[1].kind, platform::HotplugEvent::Kind::Arrival);
}

TEST(SimPlatform, CamerasServeSeveralThreadsAtOnce) {
    json devices = json::array();
    for (int i = 0; i < 4; ++i)
        devices.push_back({{"chip_id", "0xC0"}, {"hub", "hub-" + std::to_string(i % 2)}});
    SimRig rig(devices);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (std::size_t camera = 0; camera < 4; ++camera)
        threads.emplace_back([&, camera] {
            XuClient xu(rig.platform(), camera);
            xu.loadTable(flash::opcodeTable(0));
            xu.set(XU_DFU_ENABLE_CONTROL, {1});
            std::uint8_t sum = 0;
            for (int block = 0; block < 16; ++block) {
                Bytes data(4096, static_cast<std::uint8_t>(camera * 16 + block));
                data[7] = static_cast<std::uint8_t>(block);
                for (auto b : data)
                    sum ^= b;
                xu.set(XU_DFU_ACCESS_CONTROL, data);
                // Another thread lists meanwhile.
                entriesOf(rig.platform(), DeviceListKind::VideoInput);
            }
            if (xu.read(XU_DFU_CHECKSUM, 1)[0] == sum)
                ++good;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good, 4);
}

} // namespace
} // namespace tessell::testing
