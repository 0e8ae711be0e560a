#include "download/camera_flash.h"

#include "common/text_format.h"
#include "common/trace.h"
#include "download/flash_access.h"

#include <array>
#include <cstdio>

namespace tessell {

namespace {

// The older chips keep their type number at a fixed place inside a 4 KiB
// sector, read whole like any other flash range.
std::optional<std::uint16_t> typeNumberInSector(CameraLink& link, std::uint32_t sector,
                                                std::uint32_t word) {
    FlashCode code = flash::kUnknown;
    link.IdentifyFlash(code);
    std::vector<std::uint8_t> flash(kFlashWindow, 0xFF);
    if (!read_range(link, flash, code, sector, sector + 0x1000)) {
        trace::writef("Type number: flash 0x%04X..0x%04X could not be read.",
                      static_cast<unsigned>(sector), static_cast<unsigned>(sector + 0xFFF));
        return std::nullopt;
    }
    return image::bigEndian16(flash, word);
}

} // namespace

std::optional<std::uint16_t> readFlashWord(CameraLink& link, std::uint32_t address) {
    CameraDevice* device = link.device();
    if (!device || address + 2 > kFlashWindow)
        return std::nullopt;
    std::array<std::uint8_t, 2> bytes{};
    if (device->ReadBlock64(static_cast<std::uint16_t>(address), bytes.size(), bytes) !=
        status::kOk)
        return std::nullopt;
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::optional<std::size_t> cameraStringBlockOffset(CameraLink& link, IcType camera) {
    if (camera == 'h' || camera == 'i')
        return 0xE000;
    const auto field = image::stringPointerField(camera);
    if (!field)
        return std::nullopt;
    const auto pointerField = static_cast<std::uint32_t>(*field);
    const auto signature = readFlashWord(link, 0);
    if (!signature || (*signature >> 8) != 0x89 || (*signature & 0xFF) < 0x10 ||
        (*signature & 0xFF) > 0x2F)
        return std::nullopt;
    const auto h = readFlashWord(link, 4);
    if (!h)
        return std::nullopt;
    const auto p = readFlashWord(link, std::uint32_t{*h} + pointerField);
    if (!p || *p == 0xFFFF)
        return std::nullopt;
    return std::size_t{*p} + 0x1000;
}

std::optional<std::uint16_t> cameraTypeNumber(CameraLink& link, IcType camera) {
    switch (camera) {
    case 'j':
    case 'k': {
        const auto h = readFlashWord(link, 4);
        if (!h || *h < 2)
            return std::nullopt;
        return readFlashWord(link, *h - 2u);
    }
    case 'h':
        return typeNumberInSector(link, 0x3000, 0x3FF8);
    case 'i':
        return typeNumberInSector(link, 0x4000, 0x4FF8);
    default:
        return std::nullopt;
    }
}

CameraIdentityDisplay cameraIdentityDisplay(CameraLink& link, IcType camera, std::uint16_t vid,
                                            std::uint16_t pid, std::uint16_t bcdDevice,
                                            bool showFirmwareVersion) {
    CameraIdentityDisplay display;
    display.vid = vid;
    display.pid = pid;
    display.bcdDevice = bcdDevice;
    display.bcdDeviceText = hex4(bcdDevice);
    display.productIdText = hex4(pid);
    display.vendorIdText = hex4(vid);
    display.log.push_back(
        {"(Camera) Current bcdDevice version = " + display.bcdDeviceText + "\r\n"});
    if (const auto typeNumber = cameraTypeNumber(link, camera))
        display.typeNumberText = image::formatTypeNumber(*typeNumber);
    if (showFirmwareVersion)
        display.log.push_back({"(Camera) Type Number = " + display.typeNumberText + "\r\n"});
    return display;
}

} // namespace tessell
