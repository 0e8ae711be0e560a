#include "device/camera_link.h"
#include "device/ic_type.h"
#include "device/usb_identity.h"
#include "device/xu_channel.h"
#include "device/xu_protocol.h"
#include "platform/device_path.h"
#include "platform/linux/device_names.h"
#include "platform/linux/linux_cameras.h"
#include "platform/linux/udev_hotplug.h"
#include "tests/support/extension_unit_guids.h"
#include "tests/support/fake_v4l2.h"
#include "tests/support/sysfs_fixture.h"

#include <gtest/gtest.h>
#include <map>

namespace tessell::platform {
namespace {

using testing::Bytes;
using testing::FakeOpener;
using testing::XuQuery;

const std::array<std::uint8_t, 16> kOtherWire = {0xD0, 0x9E, 0xE4, 0x23, 0x77, 0x78, 0xA6, 0x40,
                                                 0x9D, 0xAB, 0xE9, 0x10, 0xC3, 0x02, 0x4C, 0x0F};
const std::string kLongMaker(70, 'M');

// A station as sysfs shows it:
//   usb1 ─ port 2: hub 1-2 ─ port 3: camera 1-2.3 (video0, metadata video1),
//        │                  port 4: another maker's webcam 1-2.4 (video6)
//        └ port 10: camera 1-10 (video2, metadata video3), fallback unit
//   usb2 ─ port 1: hub 2-1 ─ port 3: camera 2-1.3 (video5)
//   a virtual camera of no bus (video4)
struct SysfsStation {
    testing::SysfsFixture sys;

    SysfsStation() {
        sys.addRootHub(1);
        sys.addRootHub(2);
        sys.addDevice("1-2", {"1209", "0008", "6060", "", "USB2.0 Hub", "", "1", {}});
        sys.addInterface("1-2:1.0", "09", "00");
        camera("1-2.3", "0731", "0210", "HV0001",
               {unit(3, kOtherWire), unit(4, testing::kPrimaryWire)});
        sys.addVideoNode("1-2.3:1.0", "video0");
        sys.addVideoNode("1-2.3:1.0", "video1");
        camera("1-2.4", "0825", "0012", "", {unit(5, kOtherWire)});
        sys.addVideoNode("1-2.4:1.0", "video6");
        sys.addVideoNode("1-2.4:1.0", "video7");
        camera("1-10", "0732", "0100", "HV0002", {unit(4, testing::kFallbackWire)});
        sys.addVideoNode("1-10:1.0", "video2");
        sys.addVideoNode("1-10:1.0", "video3");
        sys.addDevice("2-1", {"1209", "0009", "6060", "", "USB2.0 Hub", "", "1", {}});
        camera("2-1.3", "0731", "0300", "HV0003", {unit(4, testing::kPrimaryWire)}, kLongMaker);
        sys.addVideoNode("2-1.3:1.0", "video5");
        sys.addPlatformDevice("vivid.0");
        sys.addVideoNode("vivid.0", "video4");
    }

    static Bytes unit(std::uint8_t id, const std::array<std::uint8_t, 16>& guid) {
        return testing::extensionUnit(id, guid, {0xFF, 0xFF, 0xFF, 0x03});
    }

