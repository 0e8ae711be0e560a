#include "tools/usbcam/usb_camera.h"

#include "common/little_endian.h"
#include "device/xu_protocol.h"

#include <algorithm>

namespace tessell::usbcam {

namespace {

using platform::PropertyOp;

// Standard requests.
constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kSetFeature = 0x03;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kGetConfiguration = 0x08;
constexpr std::uint8_t kSetConfiguration = 0x09;
constexpr std::uint8_t kGetInterface = 0x0A;
constexpr std::uint8_t kSetInterface = 0x0B;

constexpr std::uint8_t kDescriptorDevice = 0x01;
constexpr std::uint8_t kDescriptorConfiguration = 0x02;
constexpr std::uint8_t kDescriptorString = 0x03;

constexpr std::uint8_t kTypeStandard = 0x00;
constexpr std::uint8_t kTypeClass = 0x20;
constexpr std::uint8_t kRecipientInterface = 0x01;
constexpr std::uint8_t kRecipientEndpoint = 0x02;
constexpr std::uint16_t kFeatureEndpointHalt = 0;

constexpr std::uint8_t kInfoGet = 0x01;
constexpr std::uint8_t kInfoSet = 0x02;

// Another maker's unit, on a camera whose Extension Unit is not ours.
const Guid kForeignUnit = *Guid::parse("{7839C5A6-F840-4DA1-93F4-63B7CC3F43E8}");

// The streaming parameters the camera settles on whatever the host proposes:
// its one format, frame and interval.
Bytes streamingParameters() {
    Bytes p(kStreamingControlLength, 0);
    le::store16(p, 0, 1); // bmHint: the frame interval is fixed
    p[2] = 1;             // bFormatIndex
    p[3] = 1;             // bFrameIndex
    le::store32(p, 4, kFrameInterval100ns);
    le::store32(p, 18, kFrameBytes);              // dwMaxVideoFrameSize
    le::store32(p, 22, VideoStream::kPayloadMax); // dwMaxPayloadTransferSize
    le::store32(p, 26, 48'000'000);               // dwClockFrequency
    p[30] = 0x03;                                 // bmFramingInfo: frame id and end of frame
    return p;
}

} // namespace

std::uint8_t requestErrorFor(Status result) {
    switch (result) {
    case status::kNotReady:
        return kNotReadyError;
    case status::kInvalidArgument:
        return kOutOfRangeError;
    case status::kSetNotFound:
        return kInvalidUnitError;
    case status::kNotFound:
        return kInvalidControlError;
    default:
        // A failure the camera explains no better; the host sees a plain stall.
        return kUnknownError;
    }
}

CameraLayout layoutOf(const sim::BusView& view, const sim::DeviceConfig& config,
                      const std::vector<sim::ControlInfo>& controls) {
    CameraLayout layout;
    layout.vid = view.identity.vid;
    layout.pid = view.identity.pid;
    layout.bcdDevice = view.identity.bcdDevice;
    layout.manufacturer = view.identity.manufacturer;
    layout.product = view.identity.product;
    layout.serial = view.identity.serial;
    if (!config.chipId) {
        layout.extensionUnit = ExtensionUnitLayout{kForeignUnit, {}};
    } else if (view.extensionCode) {
        ExtensionUnitLayout unit{*view.extensionCode, {}};
        for (const auto& control : controls) {
            // A firmware that answers "not found" to the probe of its checksum
            // control shows it on USB by not announcing that control: the
            // driver then refuses it the same way.
            if (config.xu == sim::XuAnswer::NotFound && control.selector == XU_DFU_CHECKSUM)
                continue;
            unit.selectors.push_back(control.selector);
        }
        layout.extensionUnit = std::move(unit);
    }
    return layout;
}

UsbCamera::UsbCamera(sim::SimCamera& camera) : camera_(camera) {}

std::optional<UsbCamera::BusChange> UsbCamera::nextChange() {
    camera_.returnIfDue();
    const sim::BusView view = camera_.view();
    if (connected_ && (!view.onBus || view.generation != generation_)) {
        connected_ = false;
        return BusChange::Disconnect;
    }
    if (!connected_ && view.onBus) {
        connected_ = true;
        generation_ = view.generation;
        // Enumerating again: the host reads what the flash now says.
        const auto all = camera_.extensionControls();
        layout_ = layoutOf(view, camera_.config(), all);
        controls_.clear();
        if (const auto& unit = layout_.extensionUnit)
            for (const auto& control : all)
                if (std::find(unit->selectors.begin(), unit->selectors.end(), control.selector) !=
                    unit->selectors.end())
                    controls_.push_back(control);
        configuration_ = 0;
        requestError_ = kNoError;
        stream_.restart();
        return BusChange::Connect;
    }
    return std::nullopt;
}

void UsbCamera::forget() {
    connected_ = false;
}

bool UsbCamera::setConfiguration(std::uint8_t value) {
    if (value != 0 && value != kConfigurationValue)
        return false;
    configuration_ = value;
    stream_.restart();
    return true;
}

bool UsbCamera::setAltSetting(std::uint8_t interfaceNumber, std::uint8_t alt) {
    // Both interfaces have only their alternate setting 0 (bulk streaming).
    if ((interfaceNumber != kControlInterface && interfaceNumber != kStreamingInterface) ||
        alt != 0)
        return false;
    if (interfaceNumber == kStreamingInterface)
        stream_.restart();
    return true;
}

ControlReply UsbCamera::control(const SetupPacket& setup, std::span<const std::uint8_t> data) {
    if (!connected_)
        return {ControlReply::Outcome::NoDevice, {}};
    switch (setup.requestType & 0x60) {
    case kTypeStandard:
        return standardRequest(setup);
    case kTypeClass:
        return classRequest(setup, data);
    default:
        return {ControlReply::Outcome::Stall, {}}; // no vendor requests
    }
}

ControlReply UsbCamera::answer(const SetupPacket& setup, Bytes data) {
    if (data.size() > setup.length)
        data.resize(setup.length);
    return {ControlReply::Outcome::Ack, std::move(data)};
}

ControlReply UsbCamera::stall(std::uint8_t error) {
    requestError_ = error;
    return {ControlReply::Outcome::Stall, {}};
}

ControlReply UsbCamera::standardRequest(const SetupPacket& setup) {
    const std::uint8_t recipient = setup.requestType & 0x1F;
    switch (setup.request) {
    case kGetDescriptor: {
        if (!setup.deviceToHost())
            break;
        const std::uint8_t type = static_cast<std::uint8_t>(setup.value >> 8);
        const std::uint8_t index = static_cast<std::uint8_t>(setup.value);
        if (type == kDescriptorDevice)
            return answer(setup, deviceDescriptor(layout_));
        if (type == kDescriptorConfiguration && index == 0)
            return answer(setup, configurationDescriptor(layout_));
        if (type == kDescriptorString)
            if (auto text = stringDescriptor(layout_, index))
                return answer(setup, std::move(*text));
        // No device qualifier, no other speed, no BOS: a high-speed-only
        // USB 2.0 device stalls them.
        break;
    }
    case kGetStatus:
        if (setup.deviceToHost())
            return answer(setup, {0, 0});
        break;
    case kGetConfiguration:
        if (setup.deviceToHost())
            return answer(setup, {configuration_});
        break;
    case kSetConfiguration:
        if (setConfiguration(static_cast<std::uint8_t>(setup.value)))
            return answer(setup, {});
        break;
    case kGetInterface:
        if (setup.deviceToHost())
            return answer(setup, {0});
        break;
    case kSetInterface:
        if (setAltSetting(static_cast<std::uint8_t>(setup.index),
                          static_cast<std::uint8_t>(setup.value)))
            return answer(setup, {});
        break;
    case kClearFeature:
    case kSetFeature:
        // The driver clears the halt of the streaming endpoint when it stops
        // a stream: the next one starts with a fresh frame.
        if (recipient == kRecipientEndpoint && setup.value == kFeatureEndpointHalt &&
            (setup.index & 0xFF) == kStreamEndpoint)
            stream_.restart();
        return answer(setup, {});
    default:
        break;
    }
    return {ControlReply::Outcome::Stall, {}};
}

ControlReply UsbCamera::classRequest(const SetupPacket& setup, std::span<const std::uint8_t> data) {
    if ((setup.requestType & 0x1F) != kRecipientInterface)
        return {ControlReply::Outcome::Stall, {}};
    const std::uint8_t interfaceNumber = static_cast<std::uint8_t>(setup.index);
    const std::uint8_t entity = static_cast<std::uint8_t>(setup.index >> 8);
    if (interfaceNumber == kStreamingInterface && entity == 0)
        return streamingRequest(setup, data);
    if (interfaceNumber != kControlInterface)
        return {ControlReply::Outcome::Stall, {}};

    if (entity == 0) {
        // The interface's own control: the error code of the last request.
        if (setup.value >> 8 != kRequestErrorCodeControl || !setup.deviceToHost())
            return stall(kInvalidControlError);
        if (setup.request == kGetCur)
            return answer(setup, {requestError_});
        if (setup.request == kGetInfo)
            return answer(setup, {kInfoGet});
        return stall(kInvalidRequestError);
    }
    if (entity == kExtensionUnitId && layout_.extensionUnit)
        return unitRequest(setup, data);
    if (entity == kCameraTerminalId || entity == kProcessingUnitId || entity == kOutputTerminalId)
        return stall(kInvalidControlError); // they announce no controls
    return stall(kInvalidUnitError);
}

const sim::ControlInfo* UsbCamera::controlInfo(std::uint32_t selector) const {
    for (const auto& control : controls_)
        if (control.selector == selector)
            return &control;
    return nullptr;
}

ControlReply UsbCamera::unitRequest(const SetupPacket& setup, std::span<const std::uint8_t> data) {
    const std::uint32_t selector = setup.value >> 8;
    const sim::ControlInfo* info = controlInfo(selector);
    if (!info)
        return stall(kInvalidControlError);
    const bool in = setup.request != kSetCur;
    if (in != setup.deviceToHost())
        return stall(kInvalidRequestError);

    Bytes buffer;
    PropertyOp op;
    switch (setup.request) {
    case kGetInfo:
        // What the control takes is the firmware's table; asking costs no
        // request of the camera.
        requestError_ = kNoError;
        return answer(setup, {static_cast<std::uint8_t>((info->get ? kInfoGet : 0) |
                                                        (info->set ? kInfoSet : 0))});
    case kGetLen:
        op = PropertyOp::Size;
        break;
    case kGetCur:
        op = PropertyOp::Get;
        buffer.assign(setup.length, 0);
        break;
    case kSetCur:
        op = PropertyOp::Set;
        buffer.assign(data.begin(), data.end());
        break;
    default:
        return stall(kInvalidRequestError); // no minimum, maximum, resolution or default
    }

    std::uint32_t returned = 0;
    Status result = camera_.unitRequest(generation_, selector, op, buffer, returned);
    if (result == status::kDeviceGone && !camera_.reachable(generation_))
        return {ControlReply::Outcome::NoDevice, {}};
    if (op == PropertyOp::Size && result == status::kMoreData) {
        buffer = {static_cast<std::uint8_t>(returned), static_cast<std::uint8_t>(returned >> 8)};
        result = status::kOk;
    }
    if (status::failed(result))
        return stall(requestErrorFor(result));
    requestError_ = kNoError;
    if (op == PropertyOp::Get)
        buffer.resize(std::min<std::size_t>(returned, buffer.size()));
    else if (op == PropertyOp::Set)
        buffer.clear();
    return answer(setup, std::move(buffer));
}

ControlReply UsbCamera::streamingRequest(const SetupPacket& setup,
                                         std::span<const std::uint8_t> data) {
    const std::uint8_t selector = static_cast<std::uint8_t>(setup.value >> 8);
    if (selector != kProbeControl && selector != kCommitControl)
        return stall(kInvalidControlError);
    if ((setup.request != kSetCur) != setup.deviceToHost())
        return stall(kInvalidRequestError);
    switch (setup.request) {
    case kSetCur:
        // The UVC 1.0 layout is the first 26 bytes of this one.
        if (data.size() < 26 || data.size() > kStreamingControlLength)
            return stall(kOutOfRangeError);
        if (selector == kCommitControl)
            stream_.restart();
        requestError_ = kNoError;
        return answer(setup, {});
    case kGetCur:
    case kGetMin:
    case kGetMax:
    case kGetDef:
        // One format, one frame, one interval: every answer is the same.
        requestError_ = kNoError;
        return answer(setup, streamingParameters());
    case kGetLen:
        requestError_ = kNoError;
        return answer(setup, {static_cast<std::uint8_t>(kStreamingControlLength), 0});
    case kGetInfo:
        requestError_ = kNoError;
        return answer(setup, {kInfoGet | kInfoSet});
    default:
        return stall(kInvalidRequestError);
    }
}

} // namespace tessell::usbcam
