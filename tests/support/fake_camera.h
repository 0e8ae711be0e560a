#pragma once

// A scripted stand-in for the platform's capture devices and USB location,
// small enough to read in one go: a camera with a register file, the
// serial-port block wired to a flash that answers a few commands, and the
// Extension-Unit selectors the device layer uses. It records what the device
// code sends so that tests can check the bytes on the wire.

#include "device/flash_parts.h"
#include "platform/capture_devices.h"
#include "platform/usb_location.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessell::testing {

struct RecordedRequest {
    bool viaVendor = false;
    Guid propertySet; // null for vendor requests
    std::uint32_t selector = 0;
    platform::PropertyOp op = platform::PropertyOp::Get;
    std::uint32_t nodeId = 0;
    std::vector<std::uint8_t> data; // sent bytes (Set)
};

class FakeCamera {
public:
    enum class Answers { Primary, Fallback, NotFound };

    explicit FakeCamera(std::uint8_t chipId = 0xC0, std::uint8_t variant = 0);

    // --- Script ---------------------------------------------------------------
    std::map<std::uint16_t, std::uint8_t> registers;
    Answers answers = Answers::Primary;
    std::deque<Status> probeAnswers; // answers of the checksum probe before the usual one
    bool firmwareFlashId = true;     // a write of 13 to selector 7 succeeds
    std::map<std::uint8_t, flash::IdBytes> flashIds; // answers to 0x90, 0xAB, 0x9F
    std::uint8_t flashStatus = 0;
    int writeInProgressReads = 0; // status reads that still show write in progress
    bool busyForever = false;     // register 0x2021 never clears
    bool dead = false;            // every request answers "device gone"
    // Script of the next requests of (op, selector): a status is answered with
    // no effect, an empty entry lets the request through.
    std::map<std::pair<platform::PropertyOp, std::uint32_t>, std::deque<std::optional<Status>>>
        failures;
    std::map<std::uint32_t, std::uint32_t> sizes{{10, 4096}, {15, 4096}};
    std::uint16_t vendorSizeHighBits = 0; // upper half of the vendor size answer
    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(0x10000, 0xFF);

    // The `times` requests of (op, selector) after the next `after` answer `status`.
    void fail(platform::PropertyOp op, std::uint32_t selector, Status status, int times = 1,
              int after = 0) {
        auto& script = failures[{op, selector}];
        for (int i = 0; i < after; ++i)
            script.push_back(std::nullopt);
        for (int i = 0; i < times; ++i)
            script.push_back(status);
    }
    // Called for every request before it is answered.
    std::function<void(const RecordedRequest&)> onRequest;

    // --- Observation ------------------------------------------------------------
    std::vector<RecordedRequest> requests;
    std::vector<std::vector<std::uint8_t>> vendorSets; // raw buffers of vendor Set
    std::vector<std::pair<std::uint16_t, std::uint8_t>> registerWrites;
    std::vector<std::vector<std::uint8_t>> spiFrames; // bytes sent between select and release
    std::vector<std::uint8_t> spiUnselectedBytes;     // bytes sent with the flash released
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> blockWrites; // 15 and 22
    std::vector<std::uint16_t> sectorErases;

    std::uint8_t csValue() const;
    std::size_t countRequests(std::uint32_t selector, platform::PropertyOp op) const;

    // One Extension-Unit request (both transports end here).
    Status handle(bool viaVendor, const Guid& propertySet, std::uint32_t selector,
                  platform::PropertyOp op, std::uint32_t nodeId, std::span<std::uint8_t> data,
                  std::uint32_t& bytesReturned);

private:
    std::uint8_t readRegister(std::uint16_t address);
    void writeRegister(std::uint16_t address, std::uint8_t value);
    std::uint8_t nextSpiAnswer();

    std::uint16_t selected_ = 0;
    std::uint16_t flashAddress_ = 0;
    std::uint8_t slot_ = 0;
    flash::IdBytes latchedId_{};
    bool selectedFlash_ = false;
    bool shiftPending_ = false;
    std::vector<std::uint8_t> frame_;
    std::size_t answered_ = 0;
};

// One device of a fake list.
struct FakeDevice {
    platform::DeviceListKind list = platform::DeviceListKind::VideoInput;
    std::string path;
    std::string friendlyName = "USB Camera";
    bool pathRead = true;
    std::shared_ptr<FakeCamera> camera; // null: a webcam whose XU never answers
    bool topology = true;
    bool vendor = false;
    bool control = true;
    bool bindable = true;
    std::vector<Guid> nodeTypes{platform::kNodeTypeDevSpecific};
};

// "\\?\usb#vid_1209&pid_0002&mi_00#6&<key>&0&0000#{...}" and variants.
std::string usbDevicePath(const std::string& key, const std::string& bus = "usb");

class FakeCaptureDevices final : public platform::CaptureDevices {
public:
    std::vector<FakeDevice> devices;
    Status listFailure = status::kOk; // non-zero: list() answers it
    int binds = 0;

    FakeDevice& add(FakeDevice device) {
        devices.push_back(std::move(device));
        return devices.back();
    }

    Status list(platform::DeviceListKind kind,
                std::vector<platform::DeviceEntry>& entries) override;
    std::unique_ptr<platform::CaptureDevice> bind(platform::DeviceListKind kind,
                                                  std::size_t position,
                                                  const platform::DeviceEntry& entry) override;
};

class FakeUsbLocation final : public platform::UsbLocation {
public:
    std::map<std::string, platform::UsbDeviceInfo> byPath; // by device path
    std::vector<platform::UsbDeviceInfo> devices;
    Status listFailure = status::kOk;

    std::optional<platform::UsbDeviceInfo> locate(std::string_view devicePath) override;
    Status imagingDevices(std::vector<platform::UsbDeviceInfo>& out) override;
};

} // namespace tessell::testing
