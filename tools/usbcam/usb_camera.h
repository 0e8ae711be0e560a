#pragma once

// One simulated camera as a USB device: its place on the bus as the host
// sees it (connect, disconnect), its descriptors, and the answers to the
// control transfers the host sends. The Extension Unit's class requests go
// to the same camera model the simulated platform drives, so a camera
// behaves alike whichever front end talks to it. No sockets here: the
// transport hands setup packets in and takes replies out.

#include "platform/sim/camera.h"
#include "tools/usbcam/descriptors.h"
#include "tools/usbcam/video_stream.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tessell::usbcam {

// UVC class request codes.
constexpr std::uint8_t kSetCur = 0x01;
constexpr std::uint8_t kGetCur = 0x81;
constexpr std::uint8_t kGetMin = 0x82;
constexpr std::uint8_t kGetMax = 0x83;
constexpr std::uint8_t kGetRes = 0x84;
constexpr std::uint8_t kGetLen = 0x85;
constexpr std::uint8_t kGetInfo = 0x86;
constexpr std::uint8_t kGetDef = 0x87;

// VideoControl interface control: the code of the last class request's failure.
constexpr std::uint8_t kRequestErrorCodeControl = 0x02;
// VideoStreaming interface controls.
constexpr std::uint8_t kProbeControl = 0x01;
constexpr std::uint8_t kCommitControl = 0x02;
constexpr std::size_t kStreamingControlLength = 34; // UVC 1.1

// Request error codes the driver reads after a stall.
enum RequestError : std::uint8_t {
    kNoError = 0x00,
    kNotReadyError = 0x01,
    kOutOfRangeError = 0x04,
    kInvalidUnitError = 0x05,
    kInvalidControlError = 0x06,
    kInvalidRequestError = 0x07,
    kUnknownError = 0xFF,
};

// The code a stall carries for a status of the camera model.
std::uint8_t requestErrorFor(Status result);

struct SetupPacket {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;

    bool deviceToHost() const { return (requestType & 0x80) != 0; }
};

struct ControlReply {
    enum class Outcome {
        Ack,
        Stall,
        NoDevice, // the camera left the bus: nothing answers
    };
    Outcome outcome = Outcome::Stall;
    Bytes data; // what an IN transfer returns, at most wLength bytes
};

// The descriptors' view of a camera as it now stands on the bus.
CameraLayout layoutOf(const sim::BusView& view, const sim::DeviceConfig& config,
                      const std::vector<sim::ControlInfo>& controls);

class UsbCamera {
public:
    enum class BusChange { Connect, Disconnect };

    explicit UsbCamera(sim::SimCamera& camera);

    // The next change the host must be told of (a camera due back from a
    // reset is brought back first); none when the host is up to date. A
    // camera that left and came back between two calls gives a disconnect,
    // then a connect.
    std::optional<BusChange> nextChange();
    // The host went away: it has been told nothing.
    void forget();
    bool connected() const { return connected_; }
    // The descriptors of the current connection (valid while connected).
    const CameraLayout& layout() const { return layout_; }

    ControlReply control(const SetupPacket& setup, std::span<const std::uint8_t> data);
    bool setConfiguration(std::uint8_t value);
    std::uint8_t configuration() const { return configuration_; }
    bool setAltSetting(std::uint8_t interfaceNumber, std::uint8_t alt);

    VideoStream& stream() { return stream_; }
    const VideoStream& stream() const { return stream_; }
    std::uint8_t requestError() const { return requestError_; }

private:
    ControlReply standardRequest(const SetupPacket& setup);
    ControlReply classRequest(const SetupPacket& setup, std::span<const std::uint8_t> data);
    ControlReply unitRequest(const SetupPacket& setup, std::span<const std::uint8_t> data);
    ControlReply streamingRequest(const SetupPacket& setup, std::span<const std::uint8_t> data);
    ControlReply stall(std::uint8_t error);
    ControlReply answer(const SetupPacket& setup, Bytes data);
    const sim::ControlInfo* controlInfo(std::uint32_t selector) const;

    sim::SimCamera& camera_;
    bool connected_ = false;
    std::uint64_t generation_ = 0;
    CameraLayout layout_;
    std::vector<sim::ControlInfo> controls_; // announced by the Extension Unit
    std::uint8_t configuration_ = 0;
    std::uint8_t requestError_ = kNoError;
    VideoStream stream_;
};

} // namespace tessell::usbcam
