#pragma once

// The camera's Extension-Unit control channel: the one path between the tool
// and the camera firmware. Requests go either to the XU node of the capture
// device (kernel-streaming style, modes 1 and 2) or, packed into a command
// word, through the camera driver's vendor interface (mode 0).
//
// A channel is used by one thread at a time; its request block is rewritten
// by every request.

#include "device/ic_type.h"
#include "platform/capture_devices.h"
#include "platform/guid.h"
#include "platform/status.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tessell {

// Transport modes. Other code tests these stored values.
enum XuMode : std::int32_t {
    XU_MODE_VENDOR = 0,         // no topology; requests through the vendor interface
    XU_MODE_KS_WITH_VENDOR = 1, // topology, and the vendor interface was also found
    XU_MODE_KS = 2,             // topology; requests through the property control
    XU_MODE_UNBOUND = 3,        // data operations do nothing and return 1
};

// The vendor interface's command words (platform/capture_devices.h).
using platform::kUvcGetCur;
using platform::kUvcGetLen;
using platform::kUvcSetCur;
using platform::kVendorPropertyId;
using platform::kXuMaxTransfer;
using platform::vendorCommandWord;

// Property flags of a kernel-streaming node request.
constexpr std::uint32_t kKsPropertyGetTopology = 0x10000001; // GET | TOPOLOGY
constexpr std::uint32_t kKsPropertySetTopology = 0x10000002; // SET | TOPOLOGY

// The request block refilled before every node request (KSP_NODE).
struct XuRequestBlock {
    Guid propertySet;
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
    std::uint32_t nodeId = 0;
};

// Retries of the node probe while the camera answers "not ready": pause and
// total budget (tool time).
constexpr auto kProbeNotReadyPause = std::chrono::milliseconds(20);
constexpr auto kProbeNotReadyBudget = std::chrono::milliseconds(2000);

class XuChannel {
public:
    XuChannel() = default;
    XuChannel(const XuChannel&) = delete;
    XuChannel& operator=(const XuChannel&) = delete;

    // Drops the property control (the device that lent it keeps it). The
    // vendor interface is not touched: its owner releases it.
    void Release();
    Status SetVendorInterface(platform::VendorInterface* vendor);

    // Binding, done by the camera-opening and discovery code in this order:
    // control, mode (and vendor interface), then `FindXuNode` for modes 1 and 2.
    void setControl(platform::PropertyControl* control) { control_ = control; }
    platform::PropertyControl* control() const { return control_; }
    XuMode mode() const { return mode_; }
    void setMode(XuMode mode) { mode_ = mode; }

    // The camera's chip family; `chip::kUndetected` until detection sets it.
    IcType icType() const { return icType_; }
    void setIcType(IcType type) { icType_ = type; }

    std::uint32_t nodeId() const { return nodeId_; }
    const Guid& propertySet() const { return propertySet_; }
    const XuRequestBlock& requestBlock() const { return request_; }

    // Length in bytes of a control. A null `size` gives E_POINTER.
    Status get_PropertySize(std::uint32_t selector, std::uint32_t* size);
    // Writes `data` to a control.
    Status put_Property(std::uint32_t selector, std::span<const std::uint8_t> data);
    // Reads `buffer.size()` bytes of a control. The buffer is only written
    // when the read succeeds.
    Status get_Property(std::uint32_t selector, std::span<std::uint8_t> buffer);

    // Finds the XU node in `topology`, chooses the property set (kept as
    // `propertySet()`) and checks that the firmware answers. 0 when found;
    // the failing status of the node count; 1 when no node qualified, which
    // also drops the property control.
    Status FindXuNode(platform::Topology* topology);

    // `get_PropertySize`, refused (E_INVALIDARG) unless the reported size is
    // 1..capacity: a size a device reports is never trusted to fit the buffer
    // it will fill.
    Status boundedPropertySize(std::uint32_t selector, std::size_t capacity, std::uint32_t& size);

private:
    Status querySize(std::uint32_t selector, std::uint32_t& size);
    Status write(std::uint32_t selector, std::span<const std::uint8_t> data);
    Status read(std::uint32_t selector, std::span<std::uint8_t> buffer);
    Status nodeRequest(std::uint32_t selector, std::uint32_t flags, platform::PropertyOp op,
                       std::span<std::uint8_t> data, std::uint32_t& bytesReturned);
    Status probeNode(std::uint32_t node);

    std::uint32_t nodeId_ = 0;
    platform::PropertyControl* control_ = nullptr;
    platform::VendorInterface* vendor_ = nullptr;
    XuRequestBlock request_;
    Guid propertySet_;
    XuMode mode_ = XU_MODE_UNBOUND;
    IcType icType_ = chip::kUndetected;
};

} // namespace tessell