    void camera(const std::string& name, const std::string& pid, const std::string& bcd,
                const std::string& serial, const std::vector<Bytes>& units,
                const std::string& maker = "Halvane") {
        const auto id = static_cast<std::uint16_t>(std::stoi(pid, nullptr, 16));
        const auto rev = static_cast<std::uint16_t>(std::stoi(bcd, nullptr, 16));
        sys.addDevice(name, {"3f2a", pid, bcd, maker, "ZLTA Camera", serial, "1",
                             testing::cameraDescriptors(0x3F2A, id, rev, units)});
        sys.addInterface(name + ":1.0", "0e", "01");
        sys.addInterface(name + ":1.1", "0e", "02");
    }
};

// Scripted nodes for the station: capture nodes, metadata nodes, and a node
// the user may not open.
std::unique_ptr<FakeOpener> stationNodes() {
    auto opener = std::make_unique<FakeOpener>();
    for (const char* name : {"video0", "video2", "video5", "video4"})
        opener->add(name)->caps.card = std::string("Camera ") + name;
    for (const char* name : {"video1", "video3"})
        opener->add(name)->caps.deviceCaps = kCapMetaCapture;
    opener->openErrors["video6"] = EACCES;
    opener->openErrors["video7"] = EACCES; // its metadata node
    return opener;
}

TEST(LinuxSysfs, UsbNamesParseAndGiveTheirHub) {
    struct Row {
        const char* name;
        std::optional<UsbPath> path;
    };
    const Row rows[] = {
        {"1-2.3", UsbPath{1, {2, 3}}}, {"usb2", UsbPath{2, {}}}, {"3-10", UsbPath{3, {10}}},
        {"1-2:1.0", std::nullopt},     {"1-", std::nullopt},     {"x-1", std::nullopt},
        {"1-0", std::nullopt},         {"1-2..3", std::nullopt}, {"usb", std::nullopt},
        {"1-2.300", std::nullopt},     {"1--2", std::nullopt},   {"0-1", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(parseUsbDeviceName(row.name), row.path) << row.name;

    EXPECT_EQ(parentHubName({1, {2, 3}}), "1-2");
    EXPECT_EQ(parentHubName({1, {2}}), "usb1");
    EXPECT_EQ(parentHubName({2, {1, 4, 2}}), "2-1.4");

    const auto interface = parseUsbInterfaceName("1-2.3:1.2");
    ASSERT_TRUE(interface);
    EXPECT_EQ(interface->device, "1-2.3");
    EXPECT_EQ(interface->configuration, 1);
    EXPECT_EQ(interface->interfaceNumber, 2);
    EXPECT_FALSE(parseUsbInterfaceName("1-2.3"));
    EXPECT_FALSE(parseUsbInterfaceName("usb1:1.0"));
    EXPECT_FALSE(parseUsbInterfaceName("1-2.3:1"));
}

TEST(LinuxSysfs, VideoNodesComeInUsbTreeOrder) {
    SysfsStation station;
    std::vector<std::string> names;
    for (const auto& node : listVideoNodes(station.sys.root()))
        names.push_back(node.name);
    // By place on the tree, numerically (1-10 after 1-2.4), then the node
    // number; nodes of other buses last.
    EXPECT_EQ(names, (std::vector<std::string>{"video0", "video1", "video6", "video7", "video2",
                                               "video3", "video5", "video4"}));

    const auto node = readVideoNode(station.sys.root(), "video0");
    ASSERT_TRUE(node && node->usb);
    EXPECT_EQ(node->interfaceName, "1-2.3:1.0");
    EXPECT_EQ(node->usb->vid, 0x3F2A);
    EXPECT_EQ(node->usb->pid, 0x0731);
    EXPECT_EQ(node->usb->serial, "HV0001");
    const auto virtualNode = readVideoNode(station.sys.root(), "video4");
    ASSERT_TRUE(virtualNode);
    EXPECT_FALSE(virtualNode->usb);
    EXPECT_FALSE(readVideoNode(station.sys.root(), "video9"));
    EXPECT_FALSE(readVideoNode(station.sys.root(), "../video0"));
}

TEST(LinuxCameras, ListsCaptureNodesAndSaysWhyOthersWereLeftOut) {
    SysfsStation station;
    LinuxCameras cameras(station.sys.root(), station.sys.root() / "dev", stationNodes());
    std::vector<DeviceEntry> entries;
    ASSERT_EQ(cameras.list(DeviceListKind::VideoInput, entries), status::kOk);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].devicePath, "1-2.3:1.0/video0");
    EXPECT_EQ(entries[0].friendlyName, "Camera video0");
    EXPECT_EQ(entries[1].devicePath, "1-10:1.0/video2");
    EXPECT_EQ(entries[2].devicePath, "2-1.3:1.0/video5");
    EXPECT_EQ(entries[3].devicePath, "video4");
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(entries[i].usb) << i;
    EXPECT_FALSE(entries[3].usb);

    const auto problems = cameras.listProblems();
    ASSERT_EQ(problems.size(), 1u);
    const std::string node = (station.sys.root() / "dev/video6").string();
    EXPECT_NE(problems[0].find("cannot open " + node + " (ZLTA Camera): permission denied"),
              std::string::npos)
        << problems[0];
    EXPECT_NE(problems[0].find("sudo usermod -aG video $USER"), std::string::npos);

    EXPECT_EQ(cameras.list(DeviceListKind::SensorCamera, entries), status::kNothingDone);
    EXPECT_TRUE(entries.empty());

    // Nothing in sysfs: an empty list, said the way the device code expects.
    testing::TempDir empty;
    LinuxCameras none(empty.path(), empty.path() / "dev", std::make_unique<FakeOpener>());
    EXPECT_EQ(none.list(DeviceListKind::VideoInput, entries), status::kNothingDone);
    EXPECT_TRUE(none.listProblems().empty());
}

TEST(LinuxCameras, RealNodesThatAreNoVideoDevicesAreReported) {
    // The system's own opener over files that are not device nodes: one is
    // missing, one answers no V4L2 request.
    SysfsStation station;
    station.sys.write(station.sys.root() / "dev/video0", "not a device");
    LinuxCameras cameras(station.sys.root(), station.sys.root() / "dev", makeSystemV4l2Opener());
    std::vector<DeviceEntry> entries;
    EXPECT_EQ(cameras.list(DeviceListKind::VideoInput, entries), status::kNothingDone);
    const auto problems = cameras.listProblems();
    // One line per camera (a camera's second node fails alike), and the
    // virtual camera's.
    ASSERT_EQ(problems.size(), 5u);
    const std::string dev = (station.sys.root() / "dev").string();
    EXPECT_EQ(problems[0], dev + "/video0 does not answer as a video device: " +
                               std::generic_category().message(ENOTTY));
    EXPECT_EQ(problems[1], dev + "/video6 does not exist although sysfs lists video6 (is /dev "
                                 "managed by udev here?)");
    EXPECT_EQ(problems[4], dev + "/video4 does not exist although sysfs lists video4 (is /dev "
                                 "managed by udev here?)");
}

TEST(LinuxCameras, PermissionMessageNamesTheFixForTheNodesGroup) {
    const auto inVideo = permissionProblem("/dev/video0", "ZLTA Camera", "video");
    EXPECT_EQ(inVideo, "cannot open /dev/video0 (ZLTA Camera): permission denied; the node "
                       "belongs to group \"video\". Fix: add your account to group video (sudo "
                       "usermod -aG video $USER, then log in again)");
    const auto elsewhere = permissionProblem("/dev/video3", "", "root");
    EXPECT_NE(elsewhere.find("/dev/video3: permission denied; the node belongs to group \"root\""),
              std::string::npos);
    EXPECT_NE(elsewhere.find("70-tessell-camera.rules"), std::string::npos);
    EXPECT_NE(elsewhere.find("usermod -aG video"), std::string::npos);
}

TEST(LinuxCameras, BindsOnlyTheNodeTheListNamed) {
    SysfsStation station;
    auto opener = stationNodes();
    const auto video0 = opener->nodes.at("video0");
    LinuxCameras cameras(station.sys.root(), station.sys.root() / "dev", std::move(opener));
    std::vector<DeviceEntry> entries;
    ASSERT_EQ(cameras.list(DeviceListKind::VideoInput, entries), status::kOk);

    auto device = cameras.bind(DeviceListKind::VideoInput, 0, entries[0]);
    ASSERT_TRUE(device);
    std::uint32_t count = 0;
    ASSERT_EQ(device->topology()->nodeCount(count), status::kOk);
    EXPECT_EQ(count, 2u); // the other maker's unit and ours
    std::uint8_t value = 0;
    std::uint32_t returned = 0;
    EXPECT_EQ(device->control()->request(XU_PROPSET_PRIMARY, 11, PropertyOp::Get, 1,
                                         std::span(&value, 1), returned),
              status::kOk);
    ASSERT_EQ(video0->queries.size(), 1u);
    EXPECT_EQ(video0->queries[0].unit, 4);

    // A path of another camera (the node name passed on), a path of no
    // node, and the sensor list bind nothing.
    DeviceEntry stale = entries[0];
    stale.devicePath = "1-2.4:1.0/video0";
    EXPECT_FALSE(cameras.bind(DeviceListKind::VideoInput, 0, stale));
    stale.devicePath = "1-2.3:1.0/";
    EXPECT_FALSE(cameras.bind(DeviceListKind::VideoInput, 0, stale));
    stale.devicePath = "1-2.3:1.0/video0/../video1";
    EXPECT_FALSE(cameras.bind(DeviceListKind::VideoInput, 0, stale));
    EXPECT_FALSE(cameras.bind(DeviceListKind::SensorCamera, 0, entries[0]));
}

TEST(LinuxUsbLocation, EachCaptureNodeIsLocatedOnItsOwnHubAndPort) {
    SysfsStation station;
    LinuxCameras cameras(station.sys.root(), station.sys.root() / "dev", stationNodes());
    std::vector<UsbDeviceInfo> devices;
    ASSERT_EQ(cameras.imagingDevices(devices), status::kOk);
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].address, (UsbAddress{"1-2", 3}));
    EXPECT_EQ(devices[0].vid, 0x3F2A);
    EXPECT_EQ(devices[0].pid, 0x0731);
    EXPECT_EQ(devices[0].bcdDevice, 0x0210);
    EXPECT_EQ(devices[0].manufacturer, "Halvane");
    EXPECT_EQ(devices[0].serialNumber, "HV0001");
    EXPECT_EQ(devices[1].address, (UsbAddress{"1-2", 4}));
    EXPECT_EQ(devices[2].address, (UsbAddress{"usb1", 10})); // 1-10 sits on the root hub
    EXPECT_EQ(devices[3].address, (UsbAddress{"2-1", 3}));

