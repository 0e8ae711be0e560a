#pragma once

// The download worker: the thread the single-camera dialog starts for its
// Download command. It owns one download from start to end — serial number or
// rework preparation, the family's preparation (register writes, invalidated
// flash header, reset and reconnection on the same USB port), the procedure
// chosen by the camera's family, the image-quality check of two camera
// models — and reports only through the shared fields the dialog's timer reads.

#include "device/camera_link.h"
#include "device/ic_type.h"
#include "download/download_status.h"
#include "download/firmware_image.h"
#include "download/serial_number.h"
#include "platform/capture_devices.h"
#include "platform/usb_location.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
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

// Fields of the dialog the worker writes and the dialog's timer reads.
struct DownloadShared {
    std::atomic<int> busy{0};
    std::atomic<int> done{0};
    std::atomic<int> result{0};
    std::atomic<int> exitCode{0};
    DownloadStatus status;
};

// What the worker asks of the dialog that started it. Called from the
// worker's thread: implementations hand window work to the window's thread.
class DownloadDialog {
public:
    virtual ~DownloadDialog() = default;
    // Appends to the dialog log and scrolls it to the last line.
    virtual void appendLog(std::string_view text) = 0;
    virtual void burnLog(std::string_view message) = 0;
    virtual void showMessage(std::string_view text) = 0;
    // Stops a running preview (its window moved off screen first), hides the
    // preview control and shows the progress display.
    virtual void leavePreviewForProgress() = 0;
    // The status area back to its idle picture.
    virtual void showIdleStatus() = 0;
};

// Serial-number and rework lines and boxes, shown by the dialog.
class DialogSerialOutput final : public SerialNumberOutput {
public:
    explicit DialogSerialOutput(DownloadDialog& dialog) : dialog_(dialog) {}
    void appendLog(std::string_view text) override { dialog_.appendLog(text); }
    void showMessage(std::string_view text) override { dialog_.showMessage(text); }

private:
    DownloadDialog& dialog_;
};

// Settings the worker follows.
struct DownloadOptions {
    bool preview = false;    // `Preview` is 1
    bool burnSerial = false; // serial-number burning on
    std::string serialFile;  // the `SNFile` name
    int snAddr = 0;          // `SNAddr`
    bool rework = false;     // the Re-Work toggle
    std::optional<int> settingsIndex;
    bool moduleSetting = false; // `isMCM` is 1
    bool romBurn = false;       // `RomBurn` is 1
    int timeout = 30;           // `Timeout`, the module's checksum-busy polls
};

// One download: the camera, where to find it again, and what to write.
struct DownloadJob {
    platform::CaptureDevices* devices = nullptr;
    platform::UsbLocation* usb = nullptr;
    std::unique_ptr<CameraLink> link; // replaced on reconnection; closed at the end
    FirmwareImage* image = nullptr;
    IcType camera = chip::kUndetected;
    std::uint16_t vid = 0; // the camera's identity, remembered at selection
    std::uint16_t pid = 0;
    // The USB port the camera was selected on; the hub too, when known, so
    // that a camera on the same port of another hub is never taken for it.
    std::uint16_t port = 0;
    std::string hub;
    int cameraCount = 0; // cameras the dialog counted
    std::uint8_t flashCode = 0;
    std::uint8_t familyIndex = 0;
    SerialNumberText serial;
    DownloadOptions options;
};

// Runs one download on the calling thread (the worker thread). Every end —
// passed, failed or stopped early — sets done (with result 1 only for a pass)
// and clears busy, so the dialog always reaches its completion.
int download_worker(DownloadJob& job, DownloadShared& shared, DownloadDialog& dialog);

// Waits for the camera to come back on the remembered port after a reset:
// the new link, or null after 31 misses (about 15 s), with the burn-log line.
std::unique_ptr<CameraLink> reopen_camera(DownloadJob& job, DownloadDialog& dialog);

// The image-quality check: at least two of the bits of 0x059A and of 0x059B's
// top two bits set. A register that cannot be read fails the check.
bool ae_check(CameraLink& link);

} // namespace tessell
