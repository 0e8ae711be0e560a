#include "download/image_synthesis.h"

#include "common/utf16_text.h"
#include "platform/usb_descriptor.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <utility>

namespace tessell::image {

namespace {

constexpr std::size_t kHeaderOffset = 0x0100;
// Descriptor pointer D of the pointer-table layouts; the descriptor begins at D + 2.
constexpr std::size_t kDescriptorPointer = 0x0400;
// The tool searches this area for a USB 3.0 descriptor.
constexpr std::size_t kUsb3SearchFirst = 0x1000;
constexpr std::size_t kUsb3SearchLast = 0x4FFF;
// Bytes 0..0x1F are the fixed header: kept free of the 0xFF fill so that no
// marker holds by accident (five 0xFF at 6..10 would mean family 'i').
constexpr std::size_t kFixedHeaderSize = 0x20;
// A string block whose serial-number block still lies inside the 16-bit
// flash address space.
constexpr std::size_t kLastStringBlockOffset =
    0x10000 - kSerialBlockDistance - (kMaxStringBlockLength + 2);

std::string hex(std::size_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%zX", value);
    return text;
}

bool hasPointerTableHeader(HeaderBytes header) {
    // An invalidated signature (0xF9 0xFF) keeps the pointer table behind it.
    return (header.signature == 0x89 && header.kind >= 0x10 && header.kind <= 0x2F) ||
           (header.signature == 0xF9 && header.kind == 0xFF);
}

// Writes fields into an erased buffer, refusing fields that overlap or that
// lie beyond the image buffer, and remembers how far the fields reach.
class FieldWriter {
public:
    explicit FieldWriter(std::string& error) : bytes_(kBufferSize, 0xFF), error_(error) {}

    bool put(std::size_t offset, std::span<const std::uint8_t> data, const std::string& what) {
        if (!ok_)
            return false;
        if (offset > bytes_.size() || bytes_.size() - offset < data.size())
            return fail(what + " at " + hex(offset) + " lies beyond the image buffer");
        for (const auto& [start, end, name] : fields_) {
            if (offset < end && start < offset + data.size())
                return fail(what + " at " + hex(offset) + " overlaps " + name + " at " +
                            hex(start));
        }
        std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
        fields_.push_back({offset, offset + data.size(), what});
        end_ = std::max(end_, offset + data.size());
        return true;
    }
    bool putBigEndian(std::size_t offset, std::uint16_t value, const std::string& what) {
        const std::array<std::uint8_t, 2> data{static_cast<std::uint8_t>(value >> 8),
                                               static_cast<std::uint8_t>(value)};
        return put(offset, data, what);
    }
    bool fail(const std::string& reason) {
        if (ok_)
            error_ = reason;
        ok_ = false;
        return false;
    }

    bool ok() const { return ok_; }
    std::size_t end() const { return end_; }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    struct Field {
        std::size_t start, end;
        std::string name;
    };
    std::vector<std::uint8_t> bytes_;
    std::vector<Field> fields_;
    std::size_t end_ = 0;
    std::string& error_;
    bool ok_ = true;
};

std::array<std::uint8_t, usb::kDeviceDescriptorLength>
deviceDescriptor(const SynthesisRequest& request, std::uint16_t bcdUsb, std::uint8_t serialIndex) {
    usb::DeviceDescriptorFields fields;
    fields.bcdUsb = bcdUsb;
    // A USB 3.0 descriptor gives the control endpoint's size as a power of two.
    fields.maxPacketSize0 = bcdUsb >= 0x0300 ? 0x09 : 0x40;
    fields.vid = request.vid;
    fields.pid = request.pid;
    fields.bcdDevice = request.bcdDevice;
    fields.manufacturer = request.manufacturer ? 1 : 0;
    fields.serialNumber = serialIndex;
    return usb::compositeDeviceDescriptor(fields);
}

// The descriptor as the pointer-table and older layouts keep it: one byte
// not interpreted, its length, then the descriptor (so D + 2 is where it begins).
std::vector<std::uint8_t>
descriptorBlock(const std::array<std::uint8_t, usb::kDeviceDescriptorLength>& descriptor) {
    std::vector<std::uint8_t> block(2 + descriptor.size());
    block[1] = static_cast<std::uint8_t>(descriptor.size());
    std::copy(descriptor.begin(), descriptor.end(), block.begin() + 2);
    return block;
}

bool putStringBlock(FieldWriter& layout, std::size_t offset, const std::optional<std::string>& text,
                    const std::string& what) {
    if (!text)
        return true;
    const auto block = encodeStringBlock(utf8ToUtf16(*text));
    if (!block)
        return layout.fail(what + " \"" + *text + "\" is longer than " +
                           std::to_string((kMaxStringBlockLength - 2) / 2) + " characters");
    return layout.put(offset, *block, what + " string block");
}

std::string headerText(HeaderBytes header) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X", header.signature, header.kind);
    return text;
}

} // namespace

