#pragma once

// An open V4L2 device node and the few requests the tool makes of it. The
// services above talk to nodes only through these two interfaces, so that
// their logic (the unit a request goes to, errno handling, skipping metadata
// nodes, permission messages) is tested without a camera.

#include "platform/capture_devices.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace tessell::platform {

struct NodeCapabilities {
    std::string driver; // "uvcvideo"
    std::string card;   // the camera's name
    std::uint32_t deviceCaps = 0;
};

class V4l2Node {
public:
    virtual ~V4l2Node() = default;

    // VIDIOC_QUERYCAP: 0, or the errno.
    virtual int queryCapabilities(NodeCapabilities& caps) = 0;

    // One UVCIOC_CTRL_QUERY: the ioctl's return value (0, or the byte count
    // of a short read on some kernels), or minus the errno. Not retried.
    virtual int extensionQuery(std::uint8_t unit, std::uint8_t selector, std::uint8_t query,
                               std::span<std::uint8_t> data) = 0;

    // VIDIOC_REQBUFS with count 0 on the capture queue (memory-mapped): 0
    // when no other file holds the stream (and nothing is left held), else
    // the errno (EBUSY while another process streams). Not retried.
    virtual int releaseBuffers() = 0;
};

class V4l2Opener {
public:
    virtual ~V4l2Opener() = default;
    // Opens `node` for reading and writing; null with `error` set to the errno.
    virtual std::unique_ptr<V4l2Node> open(const std::filesystem::path& node, int& error) = 0;
};

// The real nodes.
std::unique_ptr<V4l2Opener> makeSystemV4l2Opener();

// Opens a video node for reading and writing, without blocking: the file
// descriptor, or -1 with `error` set to the errno.
int openVideoNode(const std::filesystem::path& node, int& error);

// Capability bits of VIDIOC_QUERYCAP the services test.
constexpr std::uint32_t kCapVideoCapture = 0x00000001;
constexpr std::uint32_t kCapMetaCapture = 0x00800000;

} // namespace tessell::platform