    // Port 3 of two hubs: each node finds its own device.
    std::vector<DeviceEntry> entries;
    ASSERT_EQ(cameras.list(DeviceListKind::VideoInput, entries), status::kOk);
    EXPECT_EQ(cameras.locate(entries[0].devicePath)->address, (UsbAddress{"1-2", 3}));
    EXPECT_EQ(cameras.locate(entries[0].devicePath)->serialNumber, "HV0001");
    EXPECT_EQ(cameras.locate(entries[2].devicePath)->address, (UsbAddress{"2-1", 3}));
    EXPECT_EQ(cameras.locate(entries[2].devicePath)->manufacturer, std::string(70, 'M'));
    EXPECT_FALSE(cameras.locate(entries[3].devicePath)) << "not on USB";
    EXPECT_FALSE(cameras.locate("1-2.4:1.0/video0")) << "the node passed to another camera";

    testing::TempDir empty;
    LinuxCameras none(empty.path(), empty.path() / "dev", std::make_unique<FakeOpener>());
    EXPECT_EQ(none.imagingDevices(devices), status::kNothingDone);
}

TEST(LinuxCameras, TheDeviceLayerOpensAndLocatesACameraUnchanged) {
    SysfsStation station;
    auto opener = stationNodes();
    // The firmware of camera 1-2.3 behind its unit 4: the probe, then chip
    // register 0x20FF through selectors 2 and 3.
    auto firmware = [registerAddress = std::uint16_t{0}](XuQuery& query,
                                                         std::span<std::uint8_t> data) mutable {
        if (query.unit != 4)
            return -ENOENT;
        if (query.query == kUvcSetCur && query.selector == XU_REG_ADDRESS && data.size() == 2)
            registerAddress = static_cast<std::uint16_t>(data[0] | data[1] << 8);
        else if (query.query == kUvcGetCur && query.selector == XU_REG_DATA)
            data[0] = registerAddress == 0x20FF ? 0xC0 : 0x00;
        else if (query.query == kUvcGetCur && query.selector == XU_DFU_CHECKSUM)
            data[0] = 0;
        else if (query.query != kUvcSetCur)
            return -EPIPE;
        return 0;
    };
    opener->nodes.at("video0")->answer = firmware;
    LinuxCameras cameras(station.sys.root(), station.sys.root() / "dev", std::move(opener));

    CameraLink link(cameras);
    ASSERT_EQ(link.OpenCamera(chip::kAnyFamily, 0, 0).status(), status::kOk);
    ASSERT_NE(link.device(), nullptr);
    EXPECT_EQ(link.device()->devicePath(), "1-2.3:1.0/video0");
    ASSERT_NE(link.channel(), nullptr);
    EXPECT_EQ(link.channel()->propertySet(), XU_PROPSET_PRIMARY);

    const auto identity = GetUsbIdentity(cameras, link);
    ASSERT_TRUE(identity.ok()) << identity.reason();
    EXPECT_EQ(identity->vid, 0x3F2A);
    EXPECT_EQ(identity->pid, 0x0731);
    EXPECT_EQ(identity->bcdDevice, 0x0210);
    EXPECT_EQ(identity->address, (UsbAddress{"1-2", 3}));
    EXPECT_EQ(ReadUsbString(cameras, link, kUsbSerialNumberString).value_or(""), "HV0001");
}

