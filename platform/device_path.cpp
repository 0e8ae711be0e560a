#include "platform/device_path.h"

namespace tessell {

std::string truncatedName(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return std::string(text);
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

bool isUsbDevicePath(std::string_view path) {
    if (path.size() < 7)
        return false;
    const auto bus = path.substr(4, 3);
    return bus == "usb" || bus == "USB";
}

} // namespace tessell
