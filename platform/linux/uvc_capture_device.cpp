#include "platform/linux/uvc_capture_device.h"

#include "common/trace.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace tessell::platform {

namespace {

// A signal storm is not a reason to fail a transfer, but neither to spin for ever.
constexpr int kInterruptRetries = 64;
// The request's size field is 16 bits.
constexpr std::size_t kMaxControlLength = 0xFFFF;

const char* queryName(std::uint8_t code) {
    switch (code) {
    case kUvcSetCur:
        return "SET_CUR";
    case kUvcGetCur:
        return "GET_CUR";
    case kUvcGetLen:
        return "GET_LEN";
    default:
        return "query";
    }
}

} // namespace

Status statusForXuError(int error, const std::function<bool()>& devicePresent) {
    switch (error) {
    case ENODEV:    // the node is unregistered
    case ESHUTDOWN: // the device is being disconnected
        return status::kDeviceGone;
    case EPROTO:
    case ETIME:
    case EIO:
    case EPIPE:
        // Transfer errors: an unplug, or a stall the camera explains no better.
        return devicePresent() ? status::kFail : status::kDeviceGone;
    case ETIMEDOUT: // the driver's 5 s control time-out
        return devicePresent() ? status::kTimeout : status::kDeviceGone;
    case EBUSY: // request error "not ready"
    case EAGAIN:
    case EACCES:  // "wrong state" on newer kernels
    case EILSEQ:  // "wrong state" on older kernels; also an unplug
    case EREMOTE: // request error 3
        return devicePresent() ? status::kNotReady : status::kDeviceGone;
    case ENOENT: // the driver knows no such unit in this node's chain
        return status::kSetNotFound;
    case ENOBUFS: // the length differs from the control's
        return status::kMoreData;
    default:
        return status::kFail;
    }
}

UvcCaptureDevice::UvcCaptureDevice(std::unique_ptr<V4l2Node> node, std::string name,
                                   std::vector<ExtensionUnit> units)
    : node_(std::move(node)), name_(std::move(name)), units_(std::move(units)) {}

bool UvcCaptureDevice::present() {
    // Once the node is unregistered every request answers ENODEV; this one
    // makes no USB transfer.
    NodeCapabilities caps;
    return node_->queryCapabilities(caps) != ENODEV;
}

Status UvcCaptureDevice::query(const ExtensionUnit& unit, std::uint8_t selector, std::uint8_t code,
                               std::span<std::uint8_t> data) {
    int result = -EINTR;
    for (int attempt = 0; attempt < kInterruptRetries && result == -EINTR; ++attempt)
        result = node_->extensionQuery(unit.unitId, selector, code, data);
    if (result == 0)
        return status::kOk;
    const auto presentNow = [this] { return present(); };
    Status mapped;
    if (result > 0) {
        // Some kernels answer a short read with its byte count and leave the
        // rest of the buffer as it was: never data to take as read.
        mapped = presentNow() ? status::kFail : status::kDeviceGone;
        trace::writef("UVCIOC_CTRL_QUERY %s unit %u selector %u %s: short read of %d of %zu "
                      "bytes -> 0x%08X",
                      name_.c_str(), unsigned{unit.unitId}, unsigned{selector}, queryName(code),
                      result, data.size(), static_cast<unsigned>(mapped));
        return mapped;
    }
    const int error = -result;
    mapped = statusForXuError(error, presentNow);
    trace::writef("UVCIOC_CTRL_QUERY %s unit %u selector %u %s (%zu bytes): errno %d (%s) -> "
                  "0x%08X",
                  name_.c_str(), unsigned{unit.unitId}, unsigned{selector}, queryName(code),
                  data.size(), error, std::generic_category().message(error).c_str(),
                  static_cast<unsigned>(mapped));
    return mapped;
}

Status UvcCaptureDevice::controlLength(const ExtensionUnit& unit, std::uint8_t selector,
                                       std::uint32_t& length) {
    std::uint8_t answer[2] = {};
    const Status result = query(unit, selector, kUvcGetLen, answer);
    if (result == status::kOk)
        length = std::uint32_t{answer[0]} | std::uint32_t{answer[1]} << 8;
    return result;
}

Status UvcCaptureDevice::request(const Guid& propertySet, std::uint32_t selector, PropertyOp op,
                                 std::uint32_t nodeId, std::span<std::uint8_t> data,
                                 std::uint32_t& bytesReturned) {
    std::lock_guard lock(mutex_);
    if (nodeId >= units_.size() || units_[nodeId].guid != propertySet)
        return status::kSetNotFound;
    const ExtensionUnit& unit = units_[nodeId];
    // The driver refuses a selector the unit does not announce; answering it
    // here keeps "not found" apart from "no such unit".
    if (selector > 0xFF || !unit.advertises(selector))
        return status::kNotFound;
    const auto code = static_cast<std::uint8_t>(selector);

    switch (op) {
    case PropertyOp::Size: {
        std::uint32_t length = 0;
        const Status result = controlLength(unit, code, length);
        if (result != status::kOk)
            return result;
        // The answer to a zero-length read: "more data", with the length.
        bytesReturned = length;
        return status::kMoreData;
    }
    case PropertyOp::Get: {
        if (data.empty() || data.size() > kMaxControlLength)
            return status::kInvalidArgument;
        Status result = query(unit, code, kUvcGetCur, data);
        if (result == status::kMoreData) {
            // The driver reads a control only whole. A caller asking for the
            // first bytes of a longer control (the one-byte probe of the
            // checksum control) gets them from a whole read.
            std::uint32_t length = 0;
            if (controlLength(unit, code, length) != status::kOk)
                return status::kMoreData; // the mismatch stands, its length unknown
            if (length <= data.size() || length > kMaxControlLength) {
                bytesReturned = length;
                return status::kMoreData;
            }
            std::vector<std::uint8_t> whole(length);
            result = query(unit, code, kUvcGetCur, whole);
            if (result == status::kOk)
                std::copy_n(whole.begin(), data.size(), data.begin());
        }
        if (result == status::kOk)
            bytesReturned = static_cast<std::uint32_t>(data.size());
        return result;
    }
    case PropertyOp::Set:
        if (data.empty() || data.size() > kMaxControlLength)
            return status::kInvalidArgument;
        bytesReturned = 0;
        return query(unit, code, kUvcSetCur, data);
    }
    return status::kInvalidArgument;
}

Status UvcCaptureDevice::nodeCount(std::uint32_t& count) {
    count = static_cast<std::uint32_t>(units_.size());
    return status::kOk;
}

Status UvcCaptureDevice::nodeType(std::uint32_t node, Guid& type) {
    if (node >= units_.size())
        return status::kInvalidArgument;
    type = kNodeTypeDevSpecific;
    return status::kOk;
}

StreamHolder UvcCaptureDevice::streamHolder() {
    std::lock_guard lock(mutex_);
    int result = EINTR;
    for (int attempt = 0; attempt < kInterruptRetries && result == EINTR; ++attempt)
        result = node_->releaseBuffers();
    if (result == 0)
        return StreamHolder::Nobody;
    if (result == EBUSY)
        return StreamHolder::OtherProcess;
    trace::writef("VIDIOC_REQBUFS %s: errno %d (%s); stream owner unknown", name_.c_str(), result,
                  std::generic_category().message(result).c_str());
    return StreamHolder::Unknown;
}

} // namespace tessell::platform
