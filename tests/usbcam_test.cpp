// The emulated USB camera: its descriptors as the Linux backend reads them
// back, the class requests that reach the simulated camera, stalls with the
// driver's error codes, and its place on the bus across resets and unplugs.

#include "common/clock.h"
#include "common/little_endian.h"
#include "device/xu_protocol.h"
#include "platform/linux/usb_descriptors.h"
#include "platform/sim/camera.h"
#include "support/test_env.h"
#include "tools/usbcam/usb_camera.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace std::chrono_literals;
using nlohmann::json;

namespace tessell::usbcam {
namespace {

using BusChange = UsbCamera::BusChange;
using Outcome = ControlReply::Outcome;
using testing::TempDir;

// A camera made from one station-file device entry, without a platform.
struct UsbcamRig {
    explicit UsbcamRig(const json& device) : override(clock) {
        std::string error;
        const auto station =
            sim::parseStation(json{{"devices", {device}}}.dump(), dir.path(), error);
        EXPECT_TRUE(station) << error;
        if (station)
            camera = sim::SimCamera::create(0, station->devices[0],
                                            std::make_shared<sim::EventQueue>(), error);
        EXPECT_TRUE(camera) << error;
        usb = std::make_unique<UsbCamera>(*camera);
        EXPECT_EQ(usb->nextChange(), std::optional(BusChange::Connect));
    }

    ControlReply request(std::uint8_t type, std::uint8_t request, std::uint16_t value,
                         std::uint16_t index, std::uint16_t length, const Bytes& out = {}) {
        return usb->control({type, request, value, index, length}, out);
    }
    // Class requests on the Extension Unit, shaped as the driver sends them.
    ControlReply unit(std::uint8_t code, std::uint32_t selector, std::uint16_t length,
                      const Bytes& out = {}) {
        const std::uint8_t type = code == kSetCur ? 0x21 : 0xA1;
        return request(type, code, static_cast<std::uint16_t>(selector << 8),
                       kExtensionUnitId << 8 | kControlInterface, length, out);
    }
    ControlReply set(std::uint32_t selector, const Bytes& data) {
        return unit(kSetCur, selector, static_cast<std::uint16_t>(data.size()), data);
    }
    // What the driver reads after a stall.
    std::uint8_t errorCode() {
        const auto reply =
            request(0xA1, kGetCur, kRequestErrorCodeControl << 8, kControlInterface, 1);
        EXPECT_EQ(reply.outcome, Outcome::Ack);
        return reply.data.empty() ? 0xEE : reply.data[0];
    }
    ControlReply writeRegister(std::uint16_t address, std::uint8_t value) {
        set(XU_REG_ADDRESS,
            {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8)});
        return set(XU_REG_DATA, {value});
    }

