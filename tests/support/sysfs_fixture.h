#pragma once

// A copy of the sysfs layout the Linux services read, written into a
// temporary folder: devices under devices/pci.../usbB/..., with the links
// of bus/usb/devices and class/video4linux pointing into them the way the
// kernel makes them, and UVC descriptor dumps built byte by byte.

#include "platform/usb_descriptor.h"
#include "tests/support/test_env.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace tessell::testing {

using Bytes = std::vector<std::uint8_t>;

// --- Descriptors --------------------------------------------------------------

inline void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

inline Bytes deviceDescriptor(std::uint16_t vid, std::uint16_t pid, std::uint16_t bcd) {
    usb::DeviceDescriptorFields fields;
    fields.vid = vid;
    fields.pid = pid;
    fields.bcdDevice = bcd;
    fields.manufacturer = 1;
    fields.product = 2;
    fields.serialNumber = 3;
    const auto descriptor = usb::compositeDeviceDescriptor(fields);
    return Bytes(descriptor.begin(), descriptor.end());
}

// A configuration descriptor followed by `body`, with its total length.
inline Bytes configuration(std::uint8_t value, std::uint8_t interfaces, const Bytes& body) {
    const auto total = static_cast<std::uint16_t>(9 + body.size());
    Bytes bytes = {9,
                   0x02,
                   static_cast<std::uint8_t>(total),
                   static_cast<std::uint8_t>(total >> 8),
                   interfaces,
                   value,
                   0,
                   0x80,
                   250};
    append(bytes, body);
    return bytes;
}

inline Bytes interfaceDescriptor(std::uint8_t number, std::uint8_t cls, std::uint8_t subclass) {
    return {9, 0x04, number, 0, 1, cls, subclass, 0, 0};
}

// The VideoControl header, a camera terminal (1) and a processing unit (2).
inline Bytes videoControlEntities() {
    Bytes bytes = {13, 0x24, 0x01, 0x00, 0x01, 0x4D, 0x00, 0x00, 0x6C, 0xDC, 0x02, 1, 1};
    append(bytes, {18, 0x24, 0x02, 1, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0x0E, 0x00, 0x00});
    append(bytes, {13, 0x24, 0x05, 2, 1, 0, 0, 2, 0x7F, 0x15, 0, 0, 0});
    return bytes;
}

// An Extension Unit descriptor: `guid` in wire order, one source, the
// bmControls bytes, then iExtension.
inline Bytes extensionUnit(std::uint8_t unitId, const std::array<std::uint8_t, 16>& guid,
                           const Bytes& controls) {
    Bytes bytes;
    bytes.reserve(24 + controls.size());
    for (const std::uint8_t byte :
         {std::uint8_t{0}, std::uint8_t{0x24}, std::uint8_t{0x06}, unitId})
        bytes.push_back(byte);
    for (const std::uint8_t byte : guid)
        bytes.push_back(byte);
    bytes.push_back(static_cast<std::uint8_t>(controls.size() * 8)); // bNumControls
    bytes.push_back(1);                                              // bNrInPins
    bytes.push_back(2);                                              // baSourceID
    bytes.push_back(static_cast<std::uint8_t>(controls.size()));     // bControlSize
    for (const std::uint8_t byte : controls)
        bytes.push_back(byte);
    bytes.push_back(0); // iExtension
    bytes[0] = static_cast<std::uint8_t>(bytes.size());
    return bytes;
}

inline Bytes interruptEndpoint() {
    return {7, 0x05, 0x83, 0x03, 16, 0, 8, 5, 0x25, 0x03, 16, 0};
}

// A camera: VideoControl interface 0 with the given units, a VideoStreaming
// interface 1, in configuration 1.
inline Bytes cameraDescriptors(std::uint16_t vid, std::uint16_t pid, std::uint16_t bcd,
                               const std::vector<Bytes>& units) {
    Bytes body = interfaceDescriptor(0, 0x0E, 0x01);
    append(body, videoControlEntities());
    for (const auto& unit : units)
        append(body, unit);
    append(body, interruptEndpoint());
    append(body, interfaceDescriptor(1, 0x0E, 0x02));
    Bytes bytes = deviceDescriptor(vid, pid, bcd);
    append(bytes, configuration(1, 2, body));
    return bytes;
}

