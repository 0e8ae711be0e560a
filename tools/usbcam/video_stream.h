#pragma once

// The camera's video: colour bars in YUYV, cut into bulk payloads, each with
// the two-byte payload header (frame id toggling per frame, end of frame on
// the last payload). Frames come at the advertised rate of the process
// clock, so a streaming guest does not spin the emulator.

#include "common/clock.h"
#include "tools/usbcam/descriptors.h"

#include <cstddef>
#include <optional>

namespace tessell::usbcam {

class VideoStream {
public:
    // Largest payload: dwMaxPayloadTransferSize of the streaming parameters.
    static constexpr std::size_t kPayloadMax = 16384;
    static constexpr std::size_t kHeaderLength = 2;
    static constexpr std::uint8_t kHeaderFrameId = 0x01;
    static constexpr std::uint8_t kHeaderEndOfFrame = 0x02;
    static constexpr std::uint8_t kHeaderEndOfHeader = 0x80;

    VideoStream();

    // The stream was committed, started or stopped: the next payload begins
    // a frame, at once.
    void restart();

    // The next payload for a bulk transfer of up to `capacity` bytes; none
    // while the next frame is not due yet.
    std::optional<Bytes> nextPayload(std::size_t capacity);
    // When the next frame is due; none while a frame is under way.
    std::optional<Clock::TimePoint> nextFrameAt() const;

    // The picture every frame carries.
    const Bytes& picture() const { return picture_; }

private:
    Bytes picture_;
    std::size_t offset_ = 0; // sent of the current frame; 0 between frames
    bool frameId_ = false;
    std::optional<Clock::TimePoint> due_; // none: due now
};

} // namespace tessell::usbcam
