#include "platform/linux/v4l2_frame_source.h"

#include "platform/yuyv.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace tessell::platform {

namespace {

using preview::Frame;

// A poll is cut into slices so that a changed time scale is taken up soon.
constexpr Clock::Duration kWaitSlice = std::chrono::milliseconds(200);

bool cameraGone(int error) {
    return error == ENODEV || error == ENXIO || error == ESHUTDOWN;
}

std::string seconds(Clock::Duration duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s",
                  std::chrono::duration_cast<std::chrono::duration<double>>(duration).count());
    return text;
}

// The largest value of min + k * step that is at most `limit`; none when
// even the smallest is larger.
std::optional<std::uint32_t> largestWithin(std::uint32_t min, std::uint32_t max, std::uint32_t step,
                                           std::uint32_t limit) {
    if (min == 0 || min > limit || min > max)
        return std::nullopt;
    const std::uint32_t top = std::min(max, limit);
    const std::uint32_t stride = std::max<std::uint32_t>(step, 1);
    return min + (top - min) / stride * stride;
}

std::uint64_t area(std::uint32_t width, std::uint32_t height) {
    return std::uint64_t{width} * height;
}

} // namespace

std::string pixelFormatName(std::uint32_t pixelFormat) {
    std::string name;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>((pixelFormat >> shift) & 0xFF);
        name += c >= 0x20 && c < 0x7F ? c : '?';
    }
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}

std::string missingYuyvProblem(const std::vector<std::uint32_t>& formats) {
    if (std::find(formats.begin(), formats.end(), kPixelFormatYuyv) != formats.end())
        return {};
    if (formats.empty())
        return "the camera offers no picture format";
    std::string offered;
    for (const std::uint32_t format : formats)
        offered += (offered.empty() ? "" : ", ") + pixelFormatName(format);
    return "the camera offers no uncompressed YUYV picture (only " + offered +
           "), and the preview shows YUYV only";
}

StreamFormat chooseYuyvFormat(const std::vector<FrameSizeRange>& sizes) {
    StreamFormat chosen{kPixelFormatYuyv, 0, 0, 0, 0};
    StreamFormat smallest = chosen;
    for (const FrameSizeRange& size : sizes) {
        if (size.minWidth == 0 || size.minHeight == 0)
            continue;
        if (smallest.width == 0 ||
            area(size.minWidth, size.minHeight) < area(smallest.width, smallest.height)) {
            smallest.width = size.minWidth;
            smallest.height = size.minHeight;
        }
        const auto width =
            largestWithin(size.minWidth, size.maxWidth, size.stepWidth, kPreviewMaxWidth);
        const auto height =
            largestWithin(size.minHeight, size.maxHeight, size.stepHeight, kPreviewMaxHeight);
        if (!width || !height)
            continue;
        const auto better =
            area(*width, *height) > area(chosen.width, chosen.height) ||
            (area(*width, *height) == area(chosen.width, chosen.height) && *width > chosen.width);
        if (better) {
            chosen.width = *width;
            chosen.height = *height;
        }
    }
    if (chosen.width != 0)
        return chosen;
    if (smallest.width != 0)
        return smallest;
    // The driver fits what it is asked for to what it has.
    chosen.width = kPreviewMaxWidth;
    chosen.height = kPreviewMaxHeight;
    return chosen;
}

std::string streamFormatProblem(const StreamFormat& format) {
    if (format.pixelFormat != kPixelFormatYuyv)
        return "the driver set " + pixelFormatName(format.pixelFormat) + " instead of YUYV";
    if (format.width > static_cast<std::uint32_t>(preview::kMaxPictureSide) ||
        format.height > static_cast<std::uint32_t>(preview::kMaxPictureSide) ||
        !preview::yuyvPictureBytes(static_cast<int>(format.width), static_cast<int>(format.height),
                                   format.bytesPerLine))
        return "the driver set a picture of " + std::to_string(format.width) + " x " +
               std::to_string(format.height) + " with rows " + std::to_string(format.bytesPerLine) +
               " bytes apart, which cannot be shown";
    return {};
}

// --- V4l2FrameSource -----------------------------------------------------------------

V4l2FrameSource::V4l2FrameSource(std::unique_ptr<V4l2StreamNode> node) : node_(std::move(node)) {}

