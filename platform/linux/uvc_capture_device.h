#pragma once

// A bound UVC capture node: Extension-Unit requests through uvcvideo's
// UVCIOC_CTRL_QUERY, a topology of one node per Extension Unit of the
// camera's VideoControl interface, and the stream-owner check.
//
// A request names a property set (the GUID of the unit it is meant for), a
// node and a selector. The node must be a unit whose descriptor carries that
// GUID, else the set is "not found" at that node, as a capture filter answers
// a property set one of its nodes does not support; so the device code's
// search for the unit (primary GUID first, then the fallback) runs unchanged.

#include "platform/capture_devices.h"
#include "platform/linux/usb_descriptors.h"
#include "platform/linux/v4l2_node.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tessell::platform {

// The status of an Extension-Unit request that failed with `error`.
// `devicePresent` tells a camera that is still there (a stall, a refused
// value) from one that left the bus; it is asked only for the errors that
// an unplug also produces.
Status statusForXuError(int error, const std::function<bool()>& devicePresent);

class UvcCaptureDevice final : public CaptureDevice, public PropertyControl, public Topology {
public:
    // `name` names the node in trace lines ("video0").
    UvcCaptureDevice(std::unique_ptr<V4l2Node> node, std::string name,
                     std::vector<ExtensionUnit> units);

    PropertyControl* control() override { return this; }
    Topology* topology() override { return this; }
    VendorInterface* vendor() override { return nullptr; }
    StreamHolder streamHolder() override;

    Status request(const Guid& propertySet, std::uint32_t selector, PropertyOp op,
                   std::uint32_t nodeId, std::span<std::uint8_t> data,
                   std::uint32_t& bytesReturned) override;

    Status nodeCount(std::uint32_t& count) override;
    Status nodeType(std::uint32_t node, Guid& type) override;

private:
    // One query, retried while a signal interrupts it; kOk or the mapped failure.
    Status query(const ExtensionUnit& unit, std::uint8_t selector, std::uint8_t code,
                 std::span<std::uint8_t> data);
    // GET_LEN of the control.
    Status controlLength(const ExtensionUnit& unit, std::uint8_t selector, std::uint32_t& length);
    bool present();

    std::mutex mutex_; // one control transfer at a time per camera
    std::unique_ptr<V4l2Node> node_;
    std::string name_;
    std::vector<ExtensionUnit> units_;
};

} // namespace tessell::platform
