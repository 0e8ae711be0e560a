// Windows only; the Linux test program's source list takes every tests/ file.
#ifdef _WIN32

#include "platform/windows/usb_location_windows.h"

#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>
#include <winioctl.h>
// After winioctl.h, whose I/O-control macros it uses.
#include <usbioctl.h>

namespace tessell::testing {
namespace {

using platform::UsbDeviceInfo;
using namespace platform::windows;

struct FakeNode {
    std::wstring id;
    DeviceTree::Node parent = 0; // 0: none
    std::wstring driverKey;
    std::wstring hardwareId;
    DWORD address = 0;
    std::wstring hubPath; // hubs only
};

class FakeTree final : public DeviceTree {
public:
    std::map<Node, FakeNode> nodes;
    std::vector<Node> imaging;

    std::optional<Node> find(const std::wstring& instanceId) override {
        for (const auto& [node, data] : nodes)
            if (_wcsicmp(data.id.c_str(), instanceId.c_str()) == 0)
                return node;
        return std::nullopt;
    }
    std::optional<Node> parent(Node node) override {
        const Node up = nodes.at(node).parent;
        return up ? std::optional(up) : std::nullopt;
    }
    std::optional<std::wstring> instanceId(Node node) override { return nodes.at(node).id; }
    std::optional<std::wstring> driverKey(Node node) override {
        return text(nodes.at(node).driverKey);
    }
    std::optional<std::wstring> hardwareId(Node node) override {
        return text(nodes.at(node).hardwareId);
    }
    std::optional<DWORD> address(Node node) override {
        const DWORD value = nodes.at(node).address;
        return value ? std::optional(value) : std::nullopt;
    }
    std::optional<std::wstring> hubInterfacePath(Node hub) override {
        return text(nodes.at(hub).hubPath);
    }
    std::optional<std::vector<Node>> imagingDevices() override { return imaging; }

private:
    static std::optional<std::wstring> text(const std::wstring& value) {
        return value.empty() ? std::nullopt : std::optional(value);
    }
};

struct FakePort {
    std::wstring driverKey;
    USB_DEVICE_DESCRIPTOR descriptor{};
    std::map<UCHAR, std::vector<std::byte>> strings; // whole descriptors as the device sends them
};

struct FakeHub {
    int portCount = 4;
    DWORD nodeInformationReturned = sizeof(USB_NODE_INFORMATION);
    std::map<ULONG, FakePort> ports;
};

// A hub driver answering from recorded data. Like the real one it refuses
// a buffer too small for its answer, and it leaves the bytes after its
// answer as they were: filled with 'X' here, so that reading past the
// answer shows in the text.
class FakeIo final : public UsbIo {
public:
    std::map<std::wstring, FakeHub> hubs;
    int openHandles = 0;

    HANDLE open(const std::wstring& path) override {
        const auto found = hubs.find(path);
        if (found == hubs.end())
            return INVALID_HANDLE_VALUE;
        ++openHandles;
        return reinterpret_cast<HANDLE>(&found->second);
    }
    void close(HANDLE) override { --openHandles; }

