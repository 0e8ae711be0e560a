#include "platform/windows/usb_location_windows.h"

#include "common/trace.h"
#include "common/utf16_text.h"
#include "platform/status.h"

#include <algorithm>
#include <cfgmgr32.h>
#include <cstddef>
#include <cstring>
#include <cwctype>
#include <setupapi.h>
#include <winioctl.h>
// After winioctl.h, whose I/O-control macros it uses.
#include <usbioctl.h>

namespace tessell::platform::windows {

namespace {

// The hub I/O controls by the numbers the drivers answer to.
static_assert(IOCTL_USB_GET_NODE_INFORMATION == 0x220408);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION == 0x22040C);
static_assert(IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION == 0x220410);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME == 0x220420);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX == 0x220448);

// The buffers those controls fill, with the sizes the hub driver expects:
// node information 76 bytes; connection information 388 bytes, room for the
// header and 32 pipes; a connection's driver key name 520 bytes (256
// characters after the header); a descriptor request 12 bytes followed by
// 2048 data bytes, one buffer both ways.
constexpr DWORD kNodeInformationSize = 76;
constexpr DWORD kConnectionInformationSize = 388;
constexpr DWORD kDriverKeyNameSize = 520;
constexpr DWORD kDescriptorRequestSize = 12;
constexpr DWORD kDescriptorDataSize = 2048;

static_assert(sizeof(USB_NODE_INFORMATION) == kNodeInformationSize);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, PipeList) == 35);
static_assert(sizeof(USB_PIPE_INFO) == 11);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, PipeList) + 32 * sizeof(USB_PIPE_INFO) <=
              kConnectionInformationSize);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, PipeList) ==
              offsetof(USB_NODE_CONNECTION_INFORMATION_EX, PipeList));
static_assert(offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName) + 256 * sizeof(WCHAR) ==
              kDriverKeyNameSize);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, Data) == kDescriptorRequestSize);
static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18);

union NodeInformationBuffer {
    USB_NODE_INFORMATION node;
    std::byte bytes[kNodeInformationSize];
};
union ConnectionInformationBuffer {
    USB_NODE_CONNECTION_INFORMATION_EX ex;
    USB_NODE_CONNECTION_INFORMATION plain;
    std::byte bytes[kConnectionInformationSize];
};
union DriverKeyNameBuffer {
    USB_NODE_CONNECTION_DRIVERKEY_NAME name;
    std::byte bytes[kDriverKeyNameSize];
};
union DescriptorRequestBuffer {
    USB_DESCRIPTOR_REQUEST request;
    std::byte bytes[kDescriptorRequestSize + kDescriptorDataSize];
};

constexpr UCHAR kStringDescriptorType = 3;
// Long enough for any string descriptor (bLength is one byte).
constexpr USHORT kStringRequestLength = 255;
// The interface nodes of a composite device sit one level below the device;
// a few more levels allow for filter drivers' nodes.
constexpr int kMostLevelsUp = 4;