    TempDir dir;
    ManualClock clock;
    ClockOverride override;
    std::shared_ptr<sim::SimCamera> camera;
    std::unique_ptr<UsbCamera> usb;
};

// Walks descriptors by bLength; every length must land inside the bytes.
std::vector<Bytes> split(const Bytes& bytes) {
    std::vector<Bytes> parts;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = bytes[at];
        if (length < 2 || at + length > bytes.size()) {
            ADD_FAILURE() << "descriptor at " << at << " has length " << length;
            break;
        }
        parts.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    return parts;
}

Bytes descriptorsOf(UsbCamera& usb) {
    Bytes bytes = deviceDescriptor(usb.layout());
    const Bytes configuration = configurationDescriptor(usb.layout());
    bytes.insert(bytes.end(), configuration.begin(), configuration.end());
    return bytes;
}

std::vector<std::uint32_t> firmwareSelectors(const sim::SimCamera& camera) {
    std::vector<std::uint32_t> selectors;
    for (const auto& control : camera.extensionControls())
        selectors.push_back(control.selector);
    return selectors;
}

TEST(UsbCamDescriptors, ParseBackWithTheLinuxBackendsReader) {
    struct Case {
        const char* xu;
        std::optional<Guid> guid;
        bool checksumAnnounced;
    };
    const Case cases[] = {{"primary", XU_PROPSET_PRIMARY, true},
                          {"fallback", XU_PROPSET_FALLBACK, true},
                          {"not_found", XU_PROPSET_PRIMARY, false},
                          {"none", std::nullopt, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xu);
        UsbcamRig rig(
            json{{"xu", c.xu}, {"rom", {{"vid", "0x1209"}, {"pid", "0x000C"}, {"bcd", "0x0102"}}}});
        const Bytes bytes = descriptorsOf(*rig.usb);
        const auto scan = platform::scanDescriptors(bytes, kConfigurationValue);
        EXPECT_EQ(scan.fault, "");
        ASSERT_TRUE(scan.identity);
        EXPECT_EQ(scan.identity->vid, 0x1209);
        EXPECT_EQ(scan.identity->pid, 0x000C);
        EXPECT_EQ(scan.identity->bcdDevice, 0x0102);
        if (!c.guid) {
            EXPECT_TRUE(scan.units.empty());
            continue;
        }
        ASSERT_EQ(scan.units.size(), 1u);
        const auto& unit = scan.units[0];
        EXPECT_EQ(unit.guid, *c.guid);
        EXPECT_EQ(unit.unitId, kExtensionUnitId);
        EXPECT_EQ(unit.interfaceNumber, kControlInterface);
        const auto selectors = firmwareSelectors(*rig.camera);
        ASSERT_FALSE(selectors.empty());
        for (std::uint32_t selector = 1; selector <= 32; ++selector) {
            const bool firmware =
                std::find(selectors.begin(), selectors.end(), selector) != selectors.end();
            const bool expected = firmware && (selector != XU_DFU_CHECKSUM || c.checksumAnnounced);
            EXPECT_EQ(unit.advertises(selector), expected) << "selector " << selector;
        }
    }

    // A webcam of another make has a unit, but not one of ours.
    UsbcamRig other(json{{"chip_id", nullptr}});
    const auto scan = platform::scanDescriptors(descriptorsOf(*other.usb), kConfigurationValue);
    ASSERT_EQ(scan.units.size(), 1u);
    EXPECT_NE(scan.units[0].guid, XU_PROPSET_PRIMARY);
    EXPECT_NE(scan.units[0].guid, XU_PROPSET_FALLBACK);
    EXPECT_FALSE(scan.units[0].advertises(XU_DFU_CHECKSUM));
}

TEST(UsbCamDescriptors, LengthsAndTotalsHoldTogether) {
    UsbcamRig rig(json::object());
    const Bytes configuration = configurationDescriptor(rig.usb->layout());
    EXPECT_EQ(le::load16(configuration, 2), configuration.size()) << "wTotalLength";

    const auto parts = split(configuration);
    // The class-specific totals of both interfaces cover exactly their own
    // class descriptors, up to the next interface or endpoint descriptor.
    int headers = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Bytes& d = parts[i];
        if (d[1] != 0x24 || d[2] != 0x01)
            continue;
        std::size_t sum = 0;
        for (std::size_t j = i; j < parts.size() && parts[j][1] == 0x24; ++j)
            sum += parts[j].size();
        const bool control = headers == 0;
        EXPECT_EQ(le::load16(d, control ? 5 : 4), sum)
            << (control ? "VideoControl" : "VideoStreaming");
        if (control) {
            EXPECT_EQ(le::load16(d, 3), 0x0110) << "UVC 1.1";
        }
        ++headers;
    }
    EXPECT_EQ(headers, 2);

    // The streaming endpoint is bulk, 512 bytes, on the streaming interface.
    const Bytes& endpoint = parts.back();
    EXPECT_EQ(endpoint, (Bytes{7, 0x05, kStreamEndpoint, 0x02, 0x00, 0x02, 0}));
    // The interface association groups both interfaces.
    EXPECT_EQ(parts[1], (Bytes{8, 0x0B, 0, 2, 0x0E, 0x03, 0, 0}));
}

