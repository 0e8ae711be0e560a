#pragma once

// Whether an image fits a camera: the one rule every tool asks before it
// writes a camera's flash. The single-camera tool asks the operator when an
// image does not fit; the multi-camera station, with no one to ask, leaves
// that camera out and says why. A camera given firmware laid out for another
// chip family does not boot.

#include "device/ic_type.h"
#include "download/firmware_image.h"

#include <string>
#include <string_view>

namespace tessell {

// False for bytes that are no image of any layout, and for an image whose
// layout and header bytes tie it to another chip family than `camera`'s (the
// layout table in firmware_image.cpp says which). Every other image fits
// every camera.
bool imageFitsChip(const FirmwareImage& image, IcType camera);

// The chip as an operator reads it in a log: its name, or its family letter
// for the families without one.
std::string chipText(IcType camera);

// The log line of a camera left out because `file` does not fit its chip.
std::string imageNotForChipText(std::string_view file, IcType camera);

} // namespace tessell