TEST(LinuxHotplug, EventsNameTheDevicesTheWayTheListDoes) {
    SysfsStation station;
    const auto video0 = readVideoNode(station.sys.root(), "video0");
    ASSERT_TRUE(video0);
    const std::string nodePath =
        "/devices/pci0000:00/0000:00:11.0/usb1/1-2/1-2.3/1-2.3:1.0/video4linux/video0";

    UdevEvent event{"add", "video4linux", "", nodePath, "3f2a", "0731", ""};
    auto notified = hotplugEventFor(event);
    ASSERT_TRUE(notified);
    EXPECT_EQ(notified->kind, HotplugEvent::Kind::Arrival);
    EXPECT_EQ(notified->devicePath, capturePath(*video0));

    event.action = "remove";
    notified = hotplugEventFor(event);
    ASSERT_TRUE(notified);
    EXPECT_EQ(notified->kind, HotplugEvent::Kind::Removal);
    EXPECT_EQ(notified->devicePath, capturePath(*video0));

    // Without the ids the path is the same.
    event.vendorId.clear();
    notified = hotplugEventFor(event);
    ASSERT_TRUE(notified);
    EXPECT_EQ(notified->devicePath, "1-2.3:1.0/video0");

    event.action = "change";
    EXPECT_FALSE(hotplugEventFor(event));

    const UdevEvent virtualNode{
        "add", "video4linux", "", "/devices/platform/vivid.0/video4linux/video4", "", "", ""};
    notified = hotplugEventFor(virtualNode);
    ASSERT_TRUE(notified);
    EXPECT_EQ(notified->devicePath, "video4");

    UdevEvent usb{"remove", "usb", "usb_device",  "/devices/pci0000:00/0000:00:11.0/usb1/1-2/1-2.3",
                  "",       "",    "3f2a/731/210"};
    notified = hotplugEventFor(usb);
    ASSERT_TRUE(notified);
    EXPECT_EQ(notified->kind, HotplugEvent::Kind::Removal);
    EXPECT_EQ(notified->devicePath, "1-2.3");

    usb.devpath = "/devices/pci0000:00/0000:00:11.0/usb1";
    EXPECT_FALSE(hotplugEventFor(usb)); // a root hub
    usb.devpath = "/devices/pci0000:00/0000:00:11.0/usb1/1-2/1-2.3";
    usb.devtype = "usb_interface";
    EXPECT_FALSE(hotplugEventFor(usb));
}

} // namespace
} // namespace tessell::platform
