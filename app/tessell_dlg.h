#pragma once

// `CTessellDlg`: the single-camera tool. It holds the dialog's state and runs
// its algorithms (start-up, the camera list and selection, device changes,
// Download with its checks, progress and completion, the maintenance
// commands); what it shows goes through a DialogView, its timers and the
// work of other threads through a DialogThread. The same controller serves
// the window and the unattended command-line run.

#include "app/dialog_view.h"
#include "app/preview_control.h"
#include "app/startup_flags.h"
#include "common/dialog_loop.h"
#include "device/camera_link.h"
#include "device/usb_identity.h"
#include "download/burn_session.h"
#include "download/download_worker.h"
#include "download/firmware_image.h"
#include "download/flash_access.h"
#include "logs/log_files.h"
#include "platform/capture_devices.h"
#include "platform/hotplug.h"
#include "platform/power.h"
#include "platform/usb_location.h"
#include "records/station_history.h"
#include "station/settings.h"

#include <array>
#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tessell {

// Timers of the dialog.
inline constexpr int kProgressTimer = 37008;    // 100 ms: progress and completion
inline constexpr int kReselectTimer = 37009;    // 2000 ms: selection allowed again
inline constexpr int kAutoDownloadTimer = 2457; // 1000 ms: auto-download start
inline constexpr int kPreviewEndTimer = 1234;   // `Preview_Time`: preview after success ends
// One-shot timers of the dialog's own: pauses the dialog's thread waits out
// without sleeping, so that it keeps painting and answering meanwhile.
inline constexpr int kStartDownloadPause = 0x7E00;
inline constexpr int kCompletionPause = 0x7E01;
inline constexpr int kDeviceChangePause = 0x7E02;
inline constexpr int kCameraWait = 0x7E03; // unattended, no camera yet

inline constexpr std::string_view kDialogCaption = "Halvane Serial Flash Write Tool";
inline constexpr std::string_view kApplicationTitle = "Tessell";
inline constexpr std::string_view kToolVersion = "v1.0.3.0c";

// The count-down picture a download's progress shows in its last 30 percent
// (3, 2, 1); none where the picture stays as it is.
std::optional<StatusPicture> countDownPicture(int progress);

// The services of the machine the dialog runs on.
struct DialogServices {
    platform::CaptureDevices* devices = nullptr;
    platform::UsbLocation* usb = nullptr;
    platform::Hotplug* hotplug = nullptr; // none: the dialog stays inert
    platform::PowerStatus* power = nullptr;
    std::filesystem::path programFolder;
    std::filesystem::path temporaryFolder;
    // Standard output: the AC-power line goes there.
    std::ostream* out = nullptr;
    // Standard error: unattended, files that cannot be written are named there.
    std::ostream* err = nullptr;
    // Time stamps of the log files (the system clock when empty).
    LogFiles::Now now;
};

class CTessellDlg final : public BurnObserver {
public:
    CTessellDlg(DialogServices services, DialogView& view, DialogThread& thread, StartupFlags flags,
                PreviewControl& preview);
    ~CTessellDlg() override;
    CTessellDlg(const CTessellDlg&) = delete;
    CTessellDlg& operator=(const CTessellDlg&) = delete;

    // Start-up of the window. False when device notifications could not be
    // registered: nothing else was initialised and the window stays inert.
    bool OnInitDialog();

    // Handlers, all on the dialog's thread.
    void SelectCamera();
    void OnDeviceChange(const platform::HotplugEvent& event);
    void OnTimer(int id);
    void OnBrowse();
    void OnDownload();
    void OnDump();
    void OnErase();
    void OnLedOn();
    void OnLedOff();
    void OnReworkToggle();
    void OnPreviewToggle();
    void OnTest();
    void OnExit();
    // The window became active: the status box shows the status state again.
    void OnActivate();
    // The window is closed: the process ends with `exitCode`.
    void OnDestroy();

    // Questions of other processes.
    int answerAcQuery();
    bool cameraOpen() const { return link_ != nullptr; }
    bool imageBufferExists() const { return !image_.buffer().empty(); }