std::string narrow(std::wstring_view wide) {
    return utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::wstring widen(std::string_view utf8) {
    const std::u16string text = utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::wstring upper(std::wstring_view text) {
    std::wstring result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return result;
}

bool startsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// An enumerator's instance identifier "USB\<hardware part>\<instance part>".
// The USB device itself, not one interface of a composite device nor a root hub.
bool isUsbDevice(const std::wstring& instanceId) {
    const std::wstring id = upper(instanceId);
    if (!startsWith(id, L"USB\\") || startsWith(id, L"USB\\ROOT_HUB"))
        return false;
    const auto hardwareEnd = id.find(L'\\', 4);
    if (hardwareEnd == std::wstring::npos)
        return false;
    return id.substr(4, hardwareEnd - 4).find(L"&MI_") == std::wstring::npos;
}

std::optional<std::uint16_t> hex4(std::wstring_view text) {
    if (text.size() < 4)
        return std::nullopt;
    std::uint16_t value = 0;
    for (std::size_t index = 0; index < 4; ++index) {
        const wchar_t c = text[index];
        int digit;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (c >= L'A' && c <= L'F')
            digit = c - L'A' + 10;
        else if (c >= L'a' && c <= L'f')
            digit = c - L'a' + 10;
        else
            return std::nullopt;
        value = static_cast<std::uint16_t>(value << 4 | digit);
    }
    return value;
}

std::optional<std::uint16_t> fieldOf(const std::wstring& upperId, std::wstring_view name) {
    const auto at = upperId.find(name);
    if (at == std::wstring::npos)
        return std::nullopt;
    return hex4(std::wstring_view(upperId).substr(at + name.size()));
}

// A handle from UsbIo, closed when it goes.
class IoHandle {
public:
    IoHandle(UsbIo& io, HANDLE handle) : io_(io), handle_(handle) {}
    ~IoHandle() {
        if (*this)
            io_.close(handle_);
    }
    IoHandle(const IoHandle&) = delete;
    IoHandle& operator=(const IoHandle&) = delete;
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

private:
    UsbIo& io_;
    HANDLE handle_;
};

// One hub, asked through its handle. Every answer is checked against the
// size that came back before a field of it is read.
class HubQuery {
public:
    HubQuery(UsbIo& io, HANDLE hub, std::string name)
        : io_(io), hub_(hub), name_(std::move(name)) {}

    std::optional<int> portCount() {
        NodeInformationBuffer buffer{};
        DWORD returned = 0;
        if (!io_.control(hub_, IOCTL_USB_GET_NODE_INFORMATION, &buffer, sizeof buffer, &buffer,
                         sizeof buffer, returned)) {
            trace::writef("usb: %s: node information cannot be read", name_.c_str());
            return std::nullopt;
        }
        if (returned < sizeof buffer.node || buffer.node.NodeType != UsbHub) {
            trace::writef("usb: %s: node information of %lu bytes (%lu expected) or not a hub",
                          name_.c_str(), static_cast<unsigned long>(returned),
                          static_cast<unsigned long>(sizeof buffer.node));
            return std::nullopt;
        }
        return buffer.node.u.HubInformation.HubDescriptor.bNumberOfPorts;
    }

    // The driver key of the device on `port`; none when nothing is there.
    std::optional<std::wstring> driverKey(int port) {
        DriverKeyNameBuffer buffer{};
        buffer.name.ConnectionIndex = static_cast<ULONG>(port);
        DWORD returned = 0;
        if (!io_.control(hub_, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, &buffer, sizeof buffer,
                         &buffer, sizeof buffer, returned))
            return std::nullopt;
        constexpr std::size_t nameOffset =
            offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName);
        const std::size_t got = std::min<std::size_t>(returned, sizeof buffer);
        if (got < nameOffset || buffer.name.ActualLength > sizeof buffer) {
            trace::writef("usb: %s port %d: driver key name of %lu bytes does not fit",
                          name_.c_str(), port,
                          static_cast<unsigned long>(buffer.name.ActualLength));
            return std::nullopt;
        }
        std::wstring key((got - nameOffset) / sizeof(wchar_t), L'\0');
        std::memcpy(key.data(), buffer.bytes + nameOffset, key.size() * sizeof(wchar_t));
        key.resize(std::min(key.find(L'\0'), key.size()));
        return key;
    }

    std::optional<USB_DEVICE_DESCRIPTOR> deviceDescriptor(int port) {
        for (const DWORD code : {IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX,
                                 IOCTL_USB_GET_NODE_CONNECTION_INFORMATION}) {
            ConnectionInformationBuffer buffer{};
            buffer.ex.ConnectionIndex = static_cast<ULONG>(port);
            DWORD returned = 0;
            if (!io_.control(hub_, code, &buffer, sizeof buffer, &buffer, sizeof buffer, returned))
                continue;
            if (returned < offsetof(USB_NODE_CONNECTION_INFORMATION_EX, PipeList)) {
                trace::writef("usb: %s port %d: connection information of %lu bytes", name_.c_str(),
                              port, static_cast<unsigned long>(returned));
                return std::nullopt;
            }
            if (buffer.ex.ConnectionStatus != DeviceConnected || buffer.ex.DeviceIsHub ||
                buffer.ex.DeviceDescriptor.bDescriptorType != USB_DEVICE_DESCRIPTOR_TYPE)
                return std::nullopt;
            return buffer.ex.DeviceDescriptor;
        }
        trace::writef("usb: %s port %d: connection information cannot be read", name_.c_str(),
                      port);
        return std::nullopt;
    }

    // String descriptor `index` of the device on `port`: its bytes after the
    // two-byte header, or none with a trace line saying why.
    std::optional<std::vector<std::byte>> stringDescriptor(int port, UCHAR index, USHORT language,
                                                           USHORT length) {
        DescriptorRequestBuffer buffer{};
        buffer.request.ConnectionIndex = static_cast<ULONG>(port);
        buffer.request.SetupPacket.bmRequest = 0x80;
        buffer.request.SetupPacket.bRequest = USB_REQUEST_GET_DESCRIPTOR;
        buffer.request.SetupPacket.wValue = static_cast<USHORT>(kStringDescriptorType << 8 | index);
        buffer.request.SetupPacket.wIndex = language;
        buffer.request.SetupPacket.wLength = length;
        DWORD returned = 0;
        if (!io_.control(hub_, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, &buffer,
                         sizeof buffer, &buffer, sizeof buffer, returned)) {
            trace::writef("usb: %s port %d: string descriptor %u cannot be read", name_.c_str(),
                          port, index);
            return std::nullopt;
        }
        const std::size_t got =
            returned > kDescriptorRequestSize
                ? std::min<std::size_t>(returned - kDescriptorRequestSize, kDescriptorDataSize)
                : 0;
        const std::byte* data = buffer.bytes + kDescriptorRequestSize;
        const std::size_t claimed = got >= 2 ? std::to_integer<std::size_t>(data[0]) : 0;
        // A request shorter than the descriptor cuts it legitimately.
        const std::size_t expected = std::min<std::size_t>(claimed, length);
        if (got < 2 || std::to_integer<UCHAR>(data[1]) != kStringDescriptorType || claimed < 2 ||
            expected > got) {
            trace::writef("usb: %s port %d: string descriptor %u claims %u bytes, %u came back",
                          name_.c_str(), port, index, static_cast<unsigned>(claimed),
                          static_cast<unsigned>(got));
            return std::nullopt;
        }
        return std::vector<std::byte>(data + 2, data + std::max<std::size_t>(expected, 2));
    }

private:
    UsbIo& io_;
    HANDLE hub_;
    std::string name_;
};

// UTF-16LE text of a string descriptor, to its first NUL.
std::string textOf(const std::vector<std::byte>& bytes) {
    std::u16string text;
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        const auto unit = static_cast<char16_t>(std::to_integer<unsigned>(bytes[at]) |
                                                std::to_integer<unsigned>(bytes[at + 1]) << 8);
        if (unit == 0)
            break;
        text += unit;
    }
    return utf16ToUtf8(text);
}