inline std::string text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// --- The tree -------------------------------------------------------------------

struct UsbAttributes {
    std::string vid;
    std::string pid;
    std::string bcd = "0100";
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string configuration = "1";
    Bytes descriptors;
};

class SysfsFixture {
public:
    const std::filesystem::path& root() const { return dir_.path(); }

    // Root hub usbB on its own controller.
    void addRootHub(int bus) {
        const auto dir = dir_.path() / "devices/pci0000:00" /
                         ("0000:00:1" + std::to_string(bus) + ".0") / ("usb" + std::to_string(bus));
        devices_["usb" + std::to_string(bus)] = dir;
        writeDevice(dir,
                    {"1209", "0010", "0601", "Fixture Bus", "xHCI Host Controller", "", "1", {}});
    }

    // USB device `name` ("1-2.3") under its hub ("1-2"; "usb1" for "1-2").
    std::filesystem::path addDevice(const std::string& name, const UsbAttributes& attributes) {
        const auto dot = name.rfind('.');
        const std::string parent =
            dot != std::string::npos ? name.substr(0, dot) : "usb" + name.substr(0, name.find('-'));
        const auto dir = devices_.at(parent) / name;
        devices_[name] = dir;
        writeDevice(dir, attributes);
        return dir;
    }

    // Interface "1-2.3:1.0" of its device.
    std::filesystem::path addInterface(const std::string& name, const std::string& cls,
                                       const std::string& subclass) {
        const auto dir = devices_.at(name.substr(0, name.find(':'))) / name;
        devices_[name] = dir;
        write(dir / "bInterfaceClass", cls + "\n");
        write(dir / "bInterfaceSubClass", subclass + "\n");
        write(dir / "bInterfaceNumber", name.substr(name.rfind('.') + 1) + "\n");
        link(dir_.path() / "bus/usb/devices" / name, dir);
        return dir;
    }

    // A device of another bus (devices/platform/<name>).
    void addPlatformDevice(const std::string& name) {
        const auto dir = dir_.path() / "devices/platform" / name;
        std::filesystem::create_directories(dir);
        devices_[name] = dir;
    }

    // Node videoN hanging on the device or interface `parent`.
    void addVideoNode(const std::string& parent, const std::string& node) {
        const auto dir = devices_.at(parent) / "video4linux" / node;
        write(dir / "name", "camera\n");
        link(dir / "device", devices_.at(parent));
        link(dir_.path() / "class/video4linux" / node, dir);
    }

    void write(const std::filesystem::path& file, const std::string& bytes) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

private:
    void writeDevice(const std::filesystem::path& dir, const UsbAttributes& a) {
        write(dir / "idVendor", a.vid + "\n");
        write(dir / "idProduct", a.pid + "\n");
        write(dir / "bcdDevice", a.bcd + "\n");
        if (!a.manufacturer.empty())
            write(dir / "manufacturer", a.manufacturer + "\n");
        if (!a.product.empty())
            write(dir / "product", a.product + "\n");
        if (!a.serial.empty())
            write(dir / "serial", a.serial + "\n");
        write(dir / "bConfigurationValue", a.configuration + "\n");
        write(dir / "descriptors", text(a.descriptors));
        link(dir_.path() / "bus/usb/devices" / dir.filename(), dir);
    }

    // A relative link, as sysfs makes them.
    static void link(const std::filesystem::path& at, const std::filesystem::path& target) {
        std::filesystem::create_directories(at.parent_path());
        std::filesystem::create_directory_symlink(
            std::filesystem::relative(target, at.parent_path()), at);
    }

    TempDir dir_;
    std::map<std::string, std::filesystem::path> devices_;
};

} // namespace tessell::testing
