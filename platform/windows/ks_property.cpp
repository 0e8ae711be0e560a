#include "platform/windows/ks_property.h"

#include "common/trace.h"
#include "platform/windows/hresult_status.h"

#include <cstring>
#include <limits>

namespace tessell::platform::windows {

static_assert(sizeof(GUID) == sizeof(Guid::bytes));
static_assert(sizeof(KSP_NODE) == 32);

GUID toWindowsGuid(const Guid& guid) {
    GUID result;
    std::memcpy(&result, guid.bytes.data(), sizeof result);
    return result;
}

Guid fromWindowsGuid(const GUID& guid) {
    Guid result;
    std::memcpy(result.bytes.data(), &guid, sizeof guid);
    return result;
}

Status KsPropertyControl::request(const Guid& propertySet, std::uint32_t selector, PropertyOp op,
                                  std::uint32_t nodeId, std::span<std::uint8_t> data,
                                  std::uint32_t& bytesReturned) {
    if (!control_)
        return status::kPointer;
    // Size is the zero-length read; Get and Set carry at least one byte.
    if ((op == PropertyOp::Size) != data.empty() || data.size() > std::numeric_limits<ULONG>::max())
        return status::kInvalidArgument;

    KSP_NODE block{}; // Reserved stays 0
    block.Property.Set = toWindowsGuid(propertySet);
    block.Property.Id = selector;
    block.Property.Flags = (op == PropertyOp::Set ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET) |
                           KSPROPERTY_TYPE_TOPOLOGY;
    block.NodeId = nodeId;

    ULONG returned = 0;
    const auto length = static_cast<ULONG>(data.size());
    const HRESULT hr = control_->KsProperty(
        &block.Property, sizeof block, data.empty() ? nullptr : data.data(), length, &returned);
    Status result = statusFromHresult(hr);
    if (op == PropertyOp::Get && result == status::kOk && returned != length) {
        // A short answer leaves stale bytes in the buffer, a longer one
        // cannot be true: neither is data to take as read.
        trace::writef("IKsControl node %u selector %u: read answered %lu of %lu bytes", nodeId,
                      selector, returned, length);
        result = status::kFail;
    }
    if (FAILED(hr) && static_cast<Status>(hr) != result) // the channel traces the status
        trace::writef("IKsControl node %u selector %u: HRESULT 0x%08lX", nodeId, selector,
                      static_cast<unsigned long>(hr));
    bytesReturned = returned;
    return result;
}

Status KsTopology::nodeCount(std::uint32_t& count) {
    if (!info_)
        return status::kPointer;
    DWORD nodes = 0;
    const Status result = statusFromHresult(info_->get_NumNodes(&nodes));
    if (result == status::kOk)
        count = nodes;
    return result;
}

Status KsTopology::nodeType(std::uint32_t node, Guid& type) {
    if (!info_)
        return status::kPointer;
    GUID answer{};
    const Status result = statusFromHresult(info_->get_NodeType(node, &answer));
    if (result == status::kOk)
        type = fromWindowsGuid(answer);
    return result;
}

} // namespace tessell::platform::windows