class WindowsUsbLocation final : public UsbLocation {
public:
    WindowsUsbLocation(std::shared_ptr<DeviceTree> tree, std::shared_ptr<UsbIo> io)
        : tree_(std::move(tree)), io_(std::move(io)) {}

    std::optional<UsbDeviceInfo> locate(std::string_view devicePath) override {
        const auto instanceId = instanceIdOfInterfacePath(widen(devicePath));
        if (!instanceId)
            return std::nullopt;
        const auto node = tree_->find(*instanceId);
        if (!node) {
            trace::writef("usb: %s is not a present device", narrow(*instanceId).c_str());
            return std::nullopt;
        }
        return resolve(*node, true);
    }

    Status imagingDevices(std::vector<UsbDeviceInfo>& devices) override {
        devices.clear();
        const auto nodes = tree_->imagingDevices();
        if (!nodes)
            return status::kNothingDone;
        // Every device keeps its position; one that is not on USB has no address.
        for (const DeviceTree::Node node : *nodes)
            devices.push_back(resolve(node, false).value_or(UsbDeviceInfo{}));
        return status::kOk;
    }

private:
    std::optional<UsbDeviceInfo> resolve(DeviceTree::Node node, bool withStrings) {
        std::optional<std::wstring> id = tree_->instanceId(node);
        for (int level = 0; id && !isUsbDevice(*id); ++level) {
            const auto up = level < kMostLevelsUp ? tree_->parent(node) : std::nullopt;
            if (!up)
                return std::nullopt;
            node = *up;
            id = tree_->instanceId(node);
        }
        if (!id)
            return std::nullopt;
        const auto hub = tree_->parent(node);
        const auto hubId = hub ? tree_->instanceId(*hub) : std::nullopt;
        if (!hubId)
            return std::nullopt;

        UsbDeviceInfo info;
        info.address.hub = narrow(*hubId);
        if (askHub(node, *hub, info, withStrings))
            return info;

        // The hub cannot be asked: what the device tree says instead.
        const auto address = tree_->address(node);
        const auto hardwareId = tree_->hardwareId(node);
        const auto identity = hardwareId ? parseHardwareId(*hardwareId) : std::nullopt;
        if (!address || *address == 0 || *address > 0xFFFF || !identity) {
            trace::writef("usb: %s: neither its hub nor its properties give its port",
                          narrow(*id).c_str());
            return std::nullopt;
        }
        info.address.port = static_cast<std::uint16_t>(*address);
        info.vid = identity->vid;
        info.pid = identity->pid;
        info.bcdDevice = identity->bcdDevice;
        return info;
    }

