#pragma once

// What the device layer asks of the operating system's video-capture stack:
// the two device lists, and for one device its Extension-Unit property
// requests, its topology and the driver's vendor interface. Linux (V4L2 and
// uvcvideo), the simulated cameras and later Windows implement these; the
// channel, camera-opening and discovery code above is written once.

#include "platform/guid.h"
#include "platform/status.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tessell::platform {

// The two lists a camera can be found in. A camera is named by (list, position).
enum class DeviceListKind {
    VideoInput,   // ordinary webcams
    SensorCamera, // the platform's sensor-camera category
};

// One entry of a device list, in list order.
struct DeviceEntry {
    // The name the system knows the device by (its symbolic link on Windows,
    // sysfs interface and node on Linux); empty with devicePathRead false when
    // the system could not give it. Opaque to the device code, which only
    // compares it and hands it back.
    std::string devicePath;
    bool devicePathRead = true;
    std::string friendlyName;
    // Whether the device hangs on USB: only USB cameras are the tool's.
    bool usb = false;
};

enum class PropertyOp {
    Get,  // read the control (GET_CUR)
    Set,  // write the control (SET_CUR)
    Size, // length of the control (GET_LEN)
};

// Extension-Unit requests addressed to one node of a capture device.
class PropertyControl {
public:
    virtual ~PropertyControl() = default;

    // One request. Get fills `data` (its size is the length asked for), Set
    // sends it. Size is asked with an empty `data` and answers the way the
    // platform answers a zero-length read: status::kMoreData with the length
    // in `bytesReturned`. `bytesReturned` is also set by Get.
    virtual Status request(const Guid& propertySet, std::uint32_t selector, PropertyOp op,
                           std::uint32_t nodeId, std::span<std::uint8_t> data,
                           std::uint32_t& bytesReturned) = 0;
};

// Node types of a capture device's topology.
class Topology {
public:
    virtual ~Topology() = default;
    virtual Status nodeCount(std::uint32_t& count) = 0;
    virtual Status nodeType(std::uint32_t node, Guid& type) = 0;
};

// The camera driver's own property interface: command words with property id 35.
// Largest data block of one Extension-Unit request (selector 15).
constexpr std::size_t kXuMaxTransfer = 4096;

// The vendor interface takes command words with this property id.
constexpr std::uint32_t kVendorPropertyId = 35;

// UVC class request codes carried in a command word.
constexpr std::uint8_t kUvcSetCur = 0x01;
constexpr std::uint8_t kUvcGetCur = 0x81;
constexpr std::uint8_t kUvcGetLen = 0x85;

// Mode-0 command word: selector in bits 31..24, request code in 23..16, data
// length in 15..0; sent little-endian.
constexpr std::uint32_t vendorCommandWord(std::uint32_t selector, std::uint8_t request,
                                          std::uint32_t length) {
    return (selector & 0xFF) << 24 | std::uint32_t{request} << 16 | (length & 0xFFFF);
}

class VendorInterface {
public:
    virtual ~VendorInterface() = default;
    virtual Status set(std::uint32_t propertyId, std::span<const std::uint8_t> buffer) = 0;
    virtual Status get(std::uint32_t propertyId, std::span<std::uint8_t> buffer) = 0;
};

// Who holds a capture device's video stream.
enum class StreamHolder {
    Nobody,
    OtherProcess, // a viewer or a video call streams from the camera
    Unknown,      // the platform cannot tell
};

// A bound capture device. Each interface pointer may be null when the device
// does not offer it; the pointers live as long as the device object.
class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;
    virtual PropertyControl* control() = 0;
    virtual Topology* topology() = 0;
    virtual VendorInterface* vendor() = 0;

    // Whether another process streams from the camera. The chip's own
    // streaming register only tells that the camera streams; this tells that
    // someone else owns it, which a download would fight with.
    virtual StreamHolder streamHolder() { return StreamHolder::Unknown; }
};

// The device lists.
class CaptureDevices {
public:
    virtual ~CaptureDevices() = default;

    // The devices of one list in order. status::kNothingDone when the list
    // cannot be created or is empty (as the platform's enumerator reports it),
    // with `entries` empty.
    virtual Status list(DeviceListKind kind, std::vector<DeviceEntry>& entries) = 0;

    // Binds the device at `position` of a list as `list` returned it; null
    // when it is gone or cannot be bound.
    virtual std::unique_ptr<CaptureDevice> bind(DeviceListKind kind, std::size_t position,
                                                const DeviceEntry& entry) = 0;

    // Why devices seen by the last `list` were left out of it (a node the
    // user may not open, with the fix), one line each; empty when none was.
    virtual std::vector<std::string> listProblems() { return {}; }
};

// Node type of an Extension Unit in a topology (KSNODETYPE_DEV_SPECIFIC).
inline const Guid kNodeTypeDevSpecific = *Guid::parse("{941C7AC0-C559-11D0-8A2B-00A0C9255AC1}");

} // namespace tessell::platform
