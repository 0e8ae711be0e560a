#pragma once

// Names exchanged with the platform's device services are kept the way the
// platform hands them to a fixed 260-byte buffer: at most 255 bytes.

#include <cstddef>
#include <string>
#include <string_view>

namespace tessell {

constexpr std::size_t kDeviceNameMax = 255;

// `text` cut to at most `limit` bytes, never inside a UTF-8 sequence.
std::string truncatedName(std::string_view text, std::size_t limit = kDeviceNameMax);

// A device is a USB device when characters 4, 5 and 6 of its symbolic link
// (after the four-character path prefix) are exactly "usb" or exactly "USB".
bool isUsbDevicePath(std::string_view path);

} // namespace tessell
