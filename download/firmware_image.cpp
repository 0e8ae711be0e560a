#include "download/firmware_image.h"

#include "common/little_endian.h"
#include "common/text_format.h"
#include "common/utf16_text.h"
#include "platform/usb_descriptor.h"

#include <algorithm>
#include <array>
#include <initializer_list>

namespace tessell {
namespace image {

namespace {

bool bytesAre(std::span<const std::uint8_t> bytes, std::size_t offset,
              std::initializer_list<std::uint8_t> expected) {
    if (offset > bytes.size() || bytes.size() - offset < expected.size())
        return false;
    return std::equal(expected.begin(), expected.end(), bytes.begin() + offset);
}

bool byteIs(std::span<const std::uint8_t> bytes, std::size_t offset, std::uint8_t value) {
    return byteAt(bytes, offset) == value;
}

std::optional<std::uint16_t> wordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset >= bytes.size() || bytes.size() - offset < 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

// H-4 and H-2 with a small H would lie before the image.
std::uint16_t bigEndian16Before(std::span<const std::uint8_t> bytes, std::size_t base,
                                std::size_t distance) {
    return base < distance ? 0 : bigEndian16(bytes, base - distance);
}

struct UsbIds {
    std::uint16_t vid = 0, pid = 0, bcdDevice = 0;
    bool allZero() const { return vid == 0 && pid == 0 && bcdDevice == 0; }
};

UsbIds idsAt(std::span<const std::uint8_t> bytes, std::size_t vidOffset) {
    return {littleEndian16(bytes, vidOffset), littleEndian16(bytes, vidOffset + 2),
            littleEndian16(bytes, vidOffset + 4)};
}

// The device descriptor begins at D + 2, so its idVendor lies at D + 0x0A.
UsbIds idsFromPointer(std::span<const std::uint8_t> bytes, std::size_t pointerOffset) {
    return idsAt(bytes, std::size_t{bigEndian16(bytes, pointerOffset)} + 0x0A);
}

// A composite USB 3.0 device descriptor, which the 'i' images carry somewhere
// in their second to fifth 4 KiB sector.
constexpr std::array<std::uint8_t, 8> kUsb3DeviceDescriptor = {0x12, 0x01, 0x00, 0x03,
                                                               0xEF, 0x02, 0x01, 0x09};

std::optional<UsbIds> usb3Identity(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kFirst = 0x1000;
    constexpr std::size_t kLastStart = 0x4FFF;
    if (bytes.size() <= kFirst)
        return std::nullopt;
    const auto area = bytes.subspan(
        kFirst, std::min(bytes.size(), kLastStart + kUsb3DeviceDescriptor.size()) - kFirst);
    const auto hit = std::search(area.begin(), area.end(), kUsb3DeviceDescriptor.begin(),
                                 kUsb3DeviceDescriptor.end());
    if (hit == area.end())
        return std::nullopt;
    return idsAt(bytes, kFirst + static_cast<std::size_t>(hit - area.begin()) + 8);
}

std::uint16_t typeNumberOf(std::span<const std::uint8_t> bytes, ImageFamily family) {
    const std::size_t h = headerOffset(bytes);
    switch (family) {
    case 'd':
        return bigEndian16(bytes, 0x3FF8);
    case 'e':
        return bigEndian16(bytes, 0x4FF8);
    case 'f':
    case 'g':
        return bigEndian16Before(bytes, h, 2);
    case 'h':
    case 'i':
        return bigEndian16Before(bytes, h, 4);
    default:
        return 0;
    }
}

} // namespace

std::optional<std::uint8_t> byteAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset >= bytes.size())
        return std::nullopt;
    return bytes[offset];
}

std::uint16_t bigEndian16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return wordAt(bytes, offset).value_or(0);
}

std::uint16_t littleEndian16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset >= bytes.size() || bytes.size() - offset < 2)
        return 0;
    return le::load16(bytes, offset);
}

std::uint16_t headerOffset(std::span<const std::uint8_t> bytes) {
    return bigEndian16(bytes, 4);
}

bool hasPointerTable(std::span<const std::uint8_t> bytes) {
    const auto kind = byteAt(bytes, 1);
    return byteIs(bytes, 0, 0x89) && kind && *kind >= 0x10 && *kind <= 0x2F;
}

ImageFamily classify(std::span<const std::uint8_t> bytes) {
    if (bytesAre(bytes, 11, {'7', '6', '3', '0'}))
        return 'i';
    if (bytesAre(bytes, 6, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}))
        return 'i';
    if (bytesAre(bytes, 0, {0x89, 0x17}) || bytesAre(bytes, 0, {0x89, 0x18}))
        return 'f';
    if (bytesAre(bytes, 0, {0x89, 0x16}))
        return byteIs(bytes, 0x6781, 0x12) ? 'e' : 'g';
    if (bytesAre(bytes, 0, {0xF9, 0xFF}) || bytesAre(bytes, 0, {0x89, 0x26}))
        return 'h';
    if (byteIs(bytes, 0x8000, 0x12))
        return 'c';
    if (byteIs(bytes, 0xB701, 0x12))
        return 'd';
    if (byteIs(bytes, 0x6781, 0x12))
        return 'e';
    return 'j';
}