    bool control(HANDLE handle, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD& returned) override {
        FakeHub& hub = *reinterpret_cast<FakeHub*>(handle);
        ULONG index = 0;
        if (inSize >= sizeof index)
            std::memcpy(&index, in, sizeof index);
        // In and out are one buffer: the request is read before the answer goes in.
        USB_DESCRIPTOR_REQUEST asked{};
        if (inSize >= sizeof asked)
            std::memcpy(&asked, in, sizeof asked);
        std::memset(out, 'X', outSize);
        const auto port = hub.ports.find(index);
        switch (code) {
        case IOCTL_USB_GET_NODE_INFORMATION: {
            USB_NODE_INFORMATION node{};
            if (outSize < sizeof node)
                return false;
            node.NodeType = UsbHub;
            node.u.HubInformation.HubDescriptor.bNumberOfPorts = static_cast<UCHAR>(hub.portCount);
            std::memcpy(out, &node, sizeof node);
            returned = hub.nodeInformationReturned;
            return true;
        }
        case IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME: {
            if (port == hub.ports.end())
                return false;
            const std::wstring& key = port->second.driverKey;
            USB_NODE_CONNECTION_DRIVERKEY_NAME head{};
            constexpr auto offset = offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName);
            head.ConnectionIndex = index;
            head.ActualLength = static_cast<ULONG>(offset + (key.size() + 1) * sizeof(wchar_t));
            if (outSize < head.ActualLength)
                return false;
            std::memcpy(out, &head, offset);
            std::memcpy(static_cast<std::byte*>(out) + offset, key.c_str(),
                        (key.size() + 1) * sizeof(wchar_t));
            returned = head.ActualLength;
            return true;
        }
        case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX: {
            USB_NODE_CONNECTION_INFORMATION_EX info{};
            if (outSize < sizeof info)
                return false;
            info.ConnectionIndex = index;
            if (port != hub.ports.end()) {
                info.ConnectionStatus = DeviceConnected;
                info.DeviceDescriptor = port->second.descriptor;
            }
            std::memcpy(out, &info, sizeof info);
            returned = sizeof info;
            return true;
        }
        case IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION: {
            if (port == hub.ports.end() || inSize < sizeof asked)
                return false;
            const UCHAR stringIndex = static_cast<UCHAR>(asked.SetupPacket.wValue & 0xFF);
            const auto string = port->second.strings.find(stringIndex);
            // The device answers strings in its own language only.
            const bool languageOk = stringIndex == 0 || asked.SetupPacket.wIndex == 0x0409;
            if ((asked.SetupPacket.wValue >> 8) != 3 || string == port->second.strings.end() ||
                !languageOk)
                return false;
            const std::size_t length =
                std::min<std::size_t>(string->second.size(), asked.SetupPacket.wLength);
            if (outSize < sizeof asked + length)
                return false;
            std::memcpy(out, &asked, sizeof asked);
            std::memcpy(static_cast<std::byte*>(out) + sizeof asked, string->second.data(), length);
            returned = static_cast<DWORD>(sizeof asked + length);
            return true;
        }
        }
        return false;
    }
};

std::vector<std::byte> stringDescriptor(const std::u16string& text, int claimed = -1) {
    std::vector<std::byte> bytes(2 + text.size() * 2);
    bytes[0] = static_cast<std::byte>(claimed >= 0 ? claimed : static_cast<int>(bytes.size()));
    bytes[1] = std::byte{3};
    for (std::size_t at = 0; at < text.size(); ++at) {
        bytes[2 + 2 * at] = static_cast<std::byte>(text[at] & 0xFF);
        bytes[3 + 2 * at] = static_cast<std::byte>(text[at] >> 8);
    }
    return bytes;
}

USB_DEVICE_DESCRIPTOR deviceDescriptor(USHORT pid, USHORT bcd, UCHAR manufacturer, UCHAR serial) {
    USB_DEVICE_DESCRIPTOR descriptor{};
    descriptor.bLength = 18;
    descriptor.bDescriptorType = 1;
    descriptor.idVendor = 0x1209;
    descriptor.idProduct = pid;
    descriptor.bcdDevice = bcd;
    descriptor.iManufacturer = manufacturer;
    descriptor.iSerialNumber = serial;
    return descriptor;
}

const std::wstring kHubPath =
    L"\\\\?\\usb#vid_1209&pid_0002#5&2222&0&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
const std::wstring kCameraKey = L"{36fc9e60-c465-11cf-8056-444553540000}\\0007";
const std::string kHubId = "USB\\VID_1209&PID_0002\\5&2222&0&1";
const std::string kCameraPath = "\\\\?\\usb#vid_1209&pid_0004&mi_00#6&3333&0&0000#"
                                "{6994ad05-93ef-11d0-a3cc-00a0c9223196}\\global";

// A station: the controller, its root hub, a hub on the root hub's port 1,
// and on that hub a composite camera (port 3, its video interface below it)
// and a plain imaging device (port 1). Port 2 is empty.
struct HubStation {
    std::shared_ptr<FakeTree> tree = std::make_shared<FakeTree>();
    std::shared_ptr<FakeIo> io = std::make_shared<FakeIo>();

    HubStation() {
        tree->nodes[1] = {L"PCI\\VEN_1209&DEV_0001\\3&1&0", 0, L"", L"", 0, L""};
        tree->nodes[2] = {
            L"USB\\ROOT_HUB30\\4&1111&0&0",
            1,
            L"",
            L"",
            0,
            L"\\\\?\\usb#root_hub30#4&1111&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}"};
        tree->nodes[3] = {L"USB\\VID_1209&PID_0002\\5&2222&0&1", 2, L"", L"", 1, kHubPath};
        tree->nodes[4] = {L"USB\\VID_1209&PID_0004\\SN-0001", 3, kCameraKey,
                          L"USB\\VID_1209&PID_0004&REV_0123", 7, L""};
        tree->nodes[5] = {L"USB\\VID_1209&PID_0004&MI_00\\6&3333&0&0000", 4, L"", L"", 0, L""};
        tree->nodes[6] = {L"USB\\VID_1209&PID_0005\\6&4444&0&1",
                          3,
                          L"{36fc9e60-c465-11cf-8056-444553540000}\\0008",
                          L"USB\\VID_1209&PID_0005&REV_0200",
                          1,
                          L""};
        tree->nodes[7] = {L"ROOT\\IMAGE\\0000", 0, L"", L"", 0, L""};
        tree->imaging = {5, 7, 6};

        FakeHub& hub = io->hubs[kHubPath];
        FakePort& camera = hub.ports[3];
        camera.driverKey = L"{36FC9E60-C465-11CF-8056-444553540000}\\0007";
        camera.descriptor = deviceDescriptor(0x0004, 0x0123, 1, 3);
        camera.strings[0] = {std::byte{6},    std::byte{3},    std::byte{0x09},
                             std::byte{0x04}, std::byte{0x07}, std::byte{0x04}};
        camera.strings[1] = stringDescriptor(u"\u00d6dland Optics");
        camera.strings[3] = stringDescriptor(u"SN-0001");
        FakePort& other = hub.ports[1];
        other.driverKey = L"{36fc9e60-c465-11cf-8056-444553540000}\\0008";
        other.descriptor = deviceDescriptor(0x0005, 0x0200, 0, 0);
    }
};

TEST(UsbLocationWindows, CameraBehindAHubIsFoundOnItsHubAndPort) {
    HubStation station;
    auto usb = makeUsbLocation(station.tree, station.io);

    const auto camera = usb->locate(kCameraPath);
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->address.hub, kHubId);
    EXPECT_EQ(camera->address.port, 3);
    EXPECT_EQ(camera->vid, 0x1209);
    EXPECT_EQ(camera->pid, 0x0004);
    EXPECT_EQ(camera->bcdDevice, 0x0123);
    EXPECT_EQ(camera->manufacturer, "\xc3\x96"
                                    "dland Optics");
    EXPECT_EQ(camera->serialNumber, "SN-0001");

