#include "download/firmware_image.h"

#include "common/little_endian.h"
#include "common/text_format.h"
#include "common/utf16_text.h"
#include "platform/usb_descriptor.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <ostream>

namespace tessell {

std::ostream& operator<<(std::ostream& out, ImageFamily family) {
    return out << image::letter(family);
}

namespace image {

namespace {

constexpr IcType kNoCamera = IcType::d; // placeholder where `expects` is none

constexpr Layout layoutRow(ImageFamily family, char letter, std::array<std::uint8_t, 2> header) {
    return Layout{.family = family,
                  .letter = letter,
                  .usualHeader = header,
                  .marker = 0,
                  .fixedIdentity = 0,
                  .descriptorPointerField = 0,
                  .usb3Descriptor = false,
                  .readsIdentity = false,
                  .identityNeedsHeader8916 = false,
                  .typeNumberAt = 0,
                  .typeNumberBeforeHeader = 0,
                  .expects = std::nullopt,
                  .fitsOnlyExpected = Binding::Never};
}

// Older layouts: the descriptor at a fixed place, marked by its 0x12.
constexpr Layout olderLayout(ImageFamily family, char letter, std::uint16_t marker,
                             std::uint16_t identity, std::uint16_t typeNumber, IcType camera,
                             Binding binding) {
    Layout l = layoutRow(family, letter, {0x55, 0x90});
    l.marker = marker;
    l.fixedIdentity = identity;
    l.readsIdentity = identity != 0;
    l.typeNumberAt = typeNumber;
    if (identity != 0)
        l.expects = camera;
    l.fitsOnlyExpected = binding;
    return l;
}

// Pointer-table layouts: the descriptor where D at H + `field` points.
constexpr Layout pointerTableLayout(ImageFamily family, char letter,
                                    std::array<std::uint8_t, 2> header, std::uint8_t field,
                                    std::uint8_t typeNumberBeforeHeader, IcType camera,
                                    Binding binding) {
    Layout l = layoutRow(family, letter, header);
    l.descriptorPointerField = field;
    l.readsIdentity = true;
    l.typeNumberBeforeHeader = typeNumberBeforeHeader;
    l.expects = camera;
    l.fitsOnlyExpected = binding;
    return l;
}

constexpr Layout withHeader8916Identity(Layout l) {
    l.identityNeedsHeader8916 = true;
    return l;
}

constexpr Layout withUsb3Descriptor(Layout l) {
    l.usb3Descriptor = true;
    return l;
}

constexpr Layout unknownLayout() {
    // Read like a pointer-table image when it has one; tied to no camera.
    Layout l = layoutRow(ImageFamily::j, 'j', {0x89, 0x10});
    l.descriptorPointerField = 0x16;
    return l;
}

// In the order of the enumerators.
constexpr std::array<Layout, 8> kLayouts = {
    olderLayout(ImageFamily::c, 'c', 0x8000, 0, 0, kNoCamera, Binding::Never),
    olderLayout(ImageFamily::d, 'd', 0xB701, 0xB70A, 0x3FF8, IcType::h, Binding::Always),
    withHeader8916Identity(olderLayout(ImageFamily::e, 'e', 0x6781, 0x678A, 0x4FF8, IcType::i,
                                       Binding::WithHeader8916)),
    pointerTableLayout(ImageFamily::f, 'f', {0x89, 0x17}, 0x16, 2, IcType::k, Binding::Always),
    withHeader8916Identity(pointerTableLayout(ImageFamily::g, 'g', {0x89, 0x16}, 0x16, 2, IcType::j,
                                              Binding::WithHeader8916)),
    pointerTableLayout(ImageFamily::h, 'h', {0x89, 0x26}, 0x1A, 4, IcType::m,
                       Binding::WithHeaderF9FF),
    withUsb3Descriptor(
        pointerTableLayout(ImageFamily::i, 'i', {0x89, 0x26}, 0x1A, 4, IcType::m, Binding::Never)),
    unknownLayout(),
};

constexpr bool layoutsInEnumeratorOrder() {
    for (std::size_t i = 0; i < kLayouts.size(); ++i)
        if (static_cast<std::size_t>(kLayouts[i].family) != i)
            return false;
    return true;
}
static_assert(layoutsInEnumeratorOrder());

// Where the firmware families find iSerialNumber: D at H + this.
constexpr std::size_t kSerialDescriptorPointerField = 0x16;

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
    const Layout& l = layout(family);
    if (l.typeNumberAt != 0)
        return bigEndian16(bytes, l.typeNumberAt);
    if (l.typeNumberBeforeHeader != 0)
        return bigEndian16Before(bytes, headerOffset(bytes), l.typeNumberBeforeHeader);
    return 0;
}

} // namespace

const Layout& layout(ImageFamily family) {
    const auto at = static_cast<std::size_t>(family);
    return kLayouts[at < kLayouts.size() ? at : kLayouts.size() - 1];
}

std::optional<ImageFamily> familyFromLetter(char letter) {
    for (const Layout& l : kLayouts)
        if (l.letter == letter)
            return l.family;
    return std::nullopt;
}

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
        return ImageFamily::i;
    if (bytesAre(bytes, 6, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}))
        return ImageFamily::i;
    if (bytesAre(bytes, 0, {0x89, 0x17}) || bytesAre(bytes, 0, {0x89, 0x18}))
        return ImageFamily::f;
    if (bytesAre(bytes, 0, {0x89, 0x16}))
        return byteIs(bytes, 0x6781, 0x12) ? ImageFamily::e : ImageFamily::g;
    if (bytesAre(bytes, 0, {0xF9, 0xFF}) || bytesAre(bytes, 0, {0x89, 0x26}))
        return ImageFamily::h;
    if (byteIs(bytes, 0x8000, 0x12))
        return ImageFamily::c;
    if (byteIs(bytes, 0xB701, 0x12))
        return ImageFamily::d;
    if (byteIs(bytes, 0x6781, 0x12))
        return ImageFamily::e;
    return ImageFamily::j;
}