    // Port, descriptor and strings from the hub's connection whose driver
    // key is the device's.
    bool askHub(DeviceTree::Node device, DeviceTree::Node hub, UsbDeviceInfo& info,
                bool withStrings) {
        const auto key = tree_->driverKey(device);
        const auto path = tree_->hubInterfacePath(hub);
        if (!key || key->empty() || !path)
            return false;
        IoHandle handle(*io_, io_->open(*path));
        if (!handle) {
            trace::writef("usb: hub %s cannot be opened", info.address.hub.c_str());
            return false;
        }
        HubQuery query(*io_, handle.get(), info.address.hub);
        const auto ports = query.portCount();
        if (!ports)
            return false;
        const std::wstring wanted = upper(*key);
        for (int port = 1; port <= *ports; ++port) {
            const auto there = query.driverKey(port);
            if (!there || upper(*there) != wanted)
                continue;
            const auto descriptor = query.deviceDescriptor(port);
            if (!descriptor)
                return false;
            info.address.port = static_cast<std::uint16_t>(port);
            info.vid = descriptor->idVendor;
            info.pid = descriptor->idProduct;
            info.bcdDevice = descriptor->bcdDevice;
            if (withStrings)
                readStrings(query, port, *descriptor, info);
            return true;
        }
        trace::writef("usb: no port of hub %s holds the device", info.address.hub.c_str());
        return false;
    }

    static void readStrings(HubQuery& query, int port, const USB_DEVICE_DESCRIPTOR& descriptor,
                            UsbDeviceInfo& info) {
        if (descriptor.iManufacturer == 0 && descriptor.iSerialNumber == 0)
            return;
        // The first language the device lists.
        const auto languages = query.stringDescriptor(port, 0, 0, 4);
        if (!languages || languages->size() < 2)
            return;
        const auto language = static_cast<USHORT>(std::to_integer<unsigned>((*languages)[0]) |
                                                  std::to_integer<unsigned>((*languages)[1]) << 8);
        const auto read = [&](UCHAR index) -> std::string {
            if (index == 0)
                return {};
            const auto bytes = query.stringDescriptor(port, index, language, kStringRequestLength);
            return bytes ? textOf(*bytes) : std::string{};
        };
        info.manufacturer = read(descriptor.iManufacturer);
        info.serialNumber = read(descriptor.iSerialNumber);
    }