    // Every imaging device keeps its position; the one not on USB has no port.
    std::vector<UsbDeviceInfo> devices;
    ASSERT_EQ(usb->imagingDevices(devices), 0);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].address.text(), kHubId + ":3");
    EXPECT_FALSE(devices[1].address.known());
    EXPECT_EQ(devices[2].address.text(), kHubId + ":1");
    EXPECT_EQ(devices[2].pid, 0x0005);
    EXPECT_EQ(devices[2].bcdDevice, 0x0200);

    EXPECT_FALSE(usb->locate("\\\\?\\usb#vid_1209&pid_0009#9&9#{6994ad05-93ef-11d0-a3cc-"
                             "00a0c9223196}\\global"));
    EXPECT_FALSE(usb->locate("/dev/video0"));
    EXPECT_EQ(station.io->openHandles, 0);
}

TEST(UsbLocationWindows, ShortAnswersAreRefusedWithoutReadingPastThem) {
    HubStation station;
    auto usb = makeUsbLocation(station.tree, station.io);
    // The serial number claims 40 bytes where 16 came back: no serial, and
    // none of the bytes past the answer.
    FakePort& camera = station.io->hubs[kHubPath].ports[3];
    camera.strings[3] = stringDescriptor(u"SN-0001", 40);
    auto found = usb->locate(kCameraPath);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->manufacturer, "\xc3\x96"
                                   "dland Optics");
    EXPECT_EQ(found->serialNumber, "");
    EXPECT_EQ(found->address.port, 3);

    // Node information shorter than its structure: the hub's answers are not
    // used; the device's own properties give port 7 and REV 0123, no strings.
    station.io->hubs[kHubPath].nodeInformationReturned = sizeof(USB_NODE_INFORMATION) - 1;
    found = usb->locate(kCameraPath);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->address.text(), kHubId + ":7");
    EXPECT_EQ(found->bcdDevice, 0x0123);
    EXPECT_EQ(found->manufacturer, "");

    // Neither the hub nor an address: not located rather than a made-up port.
    station.tree->nodes[4].address = 0;
    EXPECT_FALSE(usb->locate(kCameraPath));
    EXPECT_EQ(station.io->openHandles, 0);
}

TEST(UsbLocationWindows, PathsAndHardwareIds) {
    EXPECT_EQ(instanceIdOfInterfacePath(L"\\\\?\\usb#vid_1209&pid_0004&mi_00#7&1a2b&0&0000#"
                                        L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global"),
              L"usb\\vid_1209&pid_0004&mi_00\\7&1a2b&0&0000");
    EXPECT_EQ(instanceIdOfInterfacePath(L"\\\\?\\USB#VID_1209&PID_0006#SN42#"
                                        L"{e5323777-f976-4f5b-9b55-b94699c46e44}\\GLOBAL"),
              L"USB\\VID_1209&PID_0006\\SN42");
    EXPECT_FALSE(instanceIdOfInterfacePath(L"usb#vid_1209&pid_0006#SN42#{e5323777}"));
    EXPECT_FALSE(instanceIdOfInterfacePath(L"\\\\?\\usb#vid_1209#{e5323777}\\global"));

    const auto identity = parseHardwareId(L"USB\\Vid_1209&Pid_000a&Rev_01aF&MI_00");
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->vid, 0x1209);
    EXPECT_EQ(identity->pid, 0x000A);
    EXPECT_EQ(identity->bcdDevice, 0x01AF);
    EXPECT_FALSE(parseHardwareId(L"USB\\VID_12G9&PID_0001"));
    EXPECT_FALSE(parseHardwareId(L"HID\\VID_1209&PID_0001"));
}

} // namespace
} // namespace tessell::testing

#endif // _WIN32