std::optional<IcType> expectedCamera(ImageFamily family) {
    return layout(family).expects;
}

bool bindsToExpectedCamera(std::span<const std::uint8_t> bytes, ImageFamily family) {
    switch (layout(family).fitsOnlyExpected) {
    case Binding::Always:
        return true;
    case Binding::WithHeader8916:
        return bytesAre(bytes, 0, {0x89, 0x16});
    case Binding::WithHeaderF9FF:
        return bytesAre(bytes, 0, {0xF9, 0xFF});
    case Binding::Never:
        break;
    }
    return false;
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
    const Layout& l = layout(family);
    const bool pointerTable = hasPointerTable(bytes) || bytesAre(bytes, 0, {0xF9, 0xFF});
    // The older layout is known by the descriptor marker of its family; one
    // without any is an older image cut before it.
    if (bytesAre(bytes, 0, {0x55, 0x90}) && l.marker == 0 && !l.readsIdentity)
        return false;
    const std::size_t h = headerOffset(bytes);
    // Bytes 0..14 (signature, kind, flash-type byte, H, the "7630" marker)
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
    if (pointerTable) {
        // The descriptor pointers and the places the string blocks go.
        reach(h + 0x16, 0x12);
        if (const auto camera = expectedCamera(family))
            if (const auto field = stringPointerField(*camera))
                reach(h + *field, 2);
    }
    if (l.marker != 0) {
        reach(l.marker, usb::kDeviceDescriptorLength);
    } else if (l.descriptorPointerField != 0 && (l.readsIdentity || pointerTable)) {
        const auto usb3 = l.usb3Descriptor ? usb3Identity(bytes) : std::nullopt;
        if (!usb3 || usb3->allZero())
            descriptorThrough(h + l.descriptorPointerField);
    }
    return end <= bytes.size();
}

ImageIdentity readIdentity(std::span<const std::uint8_t> bytes) {
    ImageIdentity identity;
    identity.family = classify(bytes);
    const Layout& l = layout(identity.family);
    // Some layouts say which camera they are for only with the 0x89 0x16 header.
    if (l.readsIdentity && (!l.identityNeedsHeader8916 || bytesAre(bytes, 0, {0x89, 0x16}))) {
        UsbIds ids;
        if (l.fixedIdentity != 0) {
            ids = idsAt(bytes, l.fixedIdentity);
        } else {
            const auto usb3 = l.usb3Descriptor ? usb3Identity(bytes) : std::nullopt;
            ids = usb3 && !usb3->allZero()
                      ? *usb3
                      : idsFromPointer(bytes,
                                       std::size_t{headerOffset(bytes)} + l.descriptorPointerField);
        }
        identity.vid = ids.vid;
        identity.pid = ids.pid;
        identity.bcdDevice = ids.bcdDevice;
        identity.expectedCamera = l.expects;
    }
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
    const chip::Family& family = chip::family(camera);
    if (family.strings != chip::StringBlocks::Pointer)
        return std::nullopt;
    return family.stringPointerField;
}

