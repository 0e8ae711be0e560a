#pragma once

// The USB tree and the video4linux nodes as sysfs shows them. Every function
// takes the sysfs root (normally /sys) so that tests can hand it a copied
// tree; nothing here opens a device node.
//
// Layout relied on:
//   class/video4linux/videoN/device -> the USB interface the node hangs on
//                                      (uvcvideo: the VideoControl interface, 1-2.3:1.0)
//   bus/usb/devices/1-2.3           -> a device: idVendor, idProduct, bcdDevice,
//                                      manufacturer, product, serial, bConfigurationValue,
//                                      descriptors
//   bus/usb/devices/1-2.3:1.0       -> its interface 0 of configuration 1:
//                                      bInterfaceClass, bInterfaceSubClass
// Device names: root hubs usbB; others B-P.P..., one port per hub level, so
// 1-2.3 sits on port 3 of hub 1-2, which sits on port 2 of root hub usb1.

#include "platform/linux/usb_descriptors.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessell::platform {

inline const std::filesystem::path kSysRoot = "/sys";

// Where a device sits: its bus and the port at each hub level.
struct UsbPath {
    int bus = 0;
    std::vector<int> ports; // empty for a root hub

    // Controllers in order, then depth first, ports ascending.
    friend bool operator<(const UsbPath& a, const UsbPath& b) {
        return a.bus != b.bus ? a.bus < b.bus : a.ports < b.ports;
    }
    friend bool operator==(const UsbPath&, const UsbPath&) = default;
};

// "1-2.3" or "usb1"; none for anything else (interfaces, malformed names).
std::optional<UsbPath> parseUsbDeviceName(std::string_view name);
// The sysfs name of the hub a (non-root) device hangs on: "1-2" for 1-2.3,
// "usb1" for 1-2.
std::string parentHubName(const UsbPath& path);

// "1-2.3:1.0": device 1-2.3, configuration 1, interface 0.
struct UsbInterfaceName {
    std::string device;
    int configuration = 0;
    int interfaceNumber = 0;
};
std::optional<UsbInterfaceName> parseUsbInterfaceName(std::string_view name);

struct UsbDevice {
    std::string name; // "1-2.3"
    std::filesystem::path dir;
    UsbPath path;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
    std::string manufacturer; // empty when the device has none
    std::string product;
    std::string serial;
    std::optional<std::uint8_t> configuration; // none while unconfigured
};

// The device in folder `dir` (named after the device); none when the folder
// is not a USB device or its identity cannot be read.
std::optional<UsbDevice> readUsbDevice(const std::filesystem::path& dir);

// The Extension Units of the device's active configuration, from its
// `descriptors` attribute (an unreadable one gives a scan with a fault).
DescriptorScan scanDeviceDescriptors(const UsbDevice& device);

// Every USB device except root hubs, in tree order.
std::vector<UsbDevice> listUsbDevices(const std::filesystem::path& sysRoot);

// A video4linux node.
struct VideoNode {
    std::string name; // "video0"
    unsigned number = 0;
    // The USB interface and device it hangs on; none for other buses.
    std::string interfaceName;
    std::uint8_t interfaceNumber = 0;
    std::optional<UsbDevice> usb;
};

// "video<digits>"; none for anything else.
std::optional<unsigned> videoNodeNumber(std::string_view name);

// One node by name; none when sysfs does not have it.
std::optional<VideoNode> readVideoNode(const std::filesystem::path& sysRoot, std::string_view name);

// Every node, USB nodes first in tree order (then interface, then node
// number), the others after them by number.
std::vector<VideoNode> listVideoNodes(const std::filesystem::path& sysRoot);

// A USB VideoControl interface (class 0x0E, subclass 0x01): one camera
// function of a device. Whether or not a driver is bound to it.
struct VideoControlInterface {
    std::string name; // "1-2.3:1.0"
    std::uint8_t number = 0;
    UsbDevice device;
};

// Every VideoControl interface, in tree order of their devices.
std::vector<VideoControlInterface> listVideoControlInterfaces(const std::filesystem::path& sysRoot);

} // namespace tessell::platform
