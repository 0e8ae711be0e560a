#pragma once

// The preview's pictures from real cameras on Windows: a DirectShow graph
// from the capture filter through a sample grabber, asked for 32-bit RGB, to
// a null renderer. The grabber's callback keeps the newest picture; the
// window takes it from there.
//
// Every wait for a picture is bounded in tool time, so a camera that stops
// sending (unplugged, a broken cable, a firmware that hangs) ends a read as
// a failure instead of freezing the window. A picture buffer shorter than
// the format says is dropped, never read past.

#include "common/clock.h"
#include "platform/frame_source.h"
#include "platform/windows/com_apartment.h"
#include "platform/windows/com_ptr.h"

#include <chrono>
#include <condition_variable>
#include <dshow.h>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>
#include <windows.h>

namespace tessell::platform::windows {

// How long a stream may stay silent, in tool time; longer for the first
// picture, while the sensor and exposure settle.
constexpr Clock::Duration kFirstPictureLimit = std::chrono::seconds(4);
constexpr Clock::Duration kPictureGapLimit = std::chrono::seconds(2);

// An uncompressed 32-bit RGB picture as the grabber delivers it: rows of
// width * 4 bytes (blue, green, red, unused), bottom row first unless the
// format says otherwise.
struct PictureLayout {
    int width = 0;
    int height = 0;
    bool bottomUp = true;
};

// Copies one picture from `data` into `frame` (opaque, top row first);
// false, leaving `frame` as it was, when `data` holds less than the picture.
bool copyRgb32Picture(std::span<const std::uint8_t> data, const PictureLayout& layout,
                      preview::Frame& frame);

// The newest picture, handed from the grabber's streaming thread to the window.
struct PictureMailbox {
    std::mutex mutex;
    std::condition_variable arrived;
    PictureLayout layout;
    preview::Frame picture;
    bool fresh = false;
};

class DirectShowFrameSource final : public preview::FrameSource {
public:
    // Builds the graph for `capture`; null with `problem` set when the camera
    // cannot deliver RGB pictures.
    static std::unique_ptr<DirectShowFrameSource> build(ComPtr<IBaseFilter> capture,
                                                        std::string& problem);
    ~DirectShowFrameSource() override;
    DirectShowFrameSource(const DirectShowFrameSource&) = delete;
    DirectShowFrameSource& operator=(const DirectShowFrameSource&) = delete;

    bool start() override;
    bool stop() override;
    bool read(preview::Frame& frame) override;
    preview::FrameRead poll(preview::Frame& frame) override;
    std::string problem() const override { return problem_; }

private:
    DirectShowFrameSource() = default;
    preview::FrameRead next(preview::Frame& frame, bool wait);
    bool fail(std::string problem);

    MtaUsage mta_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<IUnknown> grabber_;  // ISampleGrabber
    ComPtr<IUnknown> callback_; // ISampleGrabberCB
    std::shared_ptr<PictureMailbox> mailbox_;
    bool running_ = false;
    bool pictured_ = false;
    Clock::TimePoint silentSince_{};
    std::string problem_;
};

// The video-input devices under their friendly names, in list order.
class DirectShowFrameSources final : public preview::FrameSources {
public:
    bool supported() const override { return true; }
    std::vector<std::optional<std::string>> enumerate() override;
    std::unique_ptr<preview::FrameSource> open(std::size_t position) override;
    std::vector<std::string> problems() const override { return problems_; }

private:
    MtaUsage mta_;
    std::vector<std::optional<std::string>> paths_; // of the last enumeration
    std::vector<std::string> problems_;
};

std::unique_ptr<preview::FrameSources> makeDirectShowFrameSources();

} // namespace tessell::platform::windows
