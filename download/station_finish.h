#pragma once

// The end of a burn of many cameras at once: the downloads there leave their
// cameras in download mode, and the station takes them all out together.

#include "common/clock.h"
#include "device/camera_link.h"
#include "platform/usb_location.h"

#include <memory>
#include <vector>

namespace tessell {

// Between leaving download mode and the soft reset of 'j' and 'k' cameras.
inline constexpr Clock::Duration kFinishResetPause = std::chrono::milliseconds(500);
// A camera reset at the end of a burn is back on its port within this.
inline constexpr Clock::Duration kFinishComeBack = std::chrono::seconds(15);

// Whether a chip family is soft-reset after it has left download mode.
bool resetAfterStationFinish(IcType type);

// Every camera (downloaded or not; empty entries are passed over) gets the
// write that leaves download mode, sent once more when it fails; the 'j' and
// 'k' cameras are then soft-reset after one common pause, and the call waits
// (bounded by kFinishComeBack) until they are back on their ports, so that
// their leaving and coming back are not taken for an operator's.
void finishStationCameras(std::vector<std::unique_ptr<CameraLink>>& cameras,
                          platform::UsbLocation& usb);

} // namespace tessell
