#pragma once

// The multi-camera tool (`Tessell_MultiDlg`): up to 16 cameras on taught hub
// ports, one list row each, burned together. It counts the cameras, checks
// each one's port against the port memory, marks the accepted ones Ready,
// shows which firmware file each will get, follows plug-in and plug-out with
// the station's state machine, and on Burn-Mutiple runs one burn session per
// Ready camera and finishes them all together. What it shows goes through a
// MultiBurnView: the window, or the console of `tessell burn`.
//
// Everything here runs on the dialog's thread; the burn sessions run on
// threads of their own and are only read (their progress atomics) and joined
// from here.

#include "common/dialog_loop.h"
#include "device/usb_identity.h"
#include "download/burn_session.h"
#include "multi/attached_cameras.h"
#include "multi/identify_hub.h"
#include "multi/multi_burn_state.h"
#include "multi/port_memory.h"
#include "multi/port_teaching.h"
#include "multi/slot_rows.h"
#include "platform/hotplug.h"
#include "platform/port_store.h"
#include "records/station_history.h"
#include "station/private_profile.h"

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tessell {

inline constexpr std::string_view kMultiCaption =
    "Halvane Serial Flash Multi-Burning Tool v1.0.3.0c";

// The window's controls, by their resource ids.
enum class MultiControl {
    Log = 1000,
    CameraCount = 1043,
    Setting = 1044,
    Burn = 1045,
    CameraList = 1046,
    InitMultiple = 1047,
    UnInitMultiple = 1048,
    ReScan = 1049,
};

// Timers of the dialog's thread.
inline constexpr int kScanTimer = 2304;
inline constexpr int kBurnStartTimer = 0x7E20;   // the gap between two cameras' starts
inline constexpr int kBurnMonitorTimer = 0x7E21; // the rows' refresh while burning
inline constexpr Clock::Duration kBurnStartGap = std::chrono::milliseconds(300);
inline constexpr Clock::Duration kBurnMonitorPeriod = std::chrono::milliseconds(100);

// Larger files are refused: they would not fit the camera's flash layout.
inline constexpr std::size_t kCommonImageLimit = 65536;
inline constexpr std::size_t kCameraImageLimit = 131072;

inline constexpr std::string_view kLoadBinFail = "Load bin fail.";
inline constexpr std::string_view kBinNotFound = "bin not found";
inline constexpr std::string_view kFinishLine = "Finish!\r\n";

// The Port Setting dialog as the station opens it.
class PortSettingHost {
public:
    virtual ~PortSettingHost() = default;
    // The dialog exists and shows through `view`.
    virtual void portSettingOpened(PortSettingView& view) = 0;
    // "Celar".
    virtual void portSettingCleared() = 0;
};

class MultiBurnView {
public:
    virtual ~MultiBurnView() = default;
    virtual void setCaption(std::string_view caption) = 0;
    // The log shows exactly `text` (the whole log), scrolled to its last line.
    virtual void showLog(std::string_view text) = 0;
    // The count label, "05/08".
    virtual void showCameraCount(std::string_view text) = 0;
    // Row `row` (0 to 15) shows exactly `shown`.
    virtual void showRow(int row, const SlotRow& shown) = 0;
    virtual void setEnabled(MultiControl control, bool enabled) = 0;
    virtual void showError(std::string_view text, std::string_view caption) = 0;
    // A camera on a port the station does not remember: true when the
    // operator wants to check the saved ports (Port Setting follows).
    virtual bool askAboutUnknownPort(const platform::UsbAddress& address) = 0;
    // Shows Port Setting until the operator closes it: true for OK. A view
    // without one answers false at once.
    virtual bool runPortSetting(PortSettingHost& host) = 0;
    // The station's passed and failed burns of today, somewhere unobtrusive.
    virtual void showStationCounts(std::string_view) {}
};

struct MultiBurnServices {
    platform::CaptureDevices* devices = nullptr;
    platform::UsbLocation* usb = nullptr;
    platform::Hotplug* hotplug = nullptr;
    platform::PortStore* store = nullptr;
    std::filesystem::path programFolder;
    // Whether cameras plugged in while the station is learning teach their
    // ports. A station without an operator (`tessell burn`) learns nothing
    // by itself: its ports are taught on purpose.
    bool teachOnPlugIn = true;
    // The tool its burns are recorded as, in the station's history.
    const char* recordTool = record_tool::kMultiWindow;
};

// The firmware file "pid.ini" names for a camera: its product ID's section
// ("PID_" and four hex digits; other names are passed over), or the one for
// PID B5AC or B5AB when chip register 0x20FF reads 0xC5 or 0xC9 and that
// section exists. `failed` for a product ID of 0; `file` empty without a
// section.
struct BinChoice {
    std::string file;
    bool failed = false;
};
BinChoice ChooseBinByPid(const std::filesystem::path& programFolder, std::uint16_t productId,
                         CameraLink* camera);

// One row's outcome, for the console and the JSON of a burn.
struct RowResult {
    int row = 0;
    std::optional<int> slot; // the port-memory slot (0 to 15) of its camera
    platform::UsbAddress address;
    std::string file;
    std::uint8_t status = 0;
    int progress = 0;
    // Left out of the burn: its camera's port is not taught.
    bool portNotTaught = false;
};

class Tessell_MultiDlg final : private PortSettingHost {
public:
    Tessell_MultiDlg(MultiBurnServices services, DialogThread& thread, MultiBurnView& view);
    // Waits for running burns (each is bounded): a camera half-written is
    // worse than a late close.
    ~Tessell_MultiDlg() override;
    Tessell_MultiDlg(const Tessell_MultiDlg&) = delete;
    Tessell_MultiDlg& operator=(const Tessell_MultiDlg&) = delete;

    // False when device changes cannot be followed (then nothing else was set up).
    bool OnInitDialog();
    void OnReScan();
    void OnSetting();
    void OnBurn();
    void OnTimer(int id);
    void OnDeviceChange(const platform::HotplugEvent& event);
    // Whether the window may close now: not while cameras burn (the operator
    // is told why).
    bool OnClose();

    int ScanCameras(bool recount);

    MultiBurnState state() const { return state_; }
    int cameraCount() const { return cameraCount_; }
    int expectedCount() const { return expectedCount_; }
    const std::string& logText() const { return log_; }
    const SlotRow& row(int index) const { return rows_.at(static_cast<std::size_t>(index)); }
    std::uint8_t slotStatus(int index) const {
        return slots_.at(static_cast<std::size_t>(index)).status;
    }
    // The station's history; null when burns are not recorded.
    StationHistory* history() { return history_.get(); }
    // From Burn-Mutiple until every camera is finished.
    bool burning() const { return burnActive_; }
    // The cameras of the last scan on ports the station does not remember.
    const std::vector<platform::UsbAddress>& unknownPorts() const { return unknownPorts_; }
    // The rows of the last burn's cameras (or the last scan's, before any burn).
    std::vector<RowResult> results() const;
    // The cameras of the last scan left out for their ports, each as its row.
    std::vector<RowResult> leftOutResults() const;
    const PortMemory& portMemory() const { return memory_; }
    // The USB port of the camera row `index` was last scanned with.
    const platform::UsbAddress& rowAddress(int index) const {
        return slots_.at(static_cast<std::size_t>(index)).address;
    }
    // Whether Burn-Mutiple has an image to burn: true with per-camera files,
    // else when the settings' common file loads (the operator is told what
    // is wrong with it otherwise).
    bool CheckCommonImage() { return loadCommonImage().has_value(); }

private:
    struct Slot {
        std::uint8_t status = slot::kIdle;
        int progress = 0;
        // The scan's camera, until its burn takes it.
        std::unique_ptr<CameraLink> link;
        IcType icType = chip::kUndetected;
        platform::UsbAddress address;
        std::uint16_t pid = 0;
        bool present = false; // a camera was at this position in the last scan
        bool portNotTaught = false;
        bool tookPart = false;
        std::unique_ptr<BurnSession> session;
    };
    class StationObserver;

    void portSettingOpened(PortSettingView& view) override;
    void portSettingCleared() override;

    void append(std::string_view text);
    void showLog();
    void showCameraCount(int found);
    void clearRow(int index);
    void clearAllRows();
    void showRowFromSlot(int index);
    void RefreshSlotRows();
    void checkCamera(int position, AttachedCamera& camera);
    void ClearUnpluggedRows();
    void deviceChangeInStandby();

    // Burning.
    std::optional<std::vector<std::uint8_t>> loadCommonImage();
    void startNextCamera();
    bool startCamera(int index);
    std::optional<std::vector<std::uint8_t>> loadCameraImage(int index);
    void monitorBurn();
    void burnFinished();
    BurnRecording burnRecording(int index) const;
    void showStationCounts();
    void openHistory(const PrivateProfile& settings);

    MultiBurnServices services_;
    DialogThread& thread_;
    MultiBurnView& view_;
    std::unique_ptr<platform::Hotplug::Subscription> notifications_;
    // Lets work posted from other threads see whether the dialog still exists.
    std::shared_ptr<Tessell_MultiDlg*> alive_;

    MultiBurnState state_ = MultiBurnState::Learning;
    PortMemory memory_;
    PortTeaching teaching_;
    std::unique_ptr<IdentifyHub> portSetting_;
    int portSettingCameras_ = 0; // attached when Port Setting opened
    bool portSettingOpen_ = false;
    int cameraCount_ = 0;
    int expectedCount_ = 8;
    bool chooseBinByPid_ = false;
    std::filesystem::path settingsFile_;
    std::string log_;
    std::array<Slot, kSlotRowCount> slots_;
    std::array<SlotRow, kSlotRowCount> rows_;
    std::vector<platform::UsbAddress> unknownPorts_;

    std::unique_ptr<StationObserver> observer_;
    // Set with `SerialsInMultiBurn`: every camera takes its own number.
    std::unique_ptr<SerialNumberSource> serials_;
    std::vector<std::uint8_t> commonImage_;
    std::string commonImageName_; // `BIN`, as the last check of the image read it
    bool burnActive_ = false;
    int nextStart_ = 0;
    std::thread finisher_;
    std::unique_ptr<StationHistory> history_;
};

} // namespace tessell
