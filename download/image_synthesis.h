#pragma once

// Builds firmware images of every image family with a chosen identity, laid
// out where the tool (and the simulated camera) read them: the marker bytes,
// the USB device descriptor, the type number and the string blocks. They
// carry no camera program; they exist for tests, demonstrations and bench
// checks of the download path against simulated cameras.

#include "download/firmware_image.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessell::image {

// Bytes 0..1 of a synthetic image.
struct HeaderBytes {
    std::uint8_t signature = 0; // 0x89, 0x55 or 0xF9
    std::uint8_t kind = 0;      // 0x10..0x2F with 0x89; 0x90 with 0x55; 0xFF with 0xF9
    friend bool operator==(const HeaderBytes&, const HeaderBytes&) = default;
};

// Where the first string block of a pointer-table image lies unless asked
// otherwise (its serial-number block lies 0x1000 above it).
constexpr std::size_t kSynthStringBlockOffset = 0x6000;
// Where the string blocks of the older layouts lie: the place 'h' and 'i'
// cameras keep them.
constexpr std::size_t kOlderLayoutStringBlockOffset = 0xE000;
// Where family 'i' images carry their USB 3.0 device descriptor by default.
constexpr std::size_t kSynthUsb3DescriptorOffset = 0x2000;

struct SynthesisRequest {
    ImageFamily family = ImageFamily::f;
    // None: the family's usual header (see defaultHeader).
    std::optional<HeaderBytes> header;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
    std::uint16_t typeNumber = 0;
    // Text of the first string block and of the serial-number block (UTF-8,
    // at most 32 UTF-16 characters each); none leaves the area erased.
    std::optional<std::string> manufacturer;
    std::optional<std::string> serialNumber;
    // iSerialNumber of the device descriptor; none: 3 with a serial number, else 0.
    std::optional<std::uint8_t> serialIndex;
    // Family 'i' only: true marks the image with "7630" at bytes 11..14,
    // false with 0xFF at bytes 6..10.
    bool mark7630 = true;
    // Family 'i' only: where the USB 3.0 device descriptor goes (the tool
    // looks for it in 0x1000..0x4FFF); none leaves it out, so that the
    // identity comes from the descriptor pointer.
    std::optional<std::size_t> usb3DescriptorOffset = kSynthUsb3DescriptorOffset;
    // Pointer-table images only: where the first string block goes; none
    // uses kSynthStringBlockOffset.
    std::optional<std::size_t> stringBlockOffset;
    // Image length; 0: the family's default size (see defaultSize).
    std::size_t size = 0;
};

// 'c', 'd', 'e': 0x55 0x90; 'f': 0x89 0x17; 'g': 0x89 0x16; 'h', 'i': 0x89
// 0x26; 'j': 0x89 0x10.
HeaderBytes defaultHeader(ImageFamily family);

// 0x10000 for the older layouts (families 'c', 'd', 'e' and any image
// without a pointer table), 0xA000 for the others.
std::size_t defaultSize(ImageFamily family, HeaderBytes header);

// Builds the image, or gives a reason in `error` and none: a family outside
// 'c'..'j', a header that does not make the bytes classify as the family
// asked, a string too long for a block, a size too small for the fields or
// larger than the image buffer, an offset outside its area.
//
// Identity that the family's layout does not carry ('c', 'j', and 'e'
// without the 0x89 0x16 header, which the tool reads no identity from) is
// still written at its usual place but reads back as zero; the result's
// readIdentity() says what the tool will see.
std::optional<std::vector<std::uint8_t>> synthesizeImage(const SynthesisRequest& request,
                                                         std::string& error);

// The offset of the first string block in an image built from `request`
// (the serial-number block lies kSerialBlockDistance above it).
std::size_t synthesizedStringBlockOffset(const SynthesisRequest& request);

} // namespace tessell::image