    std::shared_ptr<DeviceTree> tree_;
    std::shared_ptr<UsbIo> io_;
};

} // namespace

std::optional<std::wstring> instanceIdOfInterfacePath(std::wstring_view path) {
    constexpr std::wstring_view prefixes[] = {L"\\\\?\\", L"\\\\.\\", L"\\??\\"};
    bool prefixed = false;
    for (const auto prefix : prefixes)
        if (startsWith(path, prefix)) {
            path.remove_prefix(prefix.size());
            prefixed = true;
            break;
        }
    if (!prefixed)
        return std::nullopt;
    // ...#<instance part>#{interface class}\reference
    const auto classStart = path.rfind(L"#{");
    if (classStart == std::wstring_view::npos)
        return std::nullopt;
    std::wstring id(path.substr(0, classStart));
    if (std::count(id.begin(), id.end(), L'#') != 2 || id.find(L'\\') != std::wstring::npos ||
        id.front() == L'#' || id.back() == L'#')
        return std::nullopt;
    std::replace(id.begin(), id.end(), L'#', L'\\');
    return id;
}

std::optional<HardwareIdentity> parseHardwareId(std::wstring_view hardwareId) {
    const std::wstring id = upper(hardwareId);
    if (!startsWith(id, L"USB\\"))
        return std::nullopt;
    const auto vid = fieldOf(id, L"VID_");
    const auto pid = fieldOf(id, L"PID_");
    if (!vid || !pid)
        return std::nullopt;
    return HardwareIdentity{*vid, *pid, fieldOf(id, L"REV_").value_or(0)};
}

std::unique_ptr<UsbLocation> makeUsbLocation(std::shared_ptr<DeviceTree> tree,
                                             std::shared_ptr<UsbIo> io) {
    return std::make_unique<WindowsUsbLocation>(std::move(tree), std::move(io));
}

namespace {

class SystemUsbIo final : public UsbIo {
public:
    HANDLE open(const std::wstring& path) override {
        return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    }
    void close(HANDLE handle) override { CloseHandle(handle); }
    bool control(HANDLE handle, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD& returned) override {
        returned = 0;
        return DeviceIoControl(handle, code, const_cast<void*>(in), inSize, out, outSize, &returned,
                               nullptr) != FALSE;
    }
};

struct DeviceInfoListDeleter {
    void operator()(HDEVINFO list) const { SetupDiDestroyDeviceInfoList(list); }
};
using DeviceInfoList = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceInfoListDeleter>;

// The setup classes a camera function is installed under: the imaging class
// of older systems, then the camera class newer systems use for UVC cameras.
constexpr GUID kImagingClasses[] = {
    {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}},
    {0xCA3E7AB9, 0xB4C3, 0x4AE6, {0x82, 0x51, 0x57, 0x9E, 0xF9, 0x33, 0x89, 0x0F}}};
// The hub interface class {F18A0E88-C30C-11D0-8815-00A0C906BED8}.
constexpr GUID kHubInterfaceClass = {
    0xF18A0E88, 0xC30C, 0x11D0, {0x88, 0x15, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0xD8}};