std::optional<IcType> expectedCamera(ImageFamily family) {
    switch (family) {
    case 'd':
        return 'h';
    case 'e':
        return 'i';
    case 'f':
        return 'k';
    case 'g':
        return 'j';
    case 'h':
    case 'i':
        return 'm';
    default:
        return std::nullopt;
    }
}

bool isHeaderVariant18(std::span<const std::uint8_t> bytes) {
    return bytesAre(bytes, 0, {0x89, 0x18});
}

bool hasKnownSignature(std::span<const std::uint8_t> bytes) {
    return hasPointerTable(bytes) || bytesAre(bytes, 0, {0x55, 0x90}) ||
           bytesAre(bytes, 0, {0xF9, 0xFF});
}

bool fitsItsLayout(std::span<const std::uint8_t> bytes) {
    if (!hasKnownSignature(bytes))
        return false;
    const ImageFamily family = classify(bytes);
    // The older layout is known by the descriptor marker of its family; one
    // without any is an older image cut before it.
    if (bytesAre(bytes, 0, {0x55, 0x90}) && family == 'j')
        return false;
    const std::size_t h = headerOffset(bytes);
    // Bytes 0..14 (signature, kind, flash-type byte, H, the 'i' markers)
    // belong to every layout.
    std::size_t end = 15;
    const auto reach = [&end](std::size_t offset, std::size_t width) {
        end = std::max(end, offset + width);
    };
    // D at `pointerField`; the device descriptor lies at D + 2.
    const auto descriptorThrough = [&](std::size_t pointerField) {
        reach(pointerField, 2);
        reach(std::size_t{bigEndian16(bytes, pointerField)} + 2, usb::kDeviceDescriptorLength);
    };
    const bool pointerTable = hasPointerTable(bytes) || bytesAre(bytes, 0, {0xF9, 0xFF});
    if (pointerTable) {
        // The descriptor pointers and the places the string blocks go.
        reach(h + 0x16, 0x12);
        if (const auto camera = expectedCamera(family))
            if (const auto field = stringPointerField(*camera))
                reach(h + *field, 2);
    }
    switch (family) {
    case 'c':
        reach(0x8000, usb::kDeviceDescriptorLength);
        break;
    case 'd':
        reach(0xB701, 0xB713 - 0xB701);
        break;
    case 'e':
        reach(0x6781, 0x6793 - 0x6781);
        break;
    case 'f':
    case 'g':
        descriptorThrough(h + 0x16);
        break;
    case 'h':
        descriptorThrough(h + 0x1A);
        break;
    case 'i':
        if (const auto usb3 = usb3Identity(bytes); !usb3 || usb3->allZero())
            descriptorThrough(h + 0x1A);
        break;
    default:
        if (pointerTable)
            descriptorThrough(h + 0x16);
        break;
    }
    return end <= bytes.size();
}

ImageIdentity readIdentity(std::span<const std::uint8_t> bytes) {
    ImageIdentity identity;
    identity.family = classify(bytes);
    const std::size_t h = headerOffset(bytes);
    UsbIds ids;
    switch (identity.family) {
    case 'd':
        ids = idsAt(bytes, 0xB70A);
        identity.expectedCamera = 'h';
        break;
    case 'f':
        ids = idsFromPointer(bytes, h + 0x16);
        identity.expectedCamera = 'k';
        break;
    case 'h':
        ids = idsFromPointer(bytes, h + 0x1A);
        identity.expectedCamera = 'm';
        break;
    case 'i': {
        const auto usb3 = usb3Identity(bytes);
        ids = usb3 && !usb3->allZero() ? *usb3 : idsFromPointer(bytes, h + 0x1A);
        identity.expectedCamera = 'm';
        break;
    }
    default:
        // Only the 0x89 0x16 header says which camera the other layouts are for.
        if (bytesAre(bytes, 0, {0x89, 0x16})) {
            if (identity.family == 'e') {
                ids = idsAt(bytes, 0x678A);
                identity.expectedCamera = 'i';
            } else {
                ids = idsFromPointer(bytes, h + 0x16);
                identity.expectedCamera = 'j';
            }
        }
        break;
    }
    identity.vid = ids.vid;
    identity.pid = ids.pid;
    identity.bcdDevice = ids.bcdDevice;
    identity.typeNumber = typeNumberOf(bytes, identity.family);
    return identity;
}

std::string formatTypeNumber(std::uint16_t typeNumber) {
    return formatText("%.4x", static_cast<unsigned>(typeNumber));
}

std::uint8_t checksum(std::span<const std::uint8_t> image, std::size_t blockSize) {
    std::uint8_t sum = 0;
    for (const auto byte : image)
        sum ^= byte;
    const std::size_t padding =
        blockSize == 0 ? 0 : (blockSize - image.size() % blockSize) % blockSize;
    // Each 0xFF pad byte inverts the sum, so only the parity of their count matters.
    if (padding % 2 == 1)
        sum = static_cast<std::uint8_t>(~sum);
    return sum;
}