TEST(UsbCamDescriptors, StringsComeFromTheIdentityAndStayWithinOneDescriptor) {
    const std::string longName(130, 'x');
    // U+1F4F7 needs a surrogate pair, which must not be cut in half.
    const std::string cut = std::string(125, 'y') + "\xF0\x9F\x93\xB7";
    UsbcamRig rig(
        json{{"rom", {{"manufacturer", "Zoë Optics"}, {"product", longName}, {"serial", cut}}}});
    const auto& layout = rig.usb->layout();
    const Bytes device = deviceDescriptor(layout);
    EXPECT_EQ(device[14], kManufacturerString);
    EXPECT_EQ(device[15], kProductString);
    EXPECT_EQ(device[16], kSerialString);

    EXPECT_EQ(stringDescriptor(layout, 0), (Bytes{4, 0x03, 0x09, 0x04}));
    EXPECT_EQ(stringDescriptor(layout, kManufacturerString),
              (Bytes{22, 0x03, 'Z', 0,   'o', 0,   0xEB, 0,   ' ', 0,   'O',
                     0,  'p',  0,   't', 0,   'i', 0,    'c', 0,   's', 0}));
    const auto product = stringDescriptor(layout, kProductString);
    ASSERT_TRUE(product);
    EXPECT_EQ(product->size(), 2u + 2 * 126);
    EXPECT_EQ(std::size_t{product->front()}, product->size());
    const auto serial = stringDescriptor(layout, kSerialString);
    ASSERT_TRUE(serial);
    EXPECT_EQ(serial->size(), 2u + 2 * 125) << "the pair is left out whole";
    EXPECT_FALSE(stringDescriptor(layout, 4));

    // No strings: no indexes, and the host is told so by a stall.
    UsbcamRig bare(json::object());
    const Bytes plain = deviceDescriptor(bare.usb->layout());
    EXPECT_EQ(plain[14], 0);
    EXPECT_EQ(plain[16], 0);
    EXPECT_EQ(bare.request(0x80, 0x06, 0x0300 | kSerialString, 0x0409, 255).outcome,
              Outcome::Stall);
    // GET_DESCRIPTOR answers at most wLength bytes.
    const auto first = bare.request(0x80, 0x06, 0x0200, 0, 9);
    ASSERT_EQ(first.outcome, Outcome::Ack);
    EXPECT_EQ(first.data.size(), 9u);
    EXPECT_EQ(bare.request(0x80, 0x06, 0x0600, 0, 10).outcome, Outcome::Stall)
        << "a high-speed-only device has no qualifier";
}

TEST(UsbCamRequests, LengthAndInfoPerSelectorComeFromTheFirmwareTable) {
    UsbcamRig rig(json{{"block_size", 2048}, {"sf_block_size", 1024}});
    struct Case {
        std::uint32_t selector;
        std::uint16_t length;
        std::uint8_t info;
    };
    const Case cases[] = {{XU_REG_ADDRESS, 2, 0x02},
                          {XU_REG_DATA, 1, 0x03},
                          {XU_DFU_ACCESS_CONTROL, 2048, 0x02},
                          {XU_DFU_CHECKSUM, 1, 0x01},
                          {XU_SF_ADDRESS, 4, 0x02},
                          {XU_SF_DATA_4K, 1024, 0x03},
                          {XU_SF_DATA_64, 64, 0x03},
                          {XU_SF_ID, 3, 0x01},
                          {XU_SF_PARAM_BLOCK, 27, 0x02},
                          {XU_FW_CHECKSUM_TRIGGER, 1, 0x03}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        const auto length = rig.unit(kGetLen, c.selector, 2);
        ASSERT_EQ(length.outcome, Outcome::Ack);
        EXPECT_EQ(length.data, (Bytes{static_cast<std::uint8_t>(c.length),
                                      static_cast<std::uint8_t>(c.length >> 8)}));
        const auto info = rig.unit(kGetInfo, c.selector, 1);
        ASSERT_EQ(info.outcome, Outcome::Ack);
        EXPECT_EQ(info.data, Bytes{c.info});
    }
    // The table is what the firmware does: a read of a write-only control and
    // a write of a read-only one stall.
    EXPECT_EQ(rig.unit(kGetCur, XU_REG_ADDRESS, 2).outcome, Outcome::Stall);
    EXPECT_EQ(rig.set(XU_SF_ID, {1, 2, 3}).outcome, Outcome::Stall);

    // A selector the unit does not announce, and requests it does not know.
    EXPECT_EQ(rig.unit(kGetLen, 1, 2).outcome, Outcome::Stall);
    EXPECT_EQ(rig.errorCode(), kInvalidControlError);
    EXPECT_EQ(rig.unit(kGetMin, XU_REG_DATA, 1).outcome, Outcome::Stall);
    EXPECT_EQ(rig.errorCode(), kInvalidRequestError);
    // A GET shaped as host-to-device is refused, not served.
    EXPECT_EQ(rig.request(0x21, kGetCur, XU_REG_DATA << 8, kExtensionUnitId << 8, 1).outcome,
              Outcome::Stall);
    // Units that announce no controls, and one that does not exist.
    EXPECT_EQ(rig.request(0xA1, kGetInfo, 0x0100, kProcessingUnitId << 8, 1).outcome,
              Outcome::Stall);
    EXPECT_EQ(rig.errorCode(), kInvalidControlError);
    EXPECT_EQ(rig.request(0xA1, kGetInfo, 0x0100, 9 << 8, 1).outcome, Outcome::Stall);
    EXPECT_EQ(rig.errorCode(), kInvalidUnitError);
}