    // State, for the view and for tests.
    bool ended() const { return ended_; }
    int exitCode() const { return exitCode_; }
    std::string logText() const;
    int statusState() const { return statusState_; }
    // From Download's start (its pause included) to the end of completion.
    bool downloadRunning() const {
        return session_ != nullptr || pauses_.count(kStartDownloadPause) != 0;
    }
    // No worker is at work now: none started yet, or it reported its outcome.
    bool workerDone() const { return !session_ || session_->finished(); }
    bool dumpRunning() const { return dumpRunning_; }
    int identityCheck() const { return identityCheck_; }
    bool selectEnabled() const { return selectEnabled_ != 0; }
    const ToolSettings& settings() const { return settings_; }
    const StartupFlags& flags() const { return flags_; }
    const FirmwareImage& image() const { return image_; }
    const std::string& imagePath() const { return imagePath_; }
    int cameraCount() const { return static_cast<int>(cameraTable_.size()); }

    // BurnObserver: called from the worker's thread.
    void appendLog(std::string_view text) override;
    void burnLog(std::string_view message) override;
    void showMessage(std::string_view text) override;
    void leavePreviewForProgress() override;
    void showIdleStatus() override;

private:
    struct CameraEntry {
        int source = 0; // 0 the video-input list, 1 the sensor-camera list
        int index = 0;
    };
    class BoxForErrors;

    void appendText(std::string_view text);
    void showLog();
    void scrollLog();
    void showStatus(int state);
    void paint(StatusPicture picture);
    void burnLogLine(std::string_view message);
    void writeCmdModeLog(std::string_view message);
    void endProcess(int code);
    // Posts work that runs only while the dialog still exists.
    void postToDialog(std::function<void()> work);

    void applySettingsSteps(const std::vector<SettingsStep>& steps);
    void makeLogFiles();
    void fillCameraList();
    void showCameraIdentity();
    // Loads `imagePath_` with its log lines; whether it loaded.
    bool readImageFile();
    void loadImage();
    // Ends a command-line run that stopped at a check with no exit code of
    // its own, as closing the window would.
    void endStoppedCommandLineRun();
    void startWorker();
    void progressTick();
    void completeDownload();
    // Runs `next` on the dialog's thread once `pause` has passed, on the
    // one-shot timer `id`.
    void after(int id, Clock::Duration pause, std::function<void()> next);
    void handleDeviceChange(const platform::HotplugEvent& event);
    void deviceChangeHandled();
    // Device changes that came while a download ran, taken as one after it.
    void replayDeviceChanges();
    void leavePreview();
    void waitForDump();
    void runDump(const std::string& path, CameraLink& link, std::uint8_t familyIndex);
    void setMaintenanceEnabled(bool enabled);
    void openHistory();
    BurnRecording burnRecording() const;
    void showStationCounts();

    DialogServices services_;
    DialogView& view_;
    DialogThread& thread_;
    StartupFlags flags_;
    PreviewControl& preview_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    SettingsFileChoice settingsFile_;
    ToolSettings settings_;
    std::unique_ptr<LogFiles> logFiles_;
    std::shared_ptr<WriteProblems> writeProblems_;
    std::unique_ptr<platform::Hotplug::Subscription> notifications_;

    std::unique_ptr<CameraLink> link_;
    FirmwareImage image_;
    bool imageLoaded_ = false; // the last load succeeded
    std::string imagePath_;
    std::vector<CameraEntry> cameraTable_;
    int currentIndex_ = 0;
    int selectEnabled_ = 0;
    UsbIdentity identity_;
    bool identityRead_ = false; // GetUsbIdentity found the selected camera
    std::uint8_t flashCode_ = 0;
    FlashChoice flashChoice_;
    IcType icType_ = chip::kUndetected;
    int statusState_ = 0;
    int identityCheck_ = 1;
    std::uint16_t cameraVid_ = 0, cameraPid_ = 0, cameraBcd_ = 0;
    std::string cameraSerial_;
    std::string resultText_;
    bool lastPassed_ = false;
    bool previewAfterSuccessStarted_ = false;

    mutable std::mutex logMutex_;
    std::string logText_;

    int exitCode_ = 0;
    std::unique_ptr<SerialNumberSource> serials_;
    std::unique_ptr<BurnSession> session_;
    std::map<int, std::function<void()>> pauses_;
    std::deque<platform::HotplugEvent> pendingChanges_;
    bool changeInProgress_ = false;
    bool waitingForCamera_ = false;

    std::atomic<bool> dumpRunning_{false};
    std::thread dumpThread_;

    bool ended_ = false;
    // Last: it is closed first, while what its writer tells problems to
    // still exists.
    std::unique_ptr<StationHistory> history_;
};

} // namespace tessell
