#pragma once

// The preview's pictures from real cameras: the capture nodes of the
// video-input list, in that list's order and under its names, streamed as
// uncompressed YUYV through memory-mapped buffers.
//
// Every wait for a picture is bounded in tool time, so a camera that stops
// sending (unplugged, a broken cable, a firmware that hangs) ends a read as a
// failure instead of freezing the window or a script. Whatever the driver
// hands back (sizes, buffer indexes, byte counts) is checked before use.

#include "common/clock.h"
#include "platform/capture_devices.h"
#include "platform/frame_source.h"
#include "platform/linux/linux_cameras.h"
#include "platform/linux/v4l2_stream.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tessell::platform {

// The largest picture the preview asks for: its window's size.
constexpr std::uint32_t kPreviewMaxWidth = 1280;
constexpr std::uint32_t kPreviewMaxHeight = 720;
constexpr std::uint32_t kPreviewBuffers = 4;
// How long a stream may stay silent, in tool time. A camera gets longer for
// its first picture: its sensor and exposure settle after the stream starts.
constexpr Clock::Duration kFirstPictureLimit = std::chrono::seconds(4);
constexpr Clock::Duration kPictureGapLimit = std::chrono::seconds(2);

// "MJPG"; printable characters only.
std::string pixelFormatName(std::uint32_t pixelFormat);

// Why a camera offering `formats` cannot be previewed; empty when it offers YUYV.
std::string missingYuyvProblem(const std::vector<std::uint32_t>& formats);

// The YUYV format to ask for: the largest of `sizes` (by area, then width)
// within 1280 x 720, else the smallest offered, else 1280 x 720 for the
// driver to fit when it lists no sizes.
StreamFormat chooseYuyvFormat(const std::vector<FrameSizeRange>& sizes);

// What is wrong with the format the driver set; empty when it can be shown.
std::string streamFormatProblem(const StreamFormat& format);

class V4l2FrameSource final : public preview::FrameSource {
public:
    explicit V4l2FrameSource(std::unique_ptr<V4l2StreamNode> node);
    ~V4l2FrameSource() override;
    V4l2FrameSource(const V4l2FrameSource&) = delete;
    V4l2FrameSource& operator=(const V4l2FrameSource&) = delete;

    bool start() override;
    bool stop() override;
    bool read(preview::Frame& frame) override;
    preview::FrameRead poll(preview::Frame& frame) override;
    std::string problem() const override { return problem_; }

    // The format the stream runs with, once started.
    const StreamFormat& format() const { return format_; }

private:
    enum class Taken { Picture, Skipped, Broken };

    bool fail(std::string problem);
    bool failStart(const char* step, int error);
    bool breakOff(const char* step, int error);
    Taken take(const FilledBuffer& filled, preview::Frame& frame);
    // A picture, waiting for it up to the silence limit when `wait` is set.
    preview::FrameRead next(preview::Frame& frame, bool wait);
    void releaseStream();

    std::unique_ptr<V4l2StreamNode> node_;
    StreamFormat format_;
    bool mapped_ = false;
    bool streaming_ = false;
    bool broken_ = false;   // the node failed in a way no retry mends
    bool pictured_ = false; // a picture came since the start
    Clock::TimePoint silentSince_{};
    std::string refusal_; // why the last picture was not shown
    std::string problem_;
};

class V4l2FrameSources final : public preview::FrameSources {
public:
    V4l2FrameSources(LinuxCameras& cameras, std::unique_ptr<V4l2StreamOpener> opener);

    bool supported() const override { return true; }
    std::vector<std::optional<std::string>> enumerate() override;
    std::unique_ptr<preview::FrameSource> open(std::size_t position) override;
    std::vector<std::string> problems() const override { return problems_; }

private:
    LinuxCameras& cameras_;
    std::unique_ptr<V4l2StreamOpener> opener_;
    std::vector<DeviceEntry> entries_; // of the last enumeration
    std::vector<std::string> problems_;
};

} // namespace tessell::platform