V4l2FrameSource::~V4l2FrameSource() {
    stop();
}

bool V4l2FrameSource::fail(std::string problem) {
    problem_ = std::move(problem);
    return false;
}

bool V4l2FrameSource::failStart(const char* step, int error) {
    releaseStream();
    if (error == EBUSY)
        return fail("another program is using the camera's picture (a viewer or a video call); "
                    "close it and try again");
    if (cameraGone(error))
        return fail("the camera has left the bus");
    return fail(std::string(step) + ": " + std::generic_category().message(error));
}

bool V4l2FrameSource::breakOff(const char* step, int error) {
    broken_ = true;
    if (cameraGone(error))
        return fail("the camera has left the bus");
    return fail(std::string(step) + ": " + std::generic_category().message(error) +
                " (has the camera left the bus?)");
}

void V4l2FrameSource::releaseStream() {
    if (streaming_)
        node_->streamOff();
    streaming_ = false;
    // Also gives the stream up when only the format was set: uvcvideo
    // reserves the camera for the handle that sets it.
    node_->releaseBuffers();
    mapped_ = false;
}

bool V4l2FrameSource::start() {
    if (streaming_)
        return true;
    problem_.clear();
    refusal_.clear();
    broken_ = false;
    pictured_ = false;

    std::vector<std::uint32_t> formats;
    if (const int error = node_->pixelFormats(formats); error != 0)
        return failStart("cannot read the camera's picture formats", error);
    if (auto missing = missingYuyvProblem(formats); !missing.empty())
        return fail(std::move(missing));
    std::vector<FrameSizeRange> sizes;
    if (const int error = node_->frameSizes(kPixelFormatYuyv, sizes); error != 0)
        return failStart("cannot read the camera's picture sizes", error);

    StreamFormat format = chooseYuyvFormat(sizes);
    if (const int error = node_->setFormat(format); error != 0)
        return failStart("cannot set the picture format", error);
    // A driver may leave the row spacing of a packed format to the reader.
    if (format.bytesPerLine == 0)
        format.bytesPerLine = static_cast<std::uint32_t>(preview::yuyvRowBytes(
            static_cast<int>(std::min<std::uint32_t>(format.width, preview::kMaxPictureSide))));
    if (auto wrong = streamFormatProblem(format); !wrong.empty()) {
        releaseStream();
        return fail(std::move(wrong));
    }

    if (const int error = node_->mapBuffers(kPreviewBuffers); error != 0)
        return failStart("cannot get picture buffers", error);
    mapped_ = true;
    for (std::size_t index = 0; index < node_->bufferCount(); ++index)
        if (const int error = node_->queueBuffer(static_cast<std::uint32_t>(index)); error != 0)
            return failStart("cannot queue a picture buffer", error);
    if (const int error = node_->streamOn(); error != 0)
        return failStart("cannot start the stream", error);
    streaming_ = true;
    format_ = format;
    silentSince_ = clock().now();
    return true;
}

bool V4l2FrameSource::stop() {
    if (!mapped_ && !streaming_)
        return true;
    const int error = streaming_ ? node_->streamOff() : 0;
    streaming_ = false;
    node_->releaseBuffers();
    mapped_ = false;
    broken_ = false;
    if (error != 0 && !cameraGone(error))
        return fail("cannot stop the stream: " + std::generic_category().message(error));
    return true;
}

V4l2FrameSource::Taken V4l2FrameSource::take(const FilledBuffer& filled, Frame& frame) {
    if (filled.index >= node_->bufferCount()) {
        // Not one of ours: it cannot be given back, and the queue is in doubt.
        broken_ = true;
        fail("the driver handed back buffer " + std::to_string(filled.index) + " of " +
             std::to_string(node_->bufferCount()));
        return Taken::Broken;
    }
    const std::span<const std::uint8_t> mapped = node_->buffer(filled.index);
    bool shown = false;
    if (filled.damaged) {
        refusal_ = "damaged pictures";
    } else if (filled.bytesUsed > mapped.size()) {
        refusal_ = "pictures of " + std::to_string(filled.bytesUsed) + " bytes in buffers of " +
                   std::to_string(mapped.size());
    } else if (!preview::convertYuyv(
                   mapped.first(filled.bytesUsed), static_cast<int>(format_.width),
                   static_cast<int>(format_.height), format_.bytesPerLine, frame)) {
        refusal_ = "short pictures (" + std::to_string(filled.bytesUsed) + " bytes for " +
                   std::to_string(format_.width) + " x " + std::to_string(format_.height) + ")";
    } else {
        shown = true;
    }
    if (const int error = node_->queueBuffer(filled.index); error != 0) {
        breakOff("cannot give a picture buffer back", error);
        return shown ? Taken::Picture : Taken::Broken;
    }
    return shown ? Taken::Picture : Taken::Skipped;
}

