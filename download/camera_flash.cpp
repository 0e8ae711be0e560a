#include "download/camera_flash.h"

#include "common/text_format.h"
#include "common/trace.h"
#include "download/flash_access.h"

#include <array>
#include <cstdio>

namespace tessell {

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
    const chip::Family& family = chip::family(camera);
    if (family.strings == chip::StringBlocks::Sector)
        return family.stringSector;
    // The image rule, fed with the flash a word at a time.
    return image::imageStringBlockOffset(
        [&link](std::size_t at) { return readFlashWord(link, static_cast<std::uint32_t>(at)); },
        camera);
}

std::optional<std::uint16_t> cameraTypeNumber(CameraLink& link, IcType camera) {
    const chip::Family& family = chip::family(camera);
    if (family.typeNumber != chip::TypeNumberPlace::InSector)
        return image::cameraTypeNumber(
            [&link](std::size_t at) { return readFlashWord(link, static_cast<std::uint32_t>(at)); },
            camera);
    // A word inside a sector: the sector is read whole, with the identified
    // flash part, like any other flash range.
    const std::uint32_t sector = family.typeNumberAt & ~0xFFFu;
    FlashCode code = flash::kUnknown;
    link.IdentifyFlash(code);
    std::vector<std::uint8_t> flash(kFlashWindow, 0xFF);
    if (!read_range(link, flash, code, sector, sector + 0x1000)) {
        trace::writef("Type number: flash 0x%04X..0x%04X could not be read.",
                      static_cast<unsigned>(sector), static_cast<unsigned>(sector + 0xFFF));
        return std::nullopt;
    }
    return image::cameraTypeNumber(
        [&flash](std::size_t at) -> std::optional<std::uint16_t> {
            return image::bigEndian16(flash, at);
        },
        camera);
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
