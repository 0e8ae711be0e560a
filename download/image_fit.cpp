#include "download/image_fit.h"

namespace tessell {

bool imageFitsChip(const FirmwareImage& image, IcType camera) {
    // A file that cannot be firmware of any layout fits no chip.
    if (!image::fitsItsLayout(image.content()))
        return false;
    const auto expected = image::expectedCamera(image.family());
    return !expected || *expected == camera ||
           !image::bindsToExpectedCamera(image.content(), image.family());
}

std::string chipText(IcType camera) {
    const std::string_view name = chip::icTypeName(camera);
    return name.empty() ? std::string("family '") + chip::letter(camera) + "'" : std::string(name);
}

std::string imageNotForChipText(std::string_view file, IcType camera) {
    return std::string(file) + " is not made for this camera's chip (" + chipText(camera) +
           "): not burned.";
}

} // namespace tessell
