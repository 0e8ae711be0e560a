#pragma once

// The pictures of this machine's real cameras, for the preview. Each backend
// that captures provides them; positions are those of the video-input list
// of hostCameraServices.

#include "platform/frame_source.h"

#include <memory>

namespace tessell::platform {

std::unique_ptr<preview::FrameSources> hostFrameSources();

} // namespace tessell::platform
