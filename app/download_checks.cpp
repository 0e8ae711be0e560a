#include "app/download_checks.h"

#include "common/text_format.h"

namespace tessell {

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
