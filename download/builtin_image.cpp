#include "download/builtin_image.h"

#include "platform/usb_descriptor.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tessell {

namespace {

using Image = std::array<std::uint8_t, kBuiltinImageSize>;

void putBigEndian(Image& image, std::size_t offset, std::uint16_t value) {
    image[offset] = static_cast<std::uint8_t>(value >> 8);
    image[offset + 1] = static_cast<std::uint8_t>(value);
}

// A string block as the firmware stores it: a spare byte, the length, then
// the USB string descriptor (bLength, type 3, UTF-16LE).
void putBuiltinStringBlock(Image& image, std::size_t offset, std::u16string_view text) {
    const auto length = static_cast<std::uint8_t>(2 + 2 * text.size());
    image[offset] = 0x00;
    image[offset + 1] = length;
    image[offset + 2] = length;
    image[offset + 3] = 0x03;
    std::size_t at = offset + 4;
    for (const char16_t c : text) {
        image[at++] = static_cast<std::uint8_t>(c);
        image[at++] = static_cast<std::uint8_t>(c >> 8);
    }
}

Image build() {
    using namespace builtin;
    Image image{};
    // The firmware body: fixed, varied content so that a byte lost or moved
    // on the way to the flash changes the checksum.
    std::uint32_t seed = 0x7330;
    for (std::size_t i = 0x200; i < image.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        image[i] = static_cast<std::uint8_t>(seed >> 16);
    }

    // Header: signature, header kind 0x26, flash-type byte (generic table),
    // header offset; bytes 6..14 stay zero so that no other family marker holds.
    image[0] = 0x89;
    image[1] = 0x26;
    image[2] = 0x04;
    putBigEndian(image, 4, kHeaderOffset);
    putBigEndian(image, kHeaderOffset - 4, kTypeNumber);

    // Pointer table: the device descriptor, where string blocks go, and the
    // string-block pointer of each firmware generation that reads it.
    const std::size_t h = kHeaderOffset;
    putBigEndian(image, h + 0x16, kDeviceDescriptorPointer);
    putBigEndian(image, h + 0x1A, kDeviceDescriptorPointer);
    putBigEndian(image, h + 0x20, static_cast<std::uint16_t>(kManufacturerBlock));
    putBigEndian(image, h + 0x22, static_cast<std::uint16_t>(kManufacturerBlock));
    putBigEndian(image, h + 0x24, 0xFFFF);
    putBigEndian(image, h + 0x26, 0xFFFF);
    for (const std::size_t field : {0x74, 0x7A, 0x9C})
        putBigEndian(image, h + field, kStringPointer);

    // USB device descriptor (USB 2.0, composite device class), strings 1 and
    // 2, no serial-number string, one configuration.
    usb::DeviceDescriptorFields fields;
    fields.vid = kVendorId;
    fields.pid = kProductId;
    fields.bcdDevice = kBcdDevice;
    fields.manufacturer = 1;
    fields.product = 2;
    const auto descriptor = usb::compositeDeviceDescriptor(fields);
    std::copy(descriptor.begin(), descriptor.end(), image.begin() + kDeviceDescriptorPointer + 2);

    // The string-block area: manufacturer first, where the camera looks for
    // it, the product string after it; both padded with 0xFF.
    std::fill(image.begin() + kManufacturerBlock, image.begin() + kManufacturerBlock + 0x100,
              std::uint8_t{0xFF});
    putBuiltinStringBlock(image, kManufacturerBlock, kManufacturer);
    putBuiltinStringBlock(image, kProductBlock, kProduct);
    return image;
}

} // namespace

std::span<const std::uint8_t> builtinImage() {
    static const Image image = build();
    return image;
}

} // namespace tessell
