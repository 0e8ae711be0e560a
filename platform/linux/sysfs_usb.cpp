#include "platform/linux/sysfs_usb.h"

#include "platform/linux/sysfs_attribute.h"
#include "platform/usb_descriptor.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <system_error>

namespace tessell::platform {

namespace {

namespace fs = std::filesystem;

// USB strings are at most 126 UTF-16 units: well inside this many bytes of UTF-8.
constexpr std::size_t kStringAttribute = 512;
// A device descriptor and configurations of at most 64 KiB each; more than
// any camera carries.
constexpr std::size_t kDescriptorsLimit = 256 * 1024;
// More entries than any machine has; keeps a strange tree from being walked for ever.
constexpr int kEntryLimit = 4096;

std::optional<int> decimal(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text[0] == '+' ||
        text[0] == '-')
        return std::nullopt;
    return value;
}

std::optional<std::uint16_t> hexWord(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 4)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value, 16);
    if (error != std::errc() || end != text->data() + text->size())
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::optional<std::uint8_t> hexByte(const std::optional<std::string>& text) {
    const auto value = hexWord(text);
    if (!value || *value > 0xFF)
        return std::nullopt;
    return static_cast<std::uint8_t>(*value);
}

// The entries of a folder by name, bounded; empty when it cannot be read.
std::vector<fs::path> entries(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    for (int seen = 0; !error && entry != fs::directory_iterator() && seen < kEntryLimit;
         entry.increment(error), ++seen)
        found.push_back(entry->path());
    return found;
}

} // namespace

std::optional<UsbPath> parseUsbDeviceName(std::string_view name) {
    UsbPath path;
    if (name.starts_with("usb")) {
        const auto bus = decimal(name.substr(3));
        if (!bus || *bus <= 0)
            return std::nullopt;
        path.bus = *bus;
        return path;
    }
    const auto dash = name.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    const auto bus = decimal(name.substr(0, dash));
    if (!bus || *bus <= 0)
        return std::nullopt;
    path.bus = *bus;
    std::string_view rest = name.substr(dash + 1);
    for (;;) {
        const auto dot = rest.find('.');
        const auto port = decimal(rest.substr(0, dot));
        if (!port || *port <= 0 || *port > 255)
            return std::nullopt;
        path.ports.push_back(*port);
        if (dot == std::string_view::npos)
            break;
        rest = rest.substr(dot + 1);
    }
    return path;
}

std::string parentHubName(const UsbPath& path) {
    if (path.ports.size() <= 1)
        return "usb" + std::to_string(path.bus);
    std::string name = std::to_string(path.bus) + "-";
    for (std::size_t i = 0; i + 1 < path.ports.size(); ++i) {
        if (i > 0)
            name += '.';
        name += std::to_string(path.ports[i]);
    }
    return name;
}

