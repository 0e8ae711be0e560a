#pragma once

// The frame sources of the process's cameras: test pictures for a simulated
// station, else the pictures of the machine's real cameras.

#include "platform/frame_source.h"

#include <memory>

namespace tessell {

// With TESSELL_SIM set no real camera is touched, even when the station
// cannot be loaded: there is nothing to show then.
std::unique_ptr<preview::FrameSources> processFrameSources();

} // namespace tessell
