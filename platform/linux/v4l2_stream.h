#pragma once

// The streaming requests of a V4L2 capture node, memory-mapped buffers
// only. Like V4l2Node this is the thin layer over the ioctls: the choice of
// format, the checks on what the driver hands back and the waiting live in
// V4l2FrameSource above it, where tests reach them without a camera.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace tessell::platform {

// Pixel formats by their four characters, as V4L2 numbers them.
constexpr std::uint32_t fourcc(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}
constexpr std::uint32_t kPixelFormatYuyv = fourcc('Y', 'U', 'Y', 'V');
constexpr std::uint32_t kPixelFormatMjpeg = fourcc('M', 'J', 'P', 'G');

// One answer of VIDIOC_ENUM_FRAMESIZES: a single size, or a range of sizes
// `step` apart (a continuous range has step 1).
struct FrameSizeRange {
    std::uint32_t minWidth = 0;
    std::uint32_t maxWidth = 0;
    std::uint32_t stepWidth = 1;
    std::uint32_t minHeight = 0;
    std::uint32_t maxHeight = 0;
    std::uint32_t stepHeight = 1;

    static FrameSizeRange discrete(std::uint32_t width, std::uint32_t height) {
        return {width, width, 1, height, height, 1};
    }
};

// The capture format asked for, and what the driver made of it.
struct StreamFormat {
    std::uint32_t pixelFormat = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bytesPerLine = 0;
    std::uint32_t imageSize = 0;
};

// A filled buffer as VIDIOC_DQBUF returns it.
struct FilledBuffer {
    std::uint32_t index = 0;
    std::uint32_t bytesUsed = 0;
    bool damaged = false; // V4L2_BUF_FLAG_ERROR: the driver lost part of the frame
};

class V4l2StreamNode {
public:
    virtual ~V4l2StreamNode() = default;

    // VIDIOC_ENUM_FMT of the capture queue: 0 with the pixel formats in the
    // driver's order, or the errno.
    virtual int pixelFormats(std::vector<std::uint32_t>& formats) = 0;
    // VIDIOC_ENUM_FRAMESIZES: 0 with the sizes (none when the driver does
    // not enumerate them), or the errno.
    virtual int frameSizes(std::uint32_t pixelFormat, std::vector<FrameSizeRange>& sizes) = 0;
    // VIDIOC_S_FMT: 0 with `format` set to what the driver chose, or the errno.
    virtual int setFormat(StreamFormat& format) = 0;

    // VIDIOC_REQBUFS for up to `count` buffers, each queried and mapped: 0
    // (the driver may grant fewer), or the errno with nothing held.
    virtual int mapBuffers(std::uint32_t count) = 0;
    virtual std::size_t bufferCount() const = 0;
    // The mapping of buffer `index`: its whole length.
    virtual std::span<const std::uint8_t> buffer(std::size_t index) const = 0;
    // Unmaps every buffer, then VIDIOC_REQBUFS with count 0 (which also
    // gives the stream up for other programs): 0 or the errno.
    virtual int releaseBuffers() = 0;

    // VIDIOC_QBUF: 0 or the errno.
    virtual int queueBuffer(std::uint32_t index) = 0;
    // VIDIOC_DQBUF without blocking: 0 with a buffer, EAGAIN when none is
    // filled yet, or the errno.
    virtual int dequeueBuffer(FilledBuffer& filled) = 0;
    // Waits at most `realTime` for a filled buffer (poll): 0 when one may be
    // there or the time is up, or the errno. EINTR comes back as 0.
    virtual int waitForBuffer(std::chrono::milliseconds realTime) = 0;

    // VIDIOC_STREAMON / VIDIOC_STREAMOFF: 0 or the errno.
    virtual int streamOn() = 0;
    virtual int streamOff() = 0;
};

class V4l2StreamOpener {
public:
    virtual ~V4l2StreamOpener() = default;
    // Opens `node` non-blocking for streaming; null with `error` set to the errno.
    virtual std::unique_ptr<V4l2StreamNode> open(const std::filesystem::path& node, int& error) = 0;
};

// The real nodes.
std::unique_ptr<V4l2StreamOpener> makeSystemV4l2StreamOpener();

} // namespace tessell::platform