std::optional<std::size_t> stringPointerField(IcType camera) {
    switch (camera) {
    case 'j':
        return 0x74;
    case 'k':
        return 0x7A;
    case 'm':
        return 0x9C;
    default:
        return std::nullopt;
    }
}

std::optional<std::size_t> imageStringBlockOffset(std::span<const std::uint8_t> bytes,
                                                  IcType camera) {
    const auto field = stringPointerField(camera);
    if (!field)
        return std::nullopt;
    const std::size_t pointerField = *field;
    if (!hasPointerTable(bytes))
        return std::nullopt;
    const auto p = wordAt(bytes, std::size_t{headerOffset(bytes)} + pointerField);
    if (!p || *p == 0xFFFF)
        return std::nullopt;
    return std::size_t{*p} + 0x1000;
}

std::optional<std::size_t> cameraStringBlockOffset(std::span<const std::uint8_t> flash,
                                                   IcType camera) {
    if (camera == 'h' || camera == 'i')
        return 0xE000;
    return imageStringBlockOffset(flash, camera);
}

std::optional<std::uint8_t> serialNumberIndex(std::span<const std::uint8_t> bytes, IcType camera) {
    switch (camera) {
    case 'h':
        return byteAt(bytes, 0xB712);
    case 'i':
        return byteAt(bytes, 0x6792);
    case 'j':
    case 'k':
    case 'm':
        return byteAt(
            bytes, std::size_t{bigEndian16(bytes, std::size_t{headerOffset(bytes)} + 0x16)} + 0x12);
    default:
        return std::nullopt;
    }
}

std::optional<std::span<const std::uint8_t>> stringBlock(std::span<const std::uint8_t> bytes,
                                                         std::size_t offset) {
    const auto length = byteAt(bytes, offset + 1);
    if (offset >= bytes.size() || !length || *length > kMaxStringBlockLength)
        return std::nullopt;
    const std::size_t stored = std::size_t{*length} + 2;
    if (bytes.size() - offset < stored)
        return std::nullopt;
    return bytes.subspan(offset, stored);
}

bool isValidStringBlock(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return stringBlock(bytes, offset).has_value();
}

std::optional<std::string> decodeStringBlock(std::span<const std::uint8_t> bytes,
                                             std::size_t offset) {
    const auto block = stringBlock(bytes, offset);
    if (!block)
        return std::nullopt;
    const std::size_t length = (*block)[1];
    // The descriptor proper is the L bytes after the two leading ones; its own
    // bLength cannot make it reach further.
    const std::size_t descriptorLength =
        length >= 1 ? std::min<std::size_t>((*block)[2], length) : 0;
    std::u16string characters;
    for (std::size_t at = 4; at + 1 < descriptorLength + 2; at += 2) {
        const auto c = static_cast<char16_t>((*block)[at] | (*block)[at + 1] << 8);
        if (c == 0)
            break;
        characters += c;
    }
    return utf16ToUtf8(characters);
}

std::optional<std::vector<std::uint8_t>> encodeStringBlock(std::u16string_view characters) {
    if (characters.size() > (kMaxStringBlockLength - 2) / 2)
        return std::nullopt;
    const auto length = static_cast<std::uint8_t>(2 + 2 * characters.size());
    std::vector<std::uint8_t> block{0x00, length, length, 0x03};
    for (const char16_t c : characters) {
        block.push_back(static_cast<std::uint8_t>(c & 0xFF));
        block.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return block;
}

} // namespace image

bool FirmwareImage::assign(std::span<const std::uint8_t> bytes, std::optional<IcType> camera) {
    if (bytes.size() > image::kBufferSize)
        return false;
    adopt(bytes, camera);
    return true;
}

void FirmwareImage::adopt(std::span<const std::uint8_t> bytes, std::optional<IcType> camera) {
    if (buffer_.empty())
        buffer_.assign(image::kBufferSize, 0xFF);
    std::copy(bytes.begin(), bytes.end(), buffer_.begin());
    length_ = bytes.size();
    loaded_ = true;
    // Only the file's own bytes: what an earlier, longer file left beyond
    // `length` (or the fill) would give the image an identity it lacks.
    headerVariant18_ = image::isHeaderVariant18(content());
    identity_ = image::readIdentity(content());
    matchesCamera_ = !camera || matchesCamera(*camera);
}

bool FirmwareImage::setLength(std::size_t length) {
    if (length > buffer_.size())
        return false;
    length_ = length;
    return true;
}

std::string FirmwareImage::versionText() const {
    return formatText("%.4X", static_cast<unsigned>(identity_.bcdDevice));
}

bool FirmwareImage::matchesCamera(IcType camera) const {
    return !identity_.expectedCamera || *identity_.expectedCamera == camera;
}

} // namespace tessell
