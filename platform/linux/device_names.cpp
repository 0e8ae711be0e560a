#include "platform/linux/device_names.h"

namespace tessell::platform {

std::string capturePath(const VideoNode& node) {
    if (!node.usb)
        return node.name;
    return node.interfaceName + "/" + node.name;
}

std::optional<std::string> nodeNameOfPath(std::string_view path) {
    const auto slash = path.rfind('/');
    const auto name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (!videoNodeNumber(name))
        return std::nullopt;
    return std::string(name);
}

} // namespace tessell::platform
