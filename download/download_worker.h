#pragma once

// The download worker: the thread the single-camera dialog starts for its
// Download command. It owns one download from start to end — serial number or
// rework preparation, the family's preparation (register writes, invalidated
// flash header, reset and reconnection on the same USB port), the procedure
// chosen by the camera's family, the image-quality check of two camera
// models — and reports only through the shared fields the dialog's timer reads.

#include "device/camera_link.h"
#include "device/download_status.h"
#include "device/ic_type.h"
#include "device/result.h"
#include "download/firmware_image.h"
#include "download/serial_number.h"
#include "platform/capture_devices.h"
#include "platform/usb_location.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tessell {

// Burn-log texts of the worker.
inline constexpr const char* kLogStart = "    Start download progress";
inline constexpr const char* kLogRework = "    REWORK!";
inline constexpr const char* kLogSerialDownload = "    ZLTA 7315/13/23 serial download";
inline constexpr const char* kLogResetBefore = "\tReset Device before download.";
inline constexpr const char* kLogResetFail = "     *Reset fail, stop download.";
inline constexpr const char* kLog7330 = "    ZLTA 7330 download";
inline constexpr const char* kLog7312 = " ZLTA 7312 download";
inline constexpr const char* kLogNotFound = "       Can't find device, stop download. (timeout)";
inline constexpr const char* kLogSuccess = "    Download Success";
inline constexpr const char* kAeFail = "   AE Fail...\r\n";

// The exit code the program keeps while a worker runs.
constexpr int kExitWorkerRunning = 38;

// Registers of the image-quality check (the download registers are named
// with the module download).
namespace reg {
constexpr std::uint16_t kAeStatusA = 0x059A;
constexpr std::uint16_t kAeStatusB = 0x059B;
} // namespace reg

// Camera models whose image quality is checked after a download.
constexpr std::uint16_t kAeCheckVendor = 0x064E;
constexpr std::uint16_t kAeCheckProducts[] = {0x812C, 0x812E};

// Reconnection after a reset: a try every 500 ms, given up after 31 misses.
constexpr auto kReopenPause = std::chrono::milliseconds(500);
constexpr int kReopenMisses = 30;

// What a download reports while it runs, written by its worker and read by
// whoever shows it (the dialog's timer, a multi-camera slot).
struct DownloadShared {
    std::atomic<int> busy{0};
    std::atomic<int> done{0};
    // 1 for a pass, from `outcome`.
    std::atomic<int> result{0};
    // What the download came to, with the reason of a failure. Written by
    // the worker before it sets done; read only once done reads 1.
    Result outcome;
    DownloadStatus status;
    // Where the DFU procedure stores its outcome byte (at position 1).
    std::array<std::uint8_t, 4> dfuResults{};
};

// Where one download's texts go. Called from the worker's thread:
// implementations hand window work to the window's thread.
class BurnObserver {
public:
    virtual ~BurnObserver() = default;
    // Appends to the operator's log and scrolls it to the last line.
    virtual void appendLog(std::string_view text) = 0;
    virtual void burnLog(std::string_view message) = 0;
    virtual void showMessage(std::string_view text) = 0;
    // Stops a running preview (its window moved off screen first), hides the
    // preview control and shows the progress display.
    virtual void leavePreviewForProgress() {}
    // The status area back to its idle picture.
    virtual void showIdleStatus() {}
};

// Serial-number and rework lines and boxes, shown where the download's go.
class ObserverSerialOutput final : public SerialNumberOutput {
public:
    explicit ObserverSerialOutput(BurnObserver& observer) : observer_(observer) {}
    void appendLog(std::string_view text) override { observer_.appendLog(text); }
    void showMessage(std::string_view text) override { observer_.showMessage(text); }

private:
    BurnObserver& observer_;
};

// Settings the worker follows.
struct DownloadOptions {
    bool preview = false; // `Preview` is 1
    int snAddr = 0;       // `SNAddr`
    // A pass moves the serial-number file on (every station but the one
    // whose numbers come from elsewhere).
    bool advanceSerialOnPass = true;
    bool rework = false;        // the Re-Work toggle, with the rework settings file
    bool moduleSetting = false; // `isMCM` is 1
    bool romBurn = false;       // `RomBurn` is 1
    int timeout = 30;           // `Timeout`, the module's checksum-busy polls
    // One camera of a multi-camera station: the plain ISP procedure with the
    // job's flash code, and the camera left open and in download mode, for
    // the station to take out of it once every camera has finished.
    bool stationBurn = false;
};

// One download: the camera, where to find it again, and what to write. The
// job holds everything it uses, so that downloads of several cameras can run
// side by side.
struct DownloadJob {
    platform::CaptureDevices* devices = nullptr;
    platform::UsbLocation* usb = nullptr;
    std::unique_ptr<CameraLink> link; // replaced on reconnection; closed at the end
    // The download's own copy of the image: the serial number and the rework
    // strings go into it, never into the image other cameras are sent.
    FirmwareImage image;
    IcType camera = chip::kUndetected;
    std::uint16_t vid = 0; // the camera's identity, remembered at selection
    std::uint16_t pid = 0;
    // The USB port the camera was selected on: after a reset the camera on
    // this port of this hub is the one, and no other.
    platform::UsbAddress address;
    std::uint8_t flashCode = 0;
    std::uint8_t familyIndex = 0;
    // Set when serial-number burning is on; shared with other downloads.
    SerialNumberSource* serials = nullptr;
    // The number this download took, once it took one.
    std::optional<SerialNumberText> serial;
    // The station history's record of this download, once written.
    std::string recordId;
    std::filesystem::path temporaryFolder; // the rework's work files
    DownloadOptions options;
};

// Runs one download on the calling thread (the worker thread). Every end —
// passed, failed or stopped early — sets the outcome and done (with result 1
// only for a pass) and clears busy, so the dialog always reaches its
// completion; a failure's reason goes to the trace under the camera's port.
// A number taken from the serial-number allocator is confirmed for a pass (a
// file that cannot be advanced fails the download) and released otherwise.
int download_worker(DownloadJob& job, DownloadShared& shared, BurnObserver& observer);

// Waits for the camera to come back on its USB port after a reset: the new
// link, or a timeout after 31 misses (about 15 s), with the burn-log line.
Outcome<std::unique_ptr<CameraLink>> reopen_camera(DownloadJob& job, BurnObserver& observer);

// The image-quality check: at least two of the bits of 0x059A and of 0x059B's
// top two bits set. A register that cannot be read fails the check.
Result ae_check(CameraLink& link);

} // namespace tessell