std::optional<UsbInterfaceName> parseUsbInterfaceName(std::string_view name) {
    const auto colon = name.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto device = name.substr(0, colon);
    const auto rest = name.substr(colon + 1);
    const auto dot = rest.find('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    const auto configuration = decimal(rest.substr(0, dot));
    const auto number = decimal(rest.substr(dot + 1));
    const auto path = parseUsbDeviceName(device);
    if (!configuration || !number || *number > 255 || !path || path->ports.empty())
        return std::nullopt;
    return UsbInterfaceName{std::string(device), *configuration, *number};
}

std::optional<UsbDevice> readUsbDevice(const fs::path& dir) {
    UsbDevice device;
    device.name = dir.filename().string();
    const auto path = parseUsbDeviceName(device.name);
    if (!path)
        return std::nullopt;
    device.path = *path;
    device.dir = dir;
    const auto vid = hexWord(readAttribute(dir / "idVendor"));
    const auto pid = hexWord(readAttribute(dir / "idProduct"));
    if (!vid || !pid)
        return std::nullopt;
    device.vid = *vid;
    device.pid = *pid;
    device.bcdDevice = hexWord(readAttribute(dir / "bcdDevice")).value_or(0);
    device.manufacturer = readAttribute(dir / "manufacturer", kStringAttribute).value_or("");
    device.product = readAttribute(dir / "product", kStringAttribute).value_or("");
    device.serial = readAttribute(dir / "serial", kStringAttribute).value_or("");
    // Empty while the device is unconfigured.
    if (const auto value = decimal(readAttribute(dir / "bConfigurationValue").value_or(""));
        value && *value > 0 && *value <= 255)
        device.configuration = static_cast<std::uint8_t>(*value);
    return device;
}

DescriptorScan scanDeviceDescriptors(const UsbDevice& device) {
    std::ifstream in(device.dir / "descriptors", std::ios::binary);
    if (!in)
        return {{}, std::nullopt, "descriptors of " + device.name + " cannot be read"};
    std::vector<std::uint8_t> bytes(kDescriptorsLimit);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (!device.configuration)
        return {{}, std::nullopt, device.name + " is not configured"};
    return scanDescriptors(bytes, *device.configuration);
}

std::vector<UsbDevice> listUsbDevices(const fs::path& sysRoot) {
    std::vector<UsbDevice> devices;
    for (const auto& entry : entries(sysRoot / "bus/usb/devices")) {
        auto device = readUsbDevice(entry);
        if (device && !device->path.ports.empty())
            devices.push_back(std::move(*device));
    }
    std::sort(devices.begin(), devices.end(),
              [](const UsbDevice& a, const UsbDevice& b) { return a.path < b.path; });
    return devices;
}

std::optional<unsigned> videoNodeNumber(std::string_view name) {
    if (!name.starts_with("video"))
        return std::nullopt;
    const auto number = decimal(name.substr(5));
    if (!number)
        return std::nullopt;
    return static_cast<unsigned>(*number);
}

std::optional<VideoNode> readVideoNode(const fs::path& sysRoot, std::string_view name) {
    const auto number = videoNodeNumber(name);
    if (!number)
        return std::nullopt;
    const fs::path node = sysRoot / "class/video4linux" / name;
    std::error_code error;
    if (!fs::exists(node, error))
        return std::nullopt;
    VideoNode video;
    video.name = std::string(name);
    video.number = *number;
    // The node's parent device; a USB interface for a USB camera.
    const fs::path parent = fs::canonical(node / "device", error);
    if (error)
        return video;
    const auto interface = parseUsbInterfaceName(parent.filename().string());
    if (!interface || parent.parent_path().filename() != interface->device)
        return video;
    auto device = readUsbDevice(parent.parent_path());
    if (!device)
        return video;
    video.interfaceName = parent.filename().string();
    video.interfaceNumber = static_cast<std::uint8_t>(interface->interfaceNumber);
    video.usb = std::move(device);
    return video;
}

std::vector<VideoNode> listVideoNodes(const fs::path& sysRoot) {
    std::vector<VideoNode> nodes;
    for (const auto& entry : entries(sysRoot / "class/video4linux"))
        if (auto node = readVideoNode(sysRoot, entry.filename().string()))
            nodes.push_back(std::move(*node));
    std::sort(nodes.begin(), nodes.end(), [](const VideoNode& a, const VideoNode& b) {
        if (a.usb.has_value() != b.usb.has_value())
            return a.usb.has_value();
        if (a.usb && !(a.usb->path == b.usb->path))
            return a.usb->path < b.usb->path;
        if (a.interfaceNumber != b.interfaceNumber)
            return a.interfaceNumber < b.interfaceNumber;
        return a.number < b.number;
    });
    return nodes;
}

std::vector<VideoControlInterface> listVideoControlInterfaces(const fs::path& sysRoot) {
    std::vector<VideoControlInterface> found;
    const fs::path devices = sysRoot / "bus/usb/devices";
    for (const auto& entry : entries(devices)) {
        const auto name = parseUsbInterfaceName(entry.filename().string());
        if (!name)
            continue;
        if (hexByte(readAttribute(entry / "bInterfaceClass")) != usb::kClassVideo ||
            hexByte(readAttribute(entry / "bInterfaceSubClass")) != usb::kSubclassVideoControl)
            continue;
        auto device = readUsbDevice(devices / name->device);
        if (!device)
            continue;
        found.push_back({entry.filename().string(),
                         static_cast<std::uint8_t>(name->interfaceNumber), std::move(*device)});
    }
    std::sort(found.begin(), found.end(),
              [](const VideoControlInterface& a, const VideoControlInterface& b) {
                  if (!(a.device.path == b.device.path))
                      return a.device.path < b.device.path;
                  return a.number < b.number;
              });
    return found;
}

} // namespace tessell::platform