std::optional<std::size_t> stringBlockFromPointer(std::uint16_t p) {
    if (p == 0xFFFF)
        return std::nullopt;
    return std::size_t{p} + 0x1000;
}

std::optional<std::size_t> imageStringBlockOffset(const WordSource& words, IcType camera) {
    const auto field = stringPointerField(camera);
    if (!field)
        return std::nullopt;
    const auto signature = words(0);
    if (!signature)
        return std::nullopt;
    const std::array<std::uint8_t, 2> start = {static_cast<std::uint8_t>(*signature >> 8),
                                               static_cast<std::uint8_t>(*signature)};
    if (!hasPointerTable(start))
        return std::nullopt;
    const auto h = words(4);
    if (!h)
        return std::nullopt;
    const auto p = words(std::size_t{*h} + *field);
    if (!p)
        return std::nullopt;
    return stringBlockFromPointer(*p);
}

std::optional<std::size_t> imageStringBlockOffset(std::span<const std::uint8_t> bytes,
                                                  IcType camera) {
    return imageStringBlockOffset([bytes](std::size_t at) { return wordAt(bytes, at); }, camera);
}

std::optional<std::uint16_t> cameraTypeNumber(const WordSource& words, IcType camera) {
    const chip::Family& family = chip::family(camera);
    switch (family.typeNumber) {
    case chip::TypeNumberPlace::BeforeHeader: {
        const auto h = words(4);
        if (!h || *h < 2)
            return std::nullopt;
        return words(*h - 2u);
    }
    case chip::TypeNumberPlace::InSector:
        return words(family.typeNumberAt);
    case chip::TypeNumberPlace::None:
        break;
    }
    return std::nullopt;
}

std::optional<std::size_t> cameraStringBlockOffset(std::span<const std::uint8_t> flash,
                                                   IcType camera) {
    const chip::Family& family = chip::family(camera);
    if (family.strings == chip::StringBlocks::Sector)
        return family.stringSector;
    return imageStringBlockOffset(flash, camera);
}

std::optional<std::uint8_t> serialNumberIndex(std::span<const std::uint8_t> bytes, IcType camera) {
    const chip::Family& family = chip::family(camera);
    switch (family.strings) {
    case chip::StringBlocks::Sector:
        return byteAt(bytes, family.serialIndexAt);
    case chip::StringBlocks::Pointer:
        return byteAt(bytes, std::size_t{bigEndian16(bytes, std::size_t{headerOffset(bytes)} +
                                                                kSerialDescriptorPointerField)} +
                                 0x12);
    case chip::StringBlocks::None:
        break;
    }
    return std::nullopt;
}

bool hasPointerTableKind1x(std::span<const std::uint8_t> bytes) {
    const auto kind = byteAt(bytes, 1);
    return byteIs(bytes, 0, 0x89) && kind && *kind >= 0x10 && *kind <= 0x1F;
}

bool hasOlderStringHeader(std::span<const std::uint8_t> bytes) {
    return bytesAre(bytes, 0, {0x55, 0x90}) || hasPointerTableKind1x(bytes);
}

bool takesSerialNumber(std::span<const std::uint8_t> bytes, IcType camera) {
    switch (chip::family(camera).strings) {
    case chip::StringBlocks::Sector:
        return hasOlderStringHeader(bytes);
    case chip::StringBlocks::Pointer:
        return hasPointerTable(bytes);
    case chip::StringBlocks::None:
        break;
    }
    return false;
}

bool keepsStringPlaces(std::span<const std::uint8_t> bytes) {
    return hasPointerTable(bytes) || bytesAre(bytes, 0, {0xF9, 0xFF});
}

StringPlaces reworkStringPlaces(std::span<const std::uint8_t> bytes,
                                std::span<const std::uint8_t> cameraFlash) {
    const bool cameraKind17 = byteIs(cameraFlash, 1, 0x17);
    const std::size_t h = headerOffset(bytes);
    return {bigEndian16(bytes, h + (cameraKind17 ? 0x22 : 0x20)),
            bigEndian16(bytes, h + (cameraKind17 ? 0x26 : 0x24))};
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
