#pragma once

// The frame sources of the process's cameras: test pictures for a simulated
// station; real cameras have no capture backend yet, so no pictures.

#include "preview/frame_source.h"

#include <memory>

namespace tessell {

std::unique_ptr<preview::FrameSources> processFrameSources();

} // namespace tessell
