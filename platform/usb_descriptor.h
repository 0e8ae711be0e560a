#pragma once

// Codes of the USB and USB Video Class descriptors, and the device descriptor
// of a camera: the tool reads them from the system, writes them into
// firmware images, and the emulated camera presents them to a USB host.

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessell::usb {

// bDescriptorType
constexpr std::uint8_t kDescriptorDevice = 0x01;
constexpr std::uint8_t kDescriptorConfiguration = 0x02;
constexpr std::uint8_t kDescriptorString = 0x03;
constexpr std::uint8_t kDescriptorInterface = 0x04;
constexpr std::uint8_t kDescriptorEndpoint = 0x05;
constexpr std::uint8_t kDescriptorInterfaceAssociation = 0x0B;
constexpr std::uint8_t kDescriptorClassInterface = 0x24;

// A camera with video and audio functions is a composite device: class
// miscellaneous, subclass common, protocol interface association.
constexpr std::uint8_t kClassMiscellaneous = 0xEF;
constexpr std::uint8_t kSubclassCommon = 0x02;
constexpr std::uint8_t kProtocolInterfaceAssociation = 0x01;

constexpr std::uint8_t kClassVideo = 0x0E;
constexpr std::uint8_t kSubclassVideoControl = 0x01;
constexpr std::uint8_t kSubclassVideoStreaming = 0x02;
constexpr std::uint8_t kSubclassVideoInterfaceCollection = 0x03;

// bDescriptorSubtype of the VideoControl class-specific descriptors.
constexpr std::uint8_t kVideoControlHeader = 0x01;
constexpr std::uint8_t kVideoControlInputTerminal = 0x02;
constexpr std::uint8_t kVideoControlOutputTerminal = 0x03;
constexpr std::uint8_t kVideoControlProcessingUnit = 0x05;
constexpr std::uint8_t kVideoControlExtensionUnit = 0x06;

constexpr std::size_t kDeviceDescriptorLength = 18;

struct DeviceDescriptorFields {
    std::uint16_t bcdUsb = 0x0200;
    std::uint8_t maxPacketSize0 = 64;
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t bcdDevice = 0;
    // String indices; 0: no such string.
    std::uint8_t manufacturer = 0;
    std::uint8_t product = 0;
    std::uint8_t serialNumber = 0;
    std::uint8_t configurations = 1;
};

// The device descriptor of a composite camera, little-endian as on the wire.
constexpr std::array<std::uint8_t, kDeviceDescriptorLength>
compositeDeviceDescriptor(const DeviceDescriptorFields& f) {
    const auto low = [](std::uint16_t v) { return static_cast<std::uint8_t>(v); };
    const auto high = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    return {static_cast<std::uint8_t>(kDeviceDescriptorLength),
            kDescriptorDevice,
            low(f.bcdUsb),
            high(f.bcdUsb),
            kClassMiscellaneous,
            kSubclassCommon,
            kProtocolInterfaceAssociation,
            f.maxPacketSize0,
            low(f.vid),
            high(f.vid),
            low(f.pid),
            high(f.pid),
            low(f.bcdDevice),
            high(f.bcdDevice),
            f.manufacturer,
            f.product,
            f.serialNumber,
            f.configurations};
}

} // namespace tessell::usb