HeaderBytes defaultHeader(ImageFamily family) {
    const auto& header = layout(family).usualHeader;
    return {header[0], header[1]};
}

std::size_t defaultSize(ImageFamily family, HeaderBytes header) {
    const bool older = layout(family).marker != 0;
    return older || !hasPointerTableHeader(header) ? 0x10000 : 0xA000;
}

std::size_t synthesizedStringBlockOffset(const SynthesisRequest& request) {
    const auto camera = expectedCamera(request.family);
    if (camera && chip::family(*camera).strings == chip::StringBlocks::Sector)
        return kOlderLayoutStringBlockOffset;
    if (!hasPointerTableHeader(request.header.value_or(defaultHeader(request.family))))
        return kOlderLayoutStringBlockOffset;
    return request.stringBlockOffset.value_or(kSynthStringBlockOffset);
}

std::optional<std::vector<std::uint8_t>> synthesizeImage(const SynthesisRequest& request,
                                                         std::string& error) {
    const ImageFamily family = request.family;
    const image::Layout& shape = layout(family);
    if (shape.family != family) {
        error = "unknown image family";
        return std::nullopt;
    }
    const HeaderBytes header = request.header.value_or(defaultHeader(family));
    const bool pointerTable = hasPointerTableHeader(header);
    const std::uint8_t serialIndex = request.serialIndex.value_or(request.serialNumber ? 3 : 0);

    FieldWriter fields(error);
    std::array<std::uint8_t, kFixedHeaderSize> fixed{};
    fixed[0] = header.signature;
    fixed[1] = header.kind;
    if (pointerTable) {
        fixed[4] = static_cast<std::uint8_t>(kHeaderOffset >> 8);
        fixed[5] = static_cast<std::uint8_t>(kHeaderOffset);
    }
    // The layout with a USB 3.0 descriptor is the one the markers at 6..14 name.
    if (shape.usb3Descriptor) {
        if (request.mark7630)
            std::copy_n("7630", 4, fixed.begin() + 11);
        else
            std::fill_n(fixed.begin() + 6, 5, 0xFF);
    }
    fields.put(0, fixed, "fixed header");

    const auto descriptor = deviceDescriptor(request, 0x0200, serialIndex);
    std::size_t descriptorPointer = kDescriptorPointer;
    if (shape.marker != 0 && shape.fixedIdentity == 0) {
        // The descriptor itself at the marker.
        fields.put(shape.marker, descriptor, "device descriptor");
        descriptorPointer = shape.marker - 2u;
    } else if (shape.marker != 0) {
        // The marker is the descriptor block's length byte.
        descriptorPointer = shape.marker - 1u;
        fields.put(descriptorPointer, descriptorBlock(descriptor), "device descriptor");
        fields.putBigEndian(shape.typeNumberAt, request.typeNumber, "type number");
    } else if (pointerTable) {
        fields.put(kDescriptorPointer, descriptorBlock(descriptor), "device descriptor");
        if (shape.typeNumberBeforeHeader != 0)
            fields.putBigEndian(kHeaderOffset - shape.typeNumberBeforeHeader, request.typeNumber,
                                "type number");
    }

    if (pointerTable) {
        // Both descriptor pointers: the layouts read the identity at H+0x16
        // or H+0x1A, and the cameras that read a string-block pointer find
        // iSerialNumber through H+0x16.
        const auto d = static_cast<std::uint16_t>(descriptorPointer);
        fields.putBigEndian(kHeaderOffset + 0x16, d, "descriptor pointer");
        fields.putBigEndian(kHeaderOffset + 0x1A, d, "descriptor pointer");
    }

    const std::size_t strings = synthesizedStringBlockOffset(request);
    if (request.stringBlockOffset && *request.stringBlockOffset != strings) {
        fields.fail("this layout keeps its string blocks at " + hex(strings));
    } else if (pointerTable) {
        if (strings < 0x1000 || strings > kLastStringBlockOffset) {
            fields.fail("string blocks at " + hex(strings) + " must lie in 0x1000.." +
                        hex(kLastStringBlockOffset));
        } else {
            // The same string area for every camera family that reads a
            // pointer, and the places a rework puts a camera's own blocks.
            const auto p = static_cast<std::uint16_t>(strings - 0x1000);
            for (const chip::Family& camera : chip::families())
                if (camera.strings == chip::StringBlocks::Pointer)
                    fields.putBigEndian(kHeaderOffset + camera.stringPointerField, p,
                                        "string-block pointer");
            const auto first = static_cast<std::uint16_t>(strings);
            const auto serial = static_cast<std::uint16_t>(strings + kSerialBlockDistance);
            fields.putBigEndian(kHeaderOffset + 0x20, first, "string-block target");
            fields.putBigEndian(kHeaderOffset + 0x22, first, "string-block target");
            fields.putBigEndian(kHeaderOffset + 0x24, serial, "serial-block target");
            fields.putBigEndian(kHeaderOffset + 0x26, serial, "serial-block target");
        }
    }
    putStringBlock(fields, strings, request.manufacturer, "manufacturer");
    putStringBlock(fields, strings + kSerialBlockDistance, request.serialNumber, "serial number");

    if (shape.usb3Descriptor && request.usb3DescriptorOffset) {
        const std::size_t at = *request.usb3DescriptorOffset;
        if (at < kUsb3SearchFirst || at > kUsb3SearchLast)
            fields.fail("the USB 3.0 descriptor at " + hex(at) + " must lie in " +
                        hex(kUsb3SearchFirst) + ".." + hex(kUsb3SearchLast));
        else
            fields.put(at, deviceDescriptor(request, 0x0300, serialIndex),
                       "USB 3.0 device descriptor");
    }
    if (!fields.ok())
        return std::nullopt;

    std::size_t size = request.size;
    if (size == 0) {
        size = std::max(defaultSize(family, header), (fields.end() + 0xFF) & ~std::size_t{0xFF});
    } else if (size < fields.end()) {
        error = "size " + hex(size) + " is too small: the fields reach " + hex(fields.end());
        return std::nullopt;
    }
    if (size > kBufferSize) {
        error = "size " + hex(size) + " is larger than the image buffer (" + hex(kBufferSize) + ")";
        return std::nullopt;
    }
    auto bytes = std::move(fields.bytes());
    bytes.resize(size);

    const ImageFamily read = classify(bytes);
    if (read != family) {
        error = "header " + headerText(header) + " does not make a family-" +
                std::string(1, letter(family)) + " image (it reads as family " +
                std::string(1, letter(read)) + ")";
        return std::nullopt;
    }
    return bytes;
}

} // namespace tessell::image
