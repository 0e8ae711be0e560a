#include "download/image_fit.h"

namespace tessell {

bool imageFitsChip(const FirmwareImage& image, IcType camera) {
    // A file that cannot be firmware of any layout fits no chip.
    if (!image::fitsItsLayout(image.content()))
        return false;
    ImageFamily family = image.family();
    if (family == 'j' && image.length() == image::kBufferSize)
        family = 'i';
    const auto bytes = image.content();
    const bool header8916 = bytes.size() >= 2 && bytes[0] == 0x89 && bytes[1] == 0x16;
    const bool headerF9FF = bytes.size() >= 2 && bytes[0] == 0xF9 && bytes[1] == 0xFF;
    if (family == 'd' && camera != 'h')
        return false;
    if (family == 'f' && camera != 'k')
        return false;
    if (header8916 && ((family == 'e' && camera != 'i') || (family == 'g' && camera != 'j')))
        return false;
    if (headerF9FF && family == 'h' && camera != 'm')
        return false;
    return true;
}

std::string chipText(IcType camera) {
    const std::string_view name = chip::icTypeName(camera);
    return name.empty() ? std::string("family '") + camera + "'" : std::string(name);
}

std::string imageNotForChipText(std::string_view file, IcType camera) {
    return std::string(file) + " is not made for this camera's chip (" + chipText(camera) +
           "): not burned.";
}

} // namespace tessell
