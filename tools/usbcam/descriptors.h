#pragma once

// The USB descriptors of an emulated camera: one configuration with an
// interface association of a UVC 1.1 VideoControl interface (camera
// terminal, processing unit, the Extension Unit, output terminal) and a
// VideoStreaming interface with one uncompressed YUYV format on a bulk
// endpoint. Bulk keeps isochronous timing out of the emulation; the driver
// binds either.

#include "platform/guid.h"
#include "platform/usb_descriptor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessell::usbcam {

using Bytes = std::vector<std::uint8_t>;

// Interface numbers, entity ids and the streaming endpoint.
constexpr std::uint8_t kConfigurationValue = 1;
constexpr std::uint8_t kControlInterface = 0;
constexpr std::uint8_t kStreamingInterface = 1;
constexpr std::uint8_t kCameraTerminalId = 1;
constexpr std::uint8_t kProcessingUnitId = 2;
constexpr std::uint8_t kExtensionUnitId = 3;
constexpr std::uint8_t kOutputTerminalId = 4;
constexpr std::uint8_t kStreamEndpoint = 0x81;
constexpr std::uint16_t kStreamPacketSize = 512; // high-speed bulk
constexpr std::uint16_t kControlPacketSize = 64;

// The one video mode: YUYV, 160 x 120, 10 frames a second.
constexpr std::uint16_t kFrameWidth = 160;
constexpr std::uint16_t kFrameHeight = 120;
constexpr std::uint32_t kFrameBytes = std::uint32_t{kFrameWidth} * kFrameHeight * 2;
constexpr std::uint32_t kFrameInterval100ns = 1'000'000;

// String descriptor indexes; a string that is empty has none.
constexpr std::uint8_t kManufacturerString = 1;
constexpr std::uint8_t kProductString = 2;
constexpr std::uint8_t kSerialString = 3;

struct ExtensionUnitLayout {
    Guid guid;                            // guidExtensionCode
    std::vector<std::uint32_t> selectors; // announced in bmControls
};

// What differs from one camera to the next.
struct CameraLayout {
    std::uint16_t vid = 0, pid = 0, bcdDevice = 0;
    std::string manufacturer, product, serial;        // UTF-8
    std::optional<ExtensionUnitLayout> extensionUnit; // none: no Extension Unit at all
};

Bytes deviceDescriptor(const CameraLayout& layout);
// The whole configuration: configuration descriptor and everything under it.
Bytes configurationDescriptor(const CameraLayout& layout);
// String `index` (0: the language list); none for an index without a string.
std::optional<Bytes> stringDescriptor(const CameraLayout& layout, std::uint8_t index);

// bmControls of a unit announcing `selectors` (bit selector - 1), at least one byte.
Bytes controlBitmap(const std::vector<std::uint32_t>& selectors);

} // namespace tessell::usbcam
