#include "platform/linux/v4l2_stream.h"

#include "platform/linux/v4l2_node.h"

#include <algorithm>
#include <cerrno>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace tessell::platform {

namespace {

static_assert(kPixelFormatYuyv == V4L2_PIX_FMT_YUYV);
static_assert(kPixelFormatMjpeg == V4L2_PIX_FMT_MJPEG);

// Bounds on what a driver may list: a broken one must not loop us for ever.
constexpr std::uint32_t kMaxFormats = 64;
constexpr std::uint32_t kMaxSizes = 256;
// No preview needs more; a driver granting more only costs memory.
constexpr std::uint32_t kMaxBuffers = 32;

int request(int descriptor, unsigned long code, void* argument) {
    int result;
    do {
        result = ::ioctl(descriptor, code, argument);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

// One buffer mapped into this process, unmapped with the object.
class Mapping {
public:
    Mapping(void* address, std::size_t length) : address_(address), length_(length) {}
    ~Mapping() { ::munmap(address_, length_); }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    std::span<const std::uint8_t> bytes() const {
        return {static_cast<const std::uint8_t*>(address_), length_};
    }

private:
    void* address_;
    std::size_t length_;
};

class SystemStreamNode final : public V4l2StreamNode {
public:
    explicit SystemStreamNode(int descriptor) : descriptor_(descriptor) {}
    ~SystemStreamNode() override {
        mappings_.clear(); // before the node is closed
        ::close(descriptor_);
    }
    SystemStreamNode(const SystemStreamNode&) = delete;
    SystemStreamNode& operator=(const SystemStreamNode&) = delete;

    int pixelFormats(std::vector<std::uint32_t>& formats) override {
        formats.clear();
        for (std::uint32_t index = 0; index < kMaxFormats; ++index) {
            v4l2_fmtdesc description{};
            description.index = index;
            description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            const int error = request(descriptor_, VIDIOC_ENUM_FMT, &description);
            if (error == EINVAL)
                break; // past the last one
            if (error != 0)
                return error;
            formats.push_back(description.pixelformat);
        }
        return 0;
    }

    int frameSizes(std::uint32_t pixelFormat, std::vector<FrameSizeRange>& sizes) override {
        sizes.clear();
        for (std::uint32_t index = 0; index < kMaxSizes; ++index) {
            v4l2_frmsizeenum size{};
            size.index = index;
            size.pixel_format = pixelFormat;
            const int error = request(descriptor_, VIDIOC_ENUM_FRAMESIZES, &size);
            if (error == EINVAL || (error == ENOTTY && index == 0))
                break; // past the last one, or a driver that does not say
            if (error != 0)
                return error;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes.push_back(
                    FrameSizeRange::discrete(size.discrete.width, size.discrete.height));
                continue;
            }
            // A range is the only answer there is.
            const auto& range = size.stepwise;
            const bool continuous = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS;
            sizes.push_back({range.min_width, range.max_width, continuous ? 1 : range.step_width,
                             range.min_height, range.max_height,
                             continuous ? 1 : range.step_height});
            break;
        }
        return 0;
    }

    int setFormat(StreamFormat& format) override {
        v4l2_format asked{};
        asked.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        asked.fmt.pix.pixelformat = format.pixelFormat;
        asked.fmt.pix.width = format.width;
        asked.fmt.pix.height = format.height;
        asked.fmt.pix.field = V4L2_FIELD_ANY;
        if (const int error = request(descriptor_, VIDIOC_S_FMT, &asked); error != 0)
            return error;
        format.pixelFormat = asked.fmt.pix.pixelformat;
        format.width = asked.fmt.pix.width;
        format.height = asked.fmt.pix.height;
        format.bytesPerLine = asked.fmt.pix.bytesperline;
        format.imageSize = asked.fmt.pix.sizeimage;
        return 0;
    }

    int mapBuffers(std::uint32_t count) override {
        // Not with nothing held: count 0 would also give up the camera
        // uvcvideo reserved for this handle when its format was set.
        if (!mappings_.empty())
            releaseBuffers();
        v4l2_requestbuffers buffers{};
        buffers.count = std::min(count, kMaxBuffers);
        buffers.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffers.memory = V4L2_MEMORY_MMAP;
        if (const int error = request(descriptor_, VIDIOC_REQBUFS, &buffers); error != 0)
            return error;
        const std::uint32_t granted = std::min(buffers.count, kMaxBuffers);
        for (std::uint32_t index = 0; index < granted; ++index) {
            v4l2_buffer buffer{};
            buffer.index = index;
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            int error = request(descriptor_, VIDIOC_QUERYBUF, &buffer);
            void* address = MAP_FAILED;
            if (error == 0) {
                address = ::mmap(nullptr, buffer.length, PROT_READ, MAP_SHARED, descriptor_,
                                 buffer.m.offset);
                if (address == MAP_FAILED)
                    error = errno;
            }
            if (error != 0) {
                releaseBuffers();
                return error;
            }
            mappings_.push_back(std::make_unique<Mapping>(address, buffer.length));
        }
        if (mappings_.empty()) {
            releaseBuffers();
            return ENOMEM;
        }
        return 0;
    }

    std::size_t bufferCount() const override { return mappings_.size(); }

    std::span<const std::uint8_t> buffer(std::size_t index) const override {
        return index < mappings_.size() ? mappings_[index]->bytes()
                                        : std::span<const std::uint8_t>();
    }

    int releaseBuffers() override {
        mappings_.clear();
        v4l2_requestbuffers buffers{};
        buffers.count = 0;
        buffers.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffers.memory = V4L2_MEMORY_MMAP;
        return request(descriptor_, VIDIOC_REQBUFS, &buffers);
    }

    int queueBuffer(std::uint32_t index) override {
        v4l2_buffer buffer{};
        buffer.index = index;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        return request(descriptor_, VIDIOC_QBUF, &buffer);
    }

    int dequeueBuffer(FilledBuffer& filled) override {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (const int error = request(descriptor_, VIDIOC_DQBUF, &buffer); error != 0)
            return error;
        filled.index = buffer.index;
        filled.bytesUsed = buffer.bytesused;
        filled.damaged = (buffer.flags & V4L2_BUF_FLAG_ERROR) != 0;
        return 0;
    }

    int waitForBuffer(std::chrono::milliseconds realTime) override {
        pollfd watched{descriptor_, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(realTime.count()));
        if (ready < 0 && errno != EINTR)
            return errno;
        return 0;
    }

    int streamOn() override {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return request(descriptor_, VIDIOC_STREAMON, &type);
    }

    int streamOff() override {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return request(descriptor_, VIDIOC_STREAMOFF, &type);
    }

private:
    int descriptor_;
    std::vector<std::unique_ptr<Mapping>> mappings_;
};

class SystemStreamOpener final : public V4l2StreamOpener {
public:
    std::unique_ptr<V4l2StreamNode> open(const std::filesystem::path& node, int& error) override {
        const int descriptor = openVideoNode(node, error);
        if (descriptor < 0)
            return nullptr;
        return std::make_unique<SystemStreamNode>(descriptor);
    }
};

} // namespace

std::unique_ptr<V4l2StreamOpener> makeSystemV4l2StreamOpener() {
    return std::make_unique<SystemStreamOpener>();
}

} // namespace tessell::platform
