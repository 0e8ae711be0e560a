#pragma once

// One camera opened by the tool. `OpenCamera` walks a device list of the
// platform, picks the camera at a position, binds its Extension-Unit channel,
// reads the chip identification register and decides the camera's family.
// Everything above (download procedures, dialogs, workers) reaches a camera
// through a link.

#include "device/camera_device.h"
#include "device/result.h"
#include "platform/capture_devices.h"

#include <functional>
#include <memory>
#include <span>

namespace tessell {

// Friendly name of every camera opened from the sensor-camera list.
inline constexpr const char* kSensorCameraName = "Sensor Camera";

// Reads flash bytes [start, end) into buffer[start..end) with the given flash
// code. The download subsystem's flash read.
using FlashRangeReader = std::function<Result(std::span<std::uint8_t> buffer, FlashCode code,
                                              std::uint32_t start, std::uint32_t end)>;

constexpr std::size_t kDumpSize = 0x10000;

class CameraLink {
public:
    explicit CameraLink(platform::CaptureDevices& devices);
    ~CameraLink();
    CameraLink(const CameraLink&) = delete;
    CameraLink& operator=(const CameraLink&) = delete;

    // Success when a camera was opened; status 1 (kNothingDone) when none
    // was, 160 (refused) for a family that is no argument of opening
    // (`chip::kUndetected`). `family` is `chip::kAnyFamily` for any. `index` counts every
    // device of the list, USB or not; the camera opened is the first USB camera of a matching
    // family at or after it. `mediaFoundation` 0 walks the video-input list, otherwise the
    // sensor-camera list.
    Result OpenCamera(IcType family, int index, int mediaFoundation);
    // Always the video-input list: the reconnect after a chip reset.
    Result OpenCameraVideoInput(IcType family, int index) { return OpenCamera(family, index, 0); }
    // The device lists the link opens cameras from.
    platform::CaptureDevices& devices() const { return devices_; }
    // Destroys the device; the next `OpenCamera` creates a new one.
    void CloseCamera();

    // The opened camera's device and channel; null unless the last open succeeded.
    CameraDevice* device() const { return opened_ ? device_.get() : nullptr; }
    XuChannel* channel() const { return opened_ ? device_->channel() : nullptr; }

    Status ReadRegister(std::uint16_t address, std::uint8_t& value);
    Status WriteRegister(std::uint16_t address, std::uint8_t value);
    // Read-modify-write: sets the bits of `set`, clears those of `clear`. A
    // register that cannot be read is left alone (with a trace line), so
    // that nothing is written from a value never seen.
    Status changeRegisterBits(std::uint16_t address, std::uint8_t set, std::uint8_t clear);
    // The opened camera's family; `chip::kUndetected` without one.
    IcType GetIcType() const;

    Status IdentifyFlash(FlashCode& code);
    Status SetFlashProtection(FlashCode code, bool protect);
    // Reads flash 0..0xFFFF into `buffer` (at least 64 KiB) with `read`;
    // status 1 (kNothingDone) for a smaller buffer or no reader, else what
    // the read came to.
    Result DumpFlash(std::span<std::uint8_t> buffer, FlashCode code, const FlashRangeReader& read);

    // Set by the single-camera download command before it starts the worker:
    // the DFU procedure sends 2 x value + 1 as its enable byte and stores its
    // outcome at results[value].
    struct DownloadSlot {
        int value = 0;
        std::span<std::uint8_t> results;
    };
    DownloadSlot& downloadSlot() { return download_; }

private:
    enum class Candidate { Opened, PassedOver };
    Candidate tryCandidate(IcType family, platform::DeviceListKind kind,
                           std::unique_ptr<platform::CaptureDevice> bound,
                           const platform::DeviceEntry& entry);

    platform::CaptureDevices& devices_;
    std::unique_ptr<CameraDevice> device_;
    DownloadSlot download_;
    bool opened_ = false;
};

} // namespace tessell
