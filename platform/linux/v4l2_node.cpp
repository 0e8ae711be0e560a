#include "platform/linux/v4l2_node.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/usb/video.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tessell::platform {

namespace {

static_assert(kCapVideoCapture == V4L2_CAP_VIDEO_CAPTURE);
static_assert(kCapMetaCapture == V4L2_CAP_META_CAPTURE);
static_assert(kUvcSetCur == UVC_SET_CUR && kUvcGetCur == UVC_GET_CUR && kUvcGetLen == UVC_GET_LEN);

// The fixed-size, possibly unterminated text fields of v4l2_capability.
std::string field(const __u8* text, std::size_t size) {
    const auto* begin = reinterpret_cast<const char*>(text);
    return std::string(begin, strnlen(begin, size));
}

class SystemNode final : public V4l2Node {
public:
    explicit SystemNode(int descriptor) : descriptor_(descriptor) {}
    ~SystemNode() override { ::close(descriptor_); }
    SystemNode(const SystemNode&) = delete;
    SystemNode& operator=(const SystemNode&) = delete;

    int queryCapabilities(NodeCapabilities& caps) override {
        v4l2_capability query{};
        if (::ioctl(descriptor_, VIDIOC_QUERYCAP, &query) != 0)
            return errno;
        caps.driver = field(query.driver, sizeof query.driver);
        caps.card = field(query.card, sizeof query.card);
        // Older drivers give only the capabilities of the whole device.
        caps.deviceCaps =
            (query.capabilities & V4L2_CAP_DEVICE_CAPS) ? query.device_caps : query.capabilities;
        return 0;
    }

    int extensionQuery(std::uint8_t unit, std::uint8_t selector, std::uint8_t query,
                       std::span<std::uint8_t> data) override {
        uvc_xu_control_query request{};
        request.unit = unit;
        request.selector = selector;
        request.query = query;
        request.size = static_cast<__u16>(data.size());
        request.data = data.data();
        const int result = ::ioctl(descriptor_, UVCIOC_CTRL_QUERY, &request);
        return result < 0 ? -errno : result;
    }

    int releaseBuffers() override {
        v4l2_requestbuffers request{};
        request.count = 0;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        return ::ioctl(descriptor_, VIDIOC_REQBUFS, &request) == 0 ? 0 : errno;
    }

private:
    int descriptor_;
};

class SystemOpener final : public V4l2Opener {
public:
    std::unique_ptr<V4l2Node> open(const std::filesystem::path& node, int& error) override {
        const int descriptor = openVideoNode(node, error);
        if (descriptor < 0)
            return nullptr;
        return std::make_unique<SystemNode>(descriptor);
    }
};

} // namespace

int openVideoNode(const std::filesystem::path& node, int& error) {
    int descriptor;
    do {
        descriptor = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    error = descriptor < 0 ? errno : 0;
    return descriptor;
}

std::unique_ptr<V4l2Opener> makeSystemV4l2Opener() {
    return std::make_unique<SystemOpener>();
}

} // namespace tessell::platform
