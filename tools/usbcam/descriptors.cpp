#include "tools/usbcam/descriptors.h"

#include "common/little_endian.h"
#include "common/utf16_text.h"
#include "platform/usb_descriptor.h"

#include <algorithm>
#include <bit>

namespace tessell::usbcam {

namespace {

// VideoStreaming descriptor subtypes.
constexpr std::uint8_t kVsInputHeader = 0x01;
constexpr std::uint8_t kVsFormatUncompressed = 0x04;
constexpr std::uint8_t kVsFrameUncompressed = 0x05;
constexpr std::uint8_t kVsColorFormat = 0x0D;

constexpr std::uint16_t kTerminalCamera = 0x0201;
constexpr std::uint16_t kTerminalStreaming = 0x0101;
constexpr std::uint16_t kUvcVersion = 0x0110;
constexpr std::uint32_t kClockFrequency = 48'000'000;

// YUY2 in GUID wire order.
constexpr std::uint8_t kFormatYuy2[16] = {'Y',  'U',  'Y',  '2',  0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// A string descriptor holds at most 126 UTF-16 code units.
constexpr std::size_t kStringUnitsMax = 126;

// Starts a descriptor; finish() writes its length once its fields are in.
std::size_t begin(Bytes& out, std::uint8_t type) {
    const std::size_t start = out.size();
    out.push_back(0);
    out.push_back(type);
    return start;
}

void finish(Bytes& out, std::size_t start) {
    out[start] = static_cast<std::uint8_t>(out.size() - start);
}

void putTotal(Bytes& out, std::size_t at, std::size_t total) {
    out[at] = static_cast<std::uint8_t>(total);
    out[at + 1] = static_cast<std::uint8_t>(total >> 8);
}

void interfaceDescriptor(Bytes& out, std::uint8_t number, std::uint8_t endpoints,
                         std::uint8_t subclass) {
    const auto d = begin(out, usb::kDescriptorInterface);
    out.insert(out.end(), {number, 0, endpoints, usb::kClassVideo, subclass, 0, 0});
    finish(out, d);
}

Bytes videoControlEntities(const CameraLayout& layout) {
    Bytes out;
    // Camera terminal and processing unit announce no controls: the driver
    // then asks them nothing.
    auto d = begin(out, usb::kDescriptorClassInterface);
    out.insert(out.end(), {usb::kVideoControlInputTerminal, kCameraTerminalId});
    le::append16(out, kTerminalCamera);
    out.insert(out.end(), {0, 0}); // bAssocTerminal, iTerminal
    le::append16(out, 0);          // wObjectiveFocalLengthMin
    le::append16(out, 0);          // wObjectiveFocalLengthMax
    le::append16(out, 0);          // wOcularFocalLength
    out.insert(out.end(), {3, 0, 0, 0});
    finish(out, d);

    d = begin(out, usb::kDescriptorClassInterface);
    out.insert(out.end(), {usb::kVideoControlProcessingUnit, kProcessingUnitId, kCameraTerminalId});
    le::append16(out, 0);                // wMaxMultiplier
    out.insert(out.end(), {2, 0, 0, 0}); // bControlSize, bmControls, iProcessing
    out.push_back(0);                    // bmVideoStandards
    finish(out, d);

    std::uint8_t lastEntity = kProcessingUnitId;
    if (const auto& unit = layout.extensionUnit) {
        d = begin(out, usb::kDescriptorClassInterface);
        out.insert(out.end(), {usb::kVideoControlExtensionUnit, kExtensionUnitId});
        out.insert(out.end(), unit->guid.bytes.begin(), unit->guid.bytes.end());
        const Bytes controls = controlBitmap(unit->selectors);
        std::size_t announced = 0;
        for (std::uint8_t byte : controls)
            announced += static_cast<std::size_t>(std::popcount(byte));
        out.push_back(static_cast<std::uint8_t>(announced)); // bNumControls
        out.insert(out.end(), {1, kProcessingUnitId});       // one source
        out.push_back(static_cast<std::uint8_t>(controls.size()));
        out.insert(out.end(), controls.begin(), controls.end());
        out.push_back(0); // iExtension
        finish(out, d);
        lastEntity = kExtensionUnitId;
    }

    d = begin(out, usb::kDescriptorClassInterface);
    out.insert(out.end(), {usb::kVideoControlOutputTerminal, kOutputTerminalId});
    le::append16(out, kTerminalStreaming);
    out.insert(out.end(), {0, lastEntity, 0});
    finish(out, d);
    return out;
}

void videoControlInterface(Bytes& out, const CameraLayout& layout) {
    interfaceDescriptor(out, kControlInterface, 0, usb::kSubclassVideoControl);
    const Bytes entities = videoControlEntities(layout);
    const auto header = begin(out, usb::kDescriptorClassInterface);
    out.push_back(usb::kVideoControlHeader);
    le::append16(out, kUvcVersion);
    const std::size_t total = out.size();
    le::append16(out, 0);
    le::append32(out, kClockFrequency);
    out.insert(out.end(), {1, kStreamingInterface}); // the collection
    finish(out, header);
    putTotal(out, total, out[header] + entities.size());
    out.insert(out.end(), entities.begin(), entities.end());
}

void videoStreamingInterface(Bytes& out) {
    interfaceDescriptor(out, kStreamingInterface, 1, usb::kSubclassVideoStreaming);
    const std::size_t classStart = out.size();
    auto d = begin(out, usb::kDescriptorClassInterface);
    out.insert(out.end(), {kVsInputHeader, 1}); // one format
    const std::size_t total = out.size();
    le::append16(out, 0);
    // Endpoint, bmInfo, terminal link, still capture, trigger support and
    // usage, control size, the format's controls.
    out.insert(out.end(), {kStreamEndpoint, 0, kOutputTerminalId, 0, 0, 0, 1, 0});
    finish(out, d);

    d = begin(out, usb::kDescriptorClassInterface);
    out.insert(out.end(), {kVsFormatUncompressed, 1, 1});
    out.insert(out.end(), std::begin(kFormatYuy2), std::end(kFormatYuy2));
    // Bits per pixel, default frame, aspect ratio, interlacing, copy protection.
    out.insert(out.end(), {16, 1, 0, 0, 0, 0});
    finish(out, d);

    d = begin(out, usb::kDescriptorClassInterface);
    out.insert(out.end(), {kVsFrameUncompressed, 1, 0});
    le::append16(out, kFrameWidth);
    le::append16(out, kFrameHeight);
    const std::uint32_t bitRate = kFrameBytes * 8 * (10'000'000 / kFrameInterval100ns);
    le::append32(out, bitRate);
    le::append32(out, bitRate);
    le::append32(out, kFrameBytes);
    le::append32(out, kFrameInterval100ns);
    out.push_back(1); // one discrete interval
    le::append32(out, kFrameInterval100ns);
    finish(out, d);

    d = begin(out, usb::kDescriptorClassInterface);
    out.insert(out.end(), {kVsColorFormat, 1, 1, 4}); // BT.709, BT.709, SMPTE 170M
    finish(out, d);
    putTotal(out, total, out.size() - classStart);

    d = begin(out, usb::kDescriptorEndpoint);
    out.insert(out.end(), {kStreamEndpoint, 0x02}); // bulk
    le::append16(out, kStreamPacketSize);
    out.push_back(0);
    finish(out, d);
}

} // namespace

Bytes controlBitmap(const std::vector<std::uint32_t>& selectors) {
    Bytes bitmap(1, 0);
    for (std::uint32_t selector : selectors) {
        if (selector == 0 || selector > 0xFF)
            continue; // no bit stands for it
        const std::size_t bit = selector - 1;
        if (bitmap.size() <= bit / 8)
            bitmap.resize(bit / 8 + 1, 0);
        bitmap[bit / 8] |= static_cast<std::uint8_t>(1u << bit % 8);
    }
    return bitmap;
}

Bytes deviceDescriptor(const CameraLayout& layout) {
    usb::DeviceDescriptorFields fields;
    fields.maxPacketSize0 = static_cast<std::uint8_t>(kControlPacketSize);
    fields.vid = layout.vid;
    fields.pid = layout.pid;
    fields.bcdDevice = layout.bcdDevice;
    fields.manufacturer = layout.manufacturer.empty() ? 0 : kManufacturerString;
    fields.product = layout.product.empty() ? 0 : kProductString;
    fields.serialNumber = layout.serial.empty() ? 0 : kSerialString;
    const auto descriptor = usb::compositeDeviceDescriptor(fields);
    return Bytes(descriptor.begin(), descriptor.end());
}

Bytes configurationDescriptor(const CameraLayout& layout) {
    Bytes out;
    const auto d = begin(out, usb::kDescriptorConfiguration);
    le::append16(out, 0); // wTotalLength, below
    // Two interfaces, this configuration's value, no string, bus powered, 500 mA.
    out.insert(out.end(), {2, kConfigurationValue, 0, 0x80, 250});
    finish(out, d);

    const auto association = begin(out, usb::kDescriptorInterfaceAssociation);
    out.insert(out.end(), {kControlInterface, 2, usb::kClassVideo,
                           usb::kSubclassVideoInterfaceCollection, 0, 0});
    finish(out, association);

    videoControlInterface(out, layout);
    videoStreamingInterface(out);
    putTotal(out, 2, out.size());
    return out;
}

std::optional<Bytes> stringDescriptor(const CameraLayout& layout, std::uint8_t index) {
    Bytes out;
    if (index == 0) {
        const auto d = begin(out, usb::kDescriptorString);
        le::append16(out, 0x0409); // English (United States)
        finish(out, d);
        return out;
    }
    const std::string* text = index == kManufacturerString ? &layout.manufacturer
                              : index == kProductString    ? &layout.product
                              : index == kSerialString     ? &layout.serial
                                                           : nullptr;
    if (!text || text->empty())
        return std::nullopt;
    std::u16string units = utf8ToUtf16(*text);
    if (units.size() > kStringUnitsMax) {
        units.resize(kStringUnitsMax);
        // Never end on the first half of a surrogate pair.
        if (units.back() >= 0xD800 && units.back() < 0xDC00)
            units.pop_back();
    }
    const auto d = begin(out, usb::kDescriptorString);
    for (char16_t unit : units)
        le::append16(out, unit);
    finish(out, d);
    return out;
}

} // namespace tessell::usbcam
