#include "tools/usbcam/video_stream.h"

#include <algorithm>
#include <array>

namespace tessell::usbcam {

namespace {

using namespace std::chrono_literals;

// Tool time of one frame: the descriptors' interval is in 100 ns units.
constexpr Clock::Duration kFramePeriod = std::chrono::nanoseconds(kFrameInterval100ns * 100);

struct Yuv {
    std::uint8_t y, u, v;
};

// The eight bars of a test pattern, studio range: white, yellow, cyan,
// green, magenta, red, blue, black.
constexpr std::array<Yuv, 8> kBars = {{{235, 128, 128},
                                       {210, 16, 146},
                                       {170, 166, 16},
                                       {145, 54, 34},
                                       {106, 202, 222},
                                       {81, 90, 240},
                                       {41, 240, 110},
                                       {16, 128, 128}}};

Bytes colourBars() {
    Bytes picture;
    picture.reserve(kFrameBytes);
    for (std::size_t row = 0; row < kFrameHeight; ++row)
        for (std::size_t x = 0; x < kFrameWidth; x += 2) {
            const Yuv& bar = kBars[x * kBars.size() / kFrameWidth];
            picture.insert(picture.end(), {bar.y, bar.u, bar.y, bar.v});
        }
    return picture;
}

} // namespace

VideoStream::VideoStream() : picture_(colourBars()) {}

void VideoStream::restart() {
    offset_ = 0;
    due_.reset();
}

std::optional<Clock::TimePoint> VideoStream::nextFrameAt() const {
    if (offset_ != 0)
        return std::nullopt;
    return due_;
}

std::optional<Bytes> VideoStream::nextPayload(std::size_t capacity) {
    const auto now = clock().now();
    if (offset_ == 0) {
        if (due_ && now < *due_)
            return std::nullopt;
        due_ = now + kFramePeriod;
        frameId_ = !frameId_;
    }
    const std::size_t room = std::min(capacity, kPayloadMax);
    const std::size_t count =
        room > kHeaderLength ? std::min(room - kHeaderLength, picture_.size() - offset_) : 0;
    std::uint8_t info = kHeaderEndOfHeader | (frameId_ ? kHeaderFrameId : 0);
    const bool last = offset_ + count == picture_.size();
    if (last)
        info |= kHeaderEndOfFrame;
    Bytes payload = {static_cast<std::uint8_t>(kHeaderLength), info};
    payload.insert(payload.end(), picture_.begin() + static_cast<std::ptrdiff_t>(offset_),
                   picture_.begin() + static_cast<std::ptrdiff_t>(offset_ + count));
    payload.resize(std::min(payload.size(), capacity));
    offset_ = last ? 0 : offset_ + count;
    return payload;
}

} // namespace tessell::usbcam
