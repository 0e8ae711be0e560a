#pragma once

// The program's own 8 KiB camera image, burnt into a module camera's serial
// flash before its module download so that the camera starts from a known
// firmware. It carries a pointer-table header (0x89 0x26, so it reads as an
// image of family 'h'), a device descriptor, and the manufacturer and product
// strings as USB string descriptors in the camera's string-block area.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tessell {

constexpr std::size_t kBuiltinImageSize = 8192;

namespace builtin {
// Where the parts of the image lie, for code that checks or patches it.
constexpr std::uint16_t kHeaderOffset = 0x0040;            // H
constexpr std::uint16_t kDeviceDescriptorPointer = 0x0100; // D
constexpr std::uint16_t kStringPointer = 0x0800;           // P; strings at P + 0x1000
constexpr std::size_t kManufacturerBlock = 0x1800;
constexpr std::size_t kProductBlock = 0x1840;
constexpr std::uint16_t kVendorId = 0x2F30;
constexpr std::uint16_t kProductId = 0x7330;
constexpr std::uint16_t kBcdDevice = 0x0100;
constexpr std::uint16_t kTypeNumber = 0x7330;
inline constexpr char16_t kManufacturer[] = u"HalvaneIT Inc";
inline constexpr char16_t kProduct[] = u"ZLTA7330 PC Camera";
} // namespace builtin

// The image, built once.
std::span<const std::uint8_t> builtinImage();

} // namespace tessell
