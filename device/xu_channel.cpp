#include "device/xu_channel.h"

#include "common/little_endian.h"
#include "common/poll.h"
#include "common/trace.h"
#include "device/xu_protocol.h"

#include <algorithm>
#include <array>

namespace tessell {

namespace {

bool isNodeMode(XuMode mode) {
    return mode == XU_MODE_KS_WITH_VENDOR || mode == XU_MODE_KS;
}

// The status at the point of failure; the procedures above add their own
// lines ("put_Property XU_DFU_ACCESS_CONTROL fail.") when they give up or resend.
void traceFailure(const char* operation, std::uint32_t selector, Status result) {
    if (status::failed(result))
        trace::writef("%s %s -> 0x%08X", operation, xuSelectorName(selector),
                      static_cast<std::uint32_t>(result));
}

} // namespace

void XuChannel::Release() {
    control_ = nullptr;
}

Status XuChannel::SetVendorInterface(platform::VendorInterface* vendor) {
    vendor_ = vendor;
    return status::kOk;
}

Status XuChannel::nodeRequest(std::uint32_t selector, std::uint32_t flags, platform::PropertyOp op,
                              std::span<std::uint8_t> data, std::uint32_t& bytesReturned) {
    request_.propertySet = propertySet_;
    request_.id = selector;
    request_.flags = flags;
    request_.nodeId = nodeId_;
    if (!control_)
        return status::kPointer;
    return control_->request(request_.propertySet, request_.id, op, request_.nodeId, data,
                             bytesReturned);
}

Status XuChannel::querySize(std::uint32_t selector, std::uint32_t& size) {
    if (mode_ == XU_MODE_VENDOR) {
        if (!vendor_)
            return status::kPointer;
        const std::uint32_t word = vendorCommandWord(selector, kUvcGetLen, 2);
        std::array<std::uint8_t, 4> command{};
        le::store32(command, 0, word);
        vendor_->set(kVendorPropertyId, command); // only the answer's status counts
        std::array<std::uint8_t, 8> answer{};
        le::store32(answer, 0, word);
        const Status result = vendor_->get(kVendorPropertyId, answer);
        if (!status::failed(result))
            size = std::uint32_t{answer[0]} | std::uint32_t{answer[1]} << 8;
        return result;
    }
    if (isNodeMode(mode_)) {
        std::uint32_t bytesReturned = 0;
        const Status result = nodeRequest(selector, kKsPropertyGetTopology,
                                          platform::PropertyOp::Size, {}, bytesReturned);
        // A zero-length read answers "more data" with the control's length.
        if (result == status::kMoreData) {
            size = bytesReturned;
            return status::kOk;
        }
        return result;
    }
    return status::kNothingDone;
}

Status XuChannel::write(std::uint32_t selector, std::span<const std::uint8_t> data) {
    if (mode_ == XU_MODE_VENDOR) {
        if (!vendor_)
            return status::kPointer;
        if (data.size() > kXuMaxTransfer)
            return status::kInvalidArgument;
        std::array<std::uint8_t, 4 + kXuMaxTransfer> command;
        le::store32(
            command, 0,
            vendorCommandWord(selector, kUvcSetCur, static_cast<std::uint32_t>(data.size())));
        std::copy(data.begin(), data.end(), command.begin() + 4);
        return vendor_->set(kVendorPropertyId, std::span(command).first(4 + data.size()));
    }
    if (isNodeMode(mode_)) {
        std::uint32_t bytesReturned = 0;
        // The platform request takes a mutable span for both directions; a
        // set request only reads it.
        const std::span<std::uint8_t> payload(const_cast<std::uint8_t*>(data.data()), data.size());
        return nodeRequest(selector, kKsPropertySetTopology, platform::PropertyOp::Set, payload,
                           bytesReturned);
    }
    return status::kNothingDone;
}

Status XuChannel::read(std::uint32_t selector, std::span<std::uint8_t> buffer) {
    if (mode_ == XU_MODE_VENDOR) {
        if (!vendor_)
            return status::kPointer;
        if (buffer.size() > kXuMaxTransfer)
            return status::kInvalidArgument;
        std::array<std::uint8_t, 8> command{};
        le::store32(
            command, 0,
            vendorCommandWord(selector, kUvcGetCur, static_cast<std::uint32_t>(buffer.size())));
        vendor_->set(kVendorPropertyId, command); // only the answer's status counts
        std::array<std::uint8_t, kXuMaxTransfer> answer{};
        const Status result = vendor_->get(kVendorPropertyId, answer);
        if (!status::failed(result))
            std::copy_n(answer.begin(), buffer.size(), buffer.begin());
        return result;
    }
    if (isNodeMode(mode_)) {
        // Read into a scratch block so that a failing request leaves the
        // caller's buffer as it was.
        std::array<std::uint8_t, kXuMaxTransfer> scratch{};
        if (buffer.size() > scratch.size())
            return status::kInvalidArgument;
        std::uint32_t bytesReturned = 0;
        const auto data = std::span(scratch).first(buffer.size());
        const Status result = nodeRequest(selector, kKsPropertyGetTopology,
                                          platform::PropertyOp::Get, data, bytesReturned);
        if (!status::failed(result))
            std::copy(data.begin(), data.end(), buffer.begin());
        return result;
    }
    return status::kNothingDone;
}

Status XuChannel::get_PropertySize(std::uint32_t selector, std::uint32_t* size) {
    if (!size)
        return status::kPointer;
    const Status result = querySize(selector, *size);
    traceFailure("get_PropertySize", selector, result);
    return result;
}

Status XuChannel::put_Property(std::uint32_t selector, std::span<const std::uint8_t> data) {
    const Status result = write(selector, data);
    traceFailure("put_Property", selector, result);
    return result;
}

Status XuChannel::get_Property(std::uint32_t selector, std::span<std::uint8_t> buffer) {
    const Status result = read(selector, buffer);
    traceFailure("get_Property", selector, result);
    return result;
}

Status XuChannel::boundedPropertySize(std::uint32_t selector, std::size_t capacity,
                                      std::uint32_t& size) {
    std::uint32_t reported = 0;
    const Status result = get_PropertySize(selector, &reported);
    if (result != status::kOk)
        return result;
    if (reported == 0 || reported > capacity) {
        trace::writef("get_PropertySize %s: size %u outside 1..%zu, refused.",
                      xuSelectorName(selector), reported, capacity);
        return status::kInvalidArgument;
    }
    size = reported;
    return status::kOk;
}

Status XuChannel::probeNode(std::uint32_t node) {
    // A firmware that has just started may answer "not ready" for a while;
    // one that never gets ready is given up on after the budget.
    PollBudget retries(kProbeNotReadyBudget, kProbeNotReadyPause);
    std::uint8_t answer = 0;
    Status result = read(XU_DFU_CHECKSUM, std::span(&answer, 1));
    while (result == status::kNotReady) {
        if (!retries.again()) {
            trace::writef("FindXuNode: node %u still not ready after %d probes.", node,
                          retries.attempts());
            break;
        }
        result = read(XU_DFU_CHECKSUM, std::span(&answer, 1));
    }
    return result;
}

Status XuChannel::FindXuNode(platform::Topology* topology) {
    if (!topology)
        return status::kPointer;
    std::uint32_t count = 0;
    const Status countResult = topology->nodeCount(count);
    if (status::failed(countResult))
        return countResult;
    for (std::uint32_t node = 0; node < count; ++node) {
        Guid type;
        if (status::failed(topology->nodeType(node, type)) ||
            type != platform::kNodeTypeDevSpecific)
            continue;
        propertySet_ = XU_PROPSET_PRIMARY;
        nodeId_ = node;
        Status answer = probeNode(node);
        if (answer == status::kSetNotFound) {
            propertySet_ = XU_PROPSET_FALLBACK;
            answer = probeNode(node);
        }
        if (answer == status::kNotFound) {
            // The firmware knows no checksum control: the node still counts
            // when the chip identification register can be read through it.
            const std::uint8_t address[2] = {0xFF, 0x20};
            write(XU_REG_ADDRESS, address);
            std::uint8_t chipId = 0;
            answer = read(XU_REG_DATA, std::span(&chipId, 1));
        }
        if (answer == status::kOk)
            return status::kOk;
        trace::writef("FindXuNode: node %u does not answer (0x%08X).", node,
                      static_cast<std::uint32_t>(answer));
    }
    Release();
    return status::kNothingDone;
}

} // namespace tessell