bool V4l2FrameSource::read(Frame& frame) {
    return next(frame, true) == preview::FrameRead::Picture;
}

preview::FrameRead V4l2FrameSource::poll(Frame& frame) {
    return next(frame, false);
}

preview::FrameRead V4l2FrameSource::next(Frame& frame, bool wait) {
    using preview::FrameRead;
    if (broken_)
        return FrameRead::Ended;
    if (!streaming_) {
        fail("the stream is not running");
        return FrameRead::Ended;
    }
    const Clock::Duration limit = pictured_ ? kPictureGapLimit : kFirstPictureLimit;
    const Clock::TimePoint end = silentSince_ + limit;
    for (;;) {
        FilledBuffer filled;
        const int error = node_->dequeueBuffer(filled);
        if (error == 0) {
            const Taken taken = take(filled, frame);
            if (taken == Taken::Broken)
                return FrameRead::Ended;
            if (taken == Taken::Picture) {
                pictured_ = true;
                silentSince_ = clock().now();
                return FrameRead::Picture;
            }
            // A refused picture is no sign of life: the bound still holds
            // for a camera that sends nothing else.
        } else if (error != EAGAIN) {
            breakOff("the stream broke off", error);
            return FrameRead::Ended;
        }
        const Clock::TimePoint now = clock().now();
        if (now >= end) {
            // Not broken: the window keeps asking, and a stream that comes
            // back is shown again.
            std::string text = "no picture from the camera for " + seconds(limit);
            if (!refusal_.empty())
                text += "; it sent only " + refusal_;
            fail(std::move(text));
            return FrameRead::Ended;
        }
        if (error == 0)
            continue; // another picture may be waiting
        if (!wait)
            return FrameRead::NotYet;
        const Clock::Duration slice = std::min<Clock::Duration>(end - now, kWaitSlice);
        if (const int waitError = node_->waitForBuffer(clock().realInterval(slice));
            waitError != 0) {
            breakOff("waiting for a picture failed", waitError);
            return FrameRead::Ended;
        }
    }
}

// --- V4l2FrameSources ----------------------------------------------------------------

V4l2FrameSources::V4l2FrameSources(LinuxCameras& cameras, std::unique_ptr<V4l2StreamOpener> opener)
    : cameras_(cameras), opener_(std::move(opener)) {}

std::vector<std::optional<std::string>> V4l2FrameSources::enumerate() {
    // The device list's own enumeration: position n here is camera n there.
    cameras_.list(DeviceListKind::VideoInput, entries_);
    problems_ = cameras_.listProblems();
    std::vector<std::optional<std::string>> names;
    for (const DeviceEntry& entry : entries_) {
        if (entry.friendlyName.empty())
            names.emplace_back(std::nullopt);
        else
            names.emplace_back(entry.friendlyName);
    }
    return names;
}

std::unique_ptr<preview::FrameSource> V4l2FrameSources::open(std::size_t position) {
    problems_.clear();
    if (position >= entries_.size())
        return nullptr;
    const DeviceEntry& entry = entries_[position];
    const auto file = cameras_.captureNodeFile(entry.devicePath);
    if (!file) {
        problems_.push_back(entry.friendlyName + " has left the bus");
        return nullptr;
    }
    int error = 0;
    auto node = opener_->open(*file, error);
    if (!node) {
        const std::string problem = nodeOpenProblem(*file, entry.friendlyName, error);
        problems_.push_back(problem.empty() ? entry.friendlyName + " has left the bus" : problem);
        return nullptr;
    }
    return std::make_unique<V4l2FrameSource>(std::move(node));
}

} // namespace tessell::platform