TEST(UsbCamRequests, RegisterWritesAndReadsReachTheCameraModel) {
    UsbcamRig rig(json{
        {"chip_id", "0xC2"}, {"registers", {{"0x2509", "0x5A"}}}, {"state_file", "state.json"}});
    EXPECT_EQ(rig.set(XU_REG_ADDRESS, {0xFF, 0x20}).outcome, Outcome::Ack);
    const auto chip = rig.unit(kGetCur, XU_REG_DATA, 1);
    ASSERT_EQ(chip.outcome, Outcome::Ack);
    EXPECT_EQ(chip.data, Bytes{0xC2});

    rig.set(XU_REG_ADDRESS, {0x09, 0x25});
    EXPECT_EQ(rig.unit(kGetCur, XU_REG_DATA, 1).data, Bytes{0x5A});

    // The LED registers: what is written is read back and shows in the state file.
    EXPECT_EQ(rig.writeRegister(0x2041, 0xFF).outcome, Outcome::Ack);
    EXPECT_EQ(rig.writeRegister(0x2043, 0xFF).outcome, Outcome::Ack);
    rig.set(XU_REG_ADDRESS, {0x41, 0x20});
    EXPECT_EQ(rig.unit(kGetCur, XU_REG_DATA, 1).data, Bytes{0xFF});
    const auto state = json::parse(rig.dir.read("state.json"));
    EXPECT_EQ(state["led"], "on");
    EXPECT_EQ(state["registers"]["0x2041"], 0xFF);
    EXPECT_EQ(state["requests"], 10) << "each class request reaches the firmware once";

    // The serial flash's identification through the firmware's latch.
    rig.set(XU_SF_CMD_INDEX, {kIdentificationSlot});
    rig.set(XU_SF_CMD_VALUE, {0x9F});
    const auto id = rig.unit(kGetCur, XU_SF_ID, 3);
    ASSERT_EQ(id.outcome, Outcome::Ack);
    EXPECT_EQ(id.data.size(), 3u);
    EXPECT_NE(id.data, (Bytes{0, 0, 0}));
}

TEST(UsbCamRequests, FaultsStallWithTheErrorCodeTheDriverReads) {
    UsbcamRig rig(json{{"faults",
                        {{{"op", "set"}, {"selector", 3}, {"nth", 1}, {"status", "0x80070015"}},
                         {{"op", "get"}, {"selector", 3}, {"nth", 1}, {"status", "0x80004005"}},
                         {{"op", "len"}, {"selector", 15}, {"nth", 1}, {"status", "0x80070057"}},
                         {{"not_ready", 1}}}}});
    EXPECT_EQ(rig.errorCode(), kNoError);
    rig.set(XU_REG_ADDRESS, {0x41, 0x20});
    EXPECT_EQ(rig.set(XU_REG_DATA, {0xFF}).outcome, Outcome::Stall);
    EXPECT_EQ(rig.errorCode(), kNotReadyError);
    EXPECT_EQ(rig.unit(kGetCur, XU_REG_DATA, 1).outcome, Outcome::Stall);
    EXPECT_EQ(rig.errorCode(), kUnknownError);
    // The faulted write had no effect; the next one goes through and clears the code.
    EXPECT_EQ(rig.unit(kGetCur, XU_REG_DATA, 1).data, Bytes{0x00});
    EXPECT_EQ(rig.errorCode(), kNoError);
    EXPECT_EQ(rig.set(XU_REG_DATA, {0xFF}).outcome, Outcome::Ack);
    EXPECT_EQ(rig.unit(kGetCur, XU_REG_DATA, 1).data, Bytes{0xFF});

    EXPECT_EQ(rig.unit(kGetLen, XU_SF_DATA_4K, 2).outcome, Outcome::Stall);
    EXPECT_EQ(rig.errorCode(), kOutOfRangeError);
    EXPECT_EQ(rig.unit(kGetLen, XU_SF_DATA_4K, 2).outcome, Outcome::Ack);

    // The probe of a firmware that is not ready yet: EBUSY on the host.
    EXPECT_EQ(rig.unit(kGetCur, XU_DFU_CHECKSUM, 1).outcome, Outcome::Stall);
    EXPECT_EQ(rig.errorCode(), kNotReadyError);
    EXPECT_EQ(rig.unit(kGetCur, XU_DFU_CHECKSUM, 1).outcome, Outcome::Ack);

    // A wrong length is the firmware's refusal, not a crash or a short answer.
    EXPECT_EQ(rig.unit(kGetCur, XU_SF_ID, 2).outcome, Outcome::Stall);
    EXPECT_EQ(rig.errorCode(), kOutOfRangeError);

    EXPECT_EQ(requestErrorFor(status::kSetNotFound), kInvalidUnitError);
    EXPECT_EQ(requestErrorFor(status::kNotFound), kInvalidControlError);
    EXPECT_EQ(requestErrorFor(status::kDeviceGone), kUnknownError);
}

