#include "app/download_checks.h"

#include "common/text_format.h"

namespace tessell {

bool imageRefusedForChip(const FirmwareImage& image, IcType camera) {
    // A file that cannot be firmware of any layout is not for this chip.
    if (!image::fitsItsLayout(image.content()))
        return true;
    ImageFamily family = image.family();
    if (family == 'j' && image.length() == image::kBufferSize)
        family = 'i';
    const auto bytes = image.buffer();
    const bool header8916 = bytes.size() >= 2 && bytes[0] == 0x89 && bytes[1] == 0x16;
    const bool headerF9FF = bytes.size() >= 2 && bytes[0] == 0xF9 && bytes[1] == 0xFF;
    if (family == 'd' && camera != 'h')
        return true;
    if (family == 'f' && camera != 'k')
        return true;
    if (header8916 && ((family == 'e' && camera != 'i') || (family == 'g' && camera != 'j')))
        return true;
    if (headerF9FF && family == 'h' && camera != 'm')
        return true;
    return false;
}

std::optional<std::string> pidVidMismatchText(std::uint16_t cameraVid, std::uint16_t cameraPid,
                                              const FirmwareImage& image) {
    const bool pidDiffers = cameraPid != image.pid();
    const bool vidDiffers = cameraVid != image.vid();
    if (!pidDiffers && !vidDiffers)
        return std::nullopt;
    std::string text = "Please check pid/vid !\r\n Device PID\t | Device VID\r\n";
    text += formatText(" 0x%04x \t\t | 0x%04x \r\n", cameraPid, cameraVid);
    text += "------------------------------------ \r\n File PID\t\t | File VID\r\n";
    if (pidDiffers && vidDiffers)
        text += formatText(" 0x%04x (x)\t | 0x%04x (x)", image.pid(), image.vid());
    else if (pidDiffers)
        text += formatText(" 0x%04x (x)\t | 0x%04x", image.pid(), image.vid());
    else
        text += formatText(" 0x%04x \t\t | 0x%04x (x)", image.pid(), image.vid());
    return text + "\r\n";
}

} // namespace tessell
