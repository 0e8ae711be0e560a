#include "platform/linux/device_names.h"

#include <cstdio>

namespace tessell::platform {

namespace {

std::string format(const char* pattern, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

} // namespace

std::string interfaceKey(std::string_view interfaceName) {
    return "[" + std::string(interfaceName) + "]";
}

std::string capturePath(const VideoNode& node) {
    if (!node.usb)
        return "\\\\?\\root#video4linux#" + node.name;
    return format("\\\\?\\usb#vid_%04x&pid_%04x&mi_%02x#", unsigned{node.usb->vid},
                  unsigned{node.usb->pid}, unsigned{node.interfaceNumber}) +
           interfaceKey(node.interfaceName) + "#" + node.name;
}

std::optional<std::string> nodeNameOfPath(std::string_view path) {
    const auto hash = path.rfind('#');
    if (hash == std::string_view::npos)
        return std::nullopt;
    const auto name = path.substr(hash + 1);
    if (!videoNodeNumber(name))
        return std::nullopt;
    return std::string(name);
}

std::string instanceIdOf(const VideoControlInterface& interface) {
    const auto& device = interface.device;
    return format("usb\\vid_%04x&pid_%04x&mi_%02x\\%d&", unsigned{device.vid}, unsigned{device.pid},
                  unsigned{interface.number}, device.path.bus) +
           interfaceKey(interface.name) + format("&0&%04x", unsigned{interface.number});
}

std::string hardwareIdOf(const VideoControlInterface& interface) {
    const auto& device = interface.device;
    return format("USB\\VID_%04X&PID_%04X&REV_%04X&MI_%02X", unsigned{device.vid},
                  unsigned{device.pid}, unsigned{device.bcdDevice}, unsigned{interface.number});
}

} // namespace tessell::platform