TEST(UsbCamBus, ResetDisconnectsThenConnectsAfterTheReenumerationTime) {
    UsbcamRig rig(json{{"reenumerate_ms", 300}, {"state_file", "state.json"}});
    EXPECT_EQ(rig.usb->nextChange(), std::nullopt);
    rig.usb->setConfiguration(kConfigurationValue);

    // The watchdog sequence: the write that triggers it is still answered.
    rig.writeRegister(0x20F5, 0xAA);
    rig.writeRegister(0x20F6, 0x55);
    EXPECT_EQ(rig.writeRegister(0x20F7, 0xA0).outcome, Outcome::Ack);
    EXPECT_EQ(rig.usb->nextChange(), std::optional(BusChange::Disconnect));
    EXPECT_FALSE(rig.usb->connected());
    EXPECT_EQ(rig.unit(kGetCur, XU_REG_DATA, 1).outcome, Outcome::NoDevice);

    rig.clock.advance(299ms);
    EXPECT_EQ(rig.usb->nextChange(), std::nullopt);
    rig.clock.advance(1ms);
    EXPECT_EQ(rig.usb->nextChange(), std::optional(BusChange::Connect));
    EXPECT_EQ(rig.usb->configuration(), 0) << "a new enumeration starts unconfigured";
    EXPECT_EQ(rig.usb->nextChange(), std::nullopt);
    EXPECT_EQ(json::parse(rig.dir.read("state.json"))["arrivals"], 1);
    // The firmware restarted: the register address is back at 0.
    rig.set(XU_REG_ADDRESS, {0xFF, 0x20});
    EXPECT_EQ(rig.unit(kGetCur, XU_REG_DATA, 1).data, Bytes{0xC0});

    // The chip reset through 0x2030..0x2034 does the same.
    for (auto [address, value] : {std::pair<std::uint16_t, std::uint8_t>{0x2034, 0},
                                  {0x2030, 0xFF},
                                  {0x2031, 0},
                                  {0x2032, 0},
                                  {0x2033, 2},
                                  {0x2034, 1}})
        rig.writeRegister(address, value);
    // Gone and back before the host was told: it is told both, in order.
    rig.clock.advance(1s);
    rig.camera->returnIfDue();
    EXPECT_EQ(rig.usb->nextChange(), std::optional(BusChange::Disconnect));
    EXPECT_EQ(rig.usb->nextChange(), std::optional(BusChange::Connect));
    EXPECT_EQ(json::parse(rig.dir.read("state.json"))["resets"], 2);
}