class SystemDeviceTree final : public DeviceTree {
public:
    std::optional<Node> find(const std::wstring& instanceId) override {
        DEVINST node = 0;
        std::wstring id = instanceId;
        if (CM_Locate_DevNodeW(&node, id.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
            return std::nullopt;
        return node;
    }
    std::optional<Node> parent(Node node) override {
        DEVINST up = 0;
        if (CM_Get_Parent(&up, node, 0) != CR_SUCCESS)
            return std::nullopt;
        return up;
    }
    std::optional<std::wstring> instanceId(Node node) override {
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
            return std::nullopt;
        return std::wstring(id);
    }
    std::optional<std::wstring> driverKey(Node node) override {
        return firstString(node, CM_DRP_DRIVER);
    }
    std::optional<std::wstring> hardwareId(Node node) override {
        return firstString(node, CM_DRP_HARDWAREID);
    }
    std::optional<DWORD> address(Node node) override {
        DWORD value = 0;
        ULONG length = sizeof value;
        ULONG type = 0;
        if (CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_ADDRESS, &type, &value, &length, 0) !=
                CR_SUCCESS ||
            length < sizeof value)
            return std::nullopt;
        return value;
    }
    std::optional<std::wstring> hubInterfacePath(Node hub) override {
        auto id = instanceId(hub);
        if (!id)
            return std::nullopt;
        GUID hubClass = kHubInterfaceClass;
        // The list may grow between asking its size and reading it.
        for (int attempt = 0; attempt < 3; ++attempt) {
            ULONG length = 0;
            if (CM_Get_Device_Interface_List_SizeW(&length, &hubClass, id->data(),
                                                   CM_GET_DEVICE_INTERFACE_LIST_PRESENT) !=
                    CR_SUCCESS ||
                length <= 1)
                return std::nullopt;
            std::wstring list(length, L'\0');
            const CONFIGRET result = CM_Get_Device_Interface_ListW(
                &hubClass, id->data(), list.data(), length, CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
            if (result == CR_BUFFER_SMALL)
                continue;
            if (result != CR_SUCCESS)
                return std::nullopt;
            const std::wstring first(list.c_str());
            return first.empty() ? std::nullopt : std::optional(first);
        }
        return std::nullopt;
    }
    std::optional<std::vector<Node>> imagingDevices() override {
        std::vector<Node> nodes;
        bool listed = false;
        for (const GUID& setupClass : kImagingClasses) {
            DeviceInfoList list(SetupDiGetClassDevsW(&setupClass, nullptr, nullptr, DIGCF_PRESENT));
            if (list.get() == INVALID_HANDLE_VALUE) {
                list.release();
                continue;
            }
            listed = true;
            SP_DEVINFO_DATA data{};
            data.cbSize = sizeof data;
            for (DWORD index = 0; SetupDiEnumDeviceInfo(list.get(), index, &data); ++index)
                nodes.push_back(data.DevInst);
            if (GetLastError() != ERROR_NO_MORE_ITEMS)
                trace::writef("usb: device list ended with error %lu", GetLastError());
        }
        if (!listed)
            return std::nullopt;
        return nodes;
    }

private:
    // The first string of a string or string-list property.
    static std::optional<std::wstring> firstString(Node node, ULONG property) {
        ULONG length = 0;
        ULONG type = 0;
        CONFIGRET result =
            CM_Get_DevNode_Registry_PropertyW(node, property, &type, nullptr, &length, 0);
        if (result != CR_BUFFER_SMALL || length == 0 || length > 64 * 1024)
            return std::nullopt;
        std::wstring text(length / sizeof(wchar_t) + 1, L'\0');
        length = static_cast<ULONG>(text.size() * sizeof(wchar_t));
        result = CM_Get_DevNode_Registry_PropertyW(node, property, &type, text.data(), &length, 0);
        if (result != CR_SUCCESS || (type != REG_SZ && type != REG_MULTI_SZ))
            return std::nullopt;
        return std::wstring(text.c_str());
    }
};

} // namespace

std::unique_ptr<UsbLocation> makeSetupApiUsbLocation() {
    return makeUsbLocation(std::make_shared<SystemDeviceTree>(), std::make_shared<SystemUsbIo>());
}

} // namespace tessell::platform::windows