TEST(UsbCamBus, UnplugsStayGoneUntilThePlugComesBack) {
    UsbcamRig rig(json{{"faults", {{{"unplug_after", 2}}, {{"no_return", true}}}}});
    rig.set(XU_REG_ADDRESS, {0xFF, 0x20});
    EXPECT_EQ(rig.usb->nextChange(), std::nullopt);
    EXPECT_EQ(rig.unit(kGetCur, XU_REG_DATA, 1).outcome, Outcome::Ack)
        << "the last request is answered";
    EXPECT_EQ(rig.usb->nextChange(), std::optional(BusChange::Disconnect));
    rig.clock.advance(10s);
    EXPECT_EQ(rig.usb->nextChange(), std::nullopt);

    // Plugged in again by the station file.
    rig.camera->applyStation(true, "sim-hub-1", 1);
    EXPECT_EQ(rig.usb->nextChange(), std::optional(BusChange::Connect));

    // A reset with no return: gone for good.
    rig.writeRegister(0x20F5, 0xAA);
    rig.writeRegister(0x20F6, 0x55);
    rig.writeRegister(0x20F7, 0xA0);
    EXPECT_EQ(rig.usb->nextChange(), std::optional(BusChange::Disconnect));
    rig.clock.advance(10s);
    EXPECT_EQ(rig.usb->nextChange(), std::nullopt);

    // Moved to another port while plugged in: out, then in again.
    UsbcamRig moved(json::object());
    moved.camera->applyStation(true, "sim-hub-2", 3);
    EXPECT_EQ(moved.usb->nextChange(), std::optional(BusChange::Disconnect));
    EXPECT_EQ(moved.usb->nextChange(), std::optional(BusChange::Connect));
    // A host that went away is told everything again when it comes back.
    moved.usb->forget();
    EXPECT_EQ(moved.usb->nextChange(), std::optional(BusChange::Connect));
}

TEST(UsbCamStreaming, ProbeAnswersTheOneModeAndFramesArePaced) {
    UsbcamRig rig(json::object());
    const std::uint16_t streaming = kStreamingInterface;
    const auto probe = rig.request(0xA1, kGetCur, kProbeControl << 8, streaming, 34);
    ASSERT_EQ(probe.outcome, Outcome::Ack);
    ASSERT_EQ(probe.data.size(), kStreamingControlLength);
    EXPECT_EQ(probe.data[2], 1) << "format";
    EXPECT_EQ(probe.data[3], 1) << "frame";
    EXPECT_EQ(static_cast<std::uint32_t>(probe.data[18] | probe.data[19] << 8 |
                                         probe.data[20] << 16 | probe.data[21] << 24),
              kFrameBytes);
    EXPECT_EQ(rig.request(0x21, kSetCur, kCommitControl << 8, streaming, 34, probe.data).outcome,
              Outcome::Ack);
    EXPECT_EQ(rig.request(0x21, kSetCur, kProbeControl << 8, streaming, 3, {1, 2, 3}).outcome,
              Outcome::Stall);

    VideoStream& stream = rig.usb->stream();
    auto frame = [&] {
        Bytes picture;
        std::vector<std::uint8_t> headers;
        for (int payloads = 0; payloads < 100; ++payloads) {
            const auto payload = stream.nextPayload(VideoStream::kPayloadMax);
            if (!payload) {
                ADD_FAILURE() << "no payload while a frame is under way";
                break;
            }
            EXPECT_EQ((*payload)[0], VideoStream::kHeaderLength);
            headers.push_back((*payload)[1]);
            picture.insert(picture.end(), payload->begin() + 2, payload->end());
            if ((*payload)[1] & VideoStream::kHeaderEndOfFrame)
                break;
        }
        return std::pair(picture, headers);
    };
    const auto [first, firstHeaders] = frame();
    EXPECT_EQ(first, stream.picture());
    EXPECT_EQ(first.size(), kFrameBytes);
    EXPECT_EQ(firstHeaders.size(), 3u) << "38400 bytes in payloads of 16382";
    for (std::size_t i = 0; i + 1 < firstHeaders.size(); ++i)
        EXPECT_EQ(firstHeaders[i], firstHeaders[0] & ~VideoStream::kHeaderEndOfFrame);

    // The next frame waits for its time, then toggles the frame id.
    EXPECT_FALSE(stream.nextPayload(VideoStream::kPayloadMax));
    rig.clock.advance(99ms);
    EXPECT_FALSE(stream.nextPayload(VideoStream::kPayloadMax));
    rig.clock.advance(1ms);
    const auto [second, secondHeaders] = frame();
    EXPECT_EQ(second, first);
    EXPECT_NE(secondHeaders[0] & VideoStream::kHeaderFrameId,
              firstHeaders[0] & VideoStream::kHeaderFrameId);

    // A transfer smaller than the payload limit gets a smaller payload.
    rig.clock.advance(100ms);
    const auto small = stream.nextPayload(512);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->size(), 512u);
}

} // namespace
} // namespace tessell::usbcam
