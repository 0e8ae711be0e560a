#include "multi/tessell_multi_dlg.h"

#include "common/trace.h"
#include "download/firmware_image.h"
#include "download/image_fit.h"
#include "download/station_finish.h"
#include "platform/file_read.h"
#include "station/download_job.h"
#include "station/private_profile.h"
#include "station/settings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace tessell {

namespace {

constexpr std::uint16_t kChipIdRegister = 0x20FF;
constexpr std::uint8_t kChipC5 = 0xC5;
constexpr std::uint8_t kChipC9 = 0xC9;
constexpr std::uint16_t kPidForC5 = 0xB5AC;
constexpr std::uint16_t kPidForC9 = 0xB5AB;
constexpr std::size_t kPidIniBinChars = 256;
constexpr std::size_t kBinChars = 512;
constexpr FlashCode kFlashNotRecognised = 0x78;

constexpr Clock::Duration kScanAfterStart = std::chrono::milliseconds(1000);
constexpr Clock::Duration kScanAfterPlug = std::chrono::milliseconds(1500);

// "NUM" as the station counts it: the leading decimal digits, held to the
// 16 rows there are (a larger number could never be reached).
int expectedCountFrom(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    long value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && value <= 99;
         ++at)
        value = value * 10 + (text[at] - '0');
    return static_cast<int>(std::clamp<long>(value, 0, kSlotRowCount));
}

std::string countText(int found, int expected) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d", found, expected);
    return text;
}

int rowsInUse(int cameraCount) {
    return std::min(cameraCount, kSlotRowCount);
}

} // namespace

BinChoice ChooseBinByPid(const std::filesystem::path& programFolder, std::uint16_t productId,
                         CameraLink* camera) {
    if (productId == 0)
        return {{}, true};
    const PrivateProfile pidIni = LoadPidIni(programFolder);
    // The first section named for each product ID; other names are passed
    // over rather than taken for a neighbour's.
    std::string section = PidIniSection(pidIni, productId).value_or("");
    const std::optional<std::string> forC5 = PidIniSection(pidIni, kPidForC5);
    const std::optional<std::string> forC9 = PidIniSection(pidIni, kPidForC9);
    std::uint8_t chip = 0;
    if (camera && camera->ReadRegister(kChipIdRegister, chip) == status::kOk) {
        if (chip == kChipC5 && forC5)
            section = *forC5;
        else if (chip == kChipC9 && forC9)
            section = *forC9;
    }
    if (section.empty())
        return {};
    return {pidIni.getString(section, "BIN", "", kPidIniBinChars), false};
}

// Texts of the burn sessions: the station keeps no log files, so the burn
// log goes to the trace; log lines go to the dialog's log on its thread.
class Tessell_MultiDlg::StationObserver final : public BurnObserver {
public:
    StationObserver(DialogThread& thread, std::weak_ptr<Tessell_MultiDlg*> dialog)
        : thread_(thread), dialog_(std::move(dialog)) {}
    void appendLog(std::string_view text) override {
        thread_.post([dialog = dialog_, line = std::string(text)] {
            if (const auto alive = dialog.lock()) {
                (*alive)->append(line);
                (*alive)->showLog();
            }
        });
    }
    void burnLog(std::string_view message) override { trace::write(message); }
    void showMessage(std::string_view text) override { appendLog(std::string(text) + "\r\n"); }

private:
    DialogThread& thread_;
    std::weak_ptr<Tessell_MultiDlg*> dialog_;
};

Tessell_MultiDlg::Tessell_MultiDlg(MultiBurnServices services, DialogThread& thread,
                                   MultiBurnView& view)
    : services_(std::move(services)), thread_(thread), view_(view),
      alive_(std::make_shared<Tessell_MultiDlg*>(this)),
      teaching_({services_.devices, services_.usb}, thread, memory_, state_),
      observer_(std::make_unique<StationObserver>(thread, alive_)) {
    for (int index = 0; index < kSlotRowCount; ++index)
        rows_[static_cast<std::size_t>(index)] = ClearedRow(index);
}

Tessell_MultiDlg::~Tessell_MultiDlg() {
    alive_.reset();
    for (const int id : {kScanTimer, kBurnStartTimer, kBurnMonitorTimer, kTeachPauseTimer})
        thread_.stopTimer(id);
    if (finisher_.joinable()) {
        finisher_.join();
        return;
    }
    if (!burnActive_)
        return;
    // Closed in the middle of a burn (the process is ending): the started
    // cameras finish their downloads, then every camera leaves download mode.
    std::vector<std::unique_ptr<CameraLink>> cameras;
    for (Slot& slot : slots_)
        cameras.push_back(slot.session ? slot.session->takeCamera() : std::move(slot.link));
    finishStationCameras(cameras, *services_.usb);
}

void Tessell_MultiDlg::append(std::string_view text) {
    log_ += text;
}

void Tessell_MultiDlg::showLog() {
    view_.showLog(log_);
}

void Tessell_MultiDlg::showCameraCount(int found) {
    view_.showCameraCount(countText(found, expectedCount_));
}

bool Tessell_MultiDlg::OnInitDialog() {
    notifications_ = services_.hotplug->subscribe(
        [&thread = thread_, dialog = std::weak_ptr(alive_)](const platform::HotplugEvent& event) {
            thread.post([dialog, event] {
                if (const auto alive = dialog.lock())
                    (*alive)->OnDeviceChange(event);
            });
        });
    if (!notifications_)
        return false;

    const SettingsFileChoice choice = ChooseSettingsFile(services_.programFolder);
    settingsFile_ = choice.path;
    const PrivateProfile settings = PrivateProfile::load(settingsFile_);
    expectedCount_ = expectedCountFrom(settings.getString("SETTING", "NUM", "8", 260));
    showCameraCount(0);
    openHistory(settings);

    for (int index = 0; index < kSlotRowCount; ++index) {
        rows_[static_cast<std::size_t>(index)] = SlotRow{};
        rows_[static_cast<std::size_t>(index)].number = ClearedRow(index).number;
        rows_[static_cast<std::size_t>(index)].stat.clear();
        view_.showRow(index, rows_[static_cast<std::size_t>(index)]);
    }
    log_.clear();

    const PortMemoryLoad load = LoadPortMemory(*services_.store, memory_, state_);
    if (!load.problem.empty())
        append("Saved ports not read (" + load.problem + "): teach the ports again.\r\n");
    view_.setCaption(kMultiCaption);

    cameraCount_ = CountAttachedCameras(*services_.devices);
    if (cameraCount_ > 0) {
        thread_.startTimer(kScanTimer, kScanAfterStart);
        append("Scanning...");
    }
    chooseBinByPid_ = settings.getInt("SETTING", "ChooseBinUsePid", 0) != 0;
    // Each camera its own serial number, from the same source the
    // single-camera tool takes them from; off, every camera gets the same image.
    if (settings.getInt("LINE", "SerialsInMultiBurn", 0) == 1) {
        ToolSettingsInput input;
        input.file = choice;
        input.programFolder = services_.programFolder;
        serials_ = stationSerialNumbers(ReadToolSettings(settings, input).settings);
    }
    showLog();
    return true;
}

// ---------------------------------------------------------------- rows

// The row shows no camera; its file column stays.
void Tessell_MultiDlg::clearRow(int index) {
    SlotRow& row = rows_[static_cast<std::size_t>(index)];
    SlotRow cleared = ClearedRow(index);
    cleared.file = row.file;
    if (cleared != row) {
        row = cleared;
        view_.showRow(index, row);
    }
}

void Tessell_MultiDlg::clearAllRows() {
    for (int index = 0; index < kSlotRowCount; ++index)
        clearRow(index);
}

void Tessell_MultiDlg::showRowFromSlot(int index) {
    const Slot& slot = slots_[static_cast<std::size_t>(index)];
    SlotRow shown = SlotRowFor(index, slot.status, slot.progress);
    SlotRow& row = rows_[static_cast<std::size_t>(index)];
    shown.file = row.file;
    if (shown != row) {
        row = shown;
        view_.showRow(index, row);
    }
}

void Tessell_MultiDlg::RefreshSlotRows() {
    // While ports are being taught the rows keep what they show.
    if (state_ == MultiBurnState::Learning)
        return;
    for (int index = 0; index < kSlotRowCount; ++index)
        showRowFromSlot(index);
}

// ---------------------------------------------------------------- scanning

int Tessell_MultiDlg::ScanCameras(bool /*recount*/) {
    if (burnActive_ || portSettingOpen_)
        return cameraCount_;
    for (Slot& slot : slots_) {
        slot.link.reset();
        slot.status = slot::kIdle;
        slot.progress = 0;
        slot.present = false;
        slot.portNotTaught = false;
        slot.tookPart = false;
        slot.address = {};
    }
    // The cameras are counted and opened in one walk, so that the count and
    // the rows always describe the same cameras.
    std::vector<AttachedCamera> cameras = OpenAttachedCameras(*services_.devices, *services_.usb);
    cameraCount_ = static_cast<int>(cameras.size());
    showCameraCount(cameraCount_);
    unknownPorts_.clear();
    bool checkPorts = false;
    if (cameraCount_ > 0) {
        state_ = MultiBurnState::Standby;
        for (int position = 0; position < rowsInUse(cameraCount_); ++position) {
            AttachedCamera& camera = cameras[static_cast<std::size_t>(position)];
            Slot& slot = slots_[static_cast<std::size_t>(position)];
            slot.present = true;
            slot.address = camera.identity.address;
            if (memory_.FindPortSlot(slot.address.hub, slot.address.port) == -1) {
                clearAllRows();
                state_ = MultiBurnState::Learning;
                slot.portNotTaught = true;
                unknownPorts_.push_back(slot.address);
                trace::writef("scan: camera %d on %s: port not remembered", position + 1,
                              slot.address.text().c_str());
                // Port Setting runs once the scan is over: it ends with a
                // scan of its own, which must not run inside this one.
                checkPorts = view_.askAboutUnknownPort(slot.address) || checkPorts;
                continue;
            }
            slot.status = position < expectedCount_ ? slot::kReady : slot::kIdle;
            slot.pid = camera.identity.pid;
            if (camera.link)
                slot.icType = camera.link->GetIcType();
            slot.link = std::move(camera.link);
            const BinChoice bin =
                ChooseBinByPid(services_.programFolder, slot.pid, slot.link.get());
            rows_[static_cast<std::size_t>(position)].file =
                bin.failed ? std::string(kLoadBinFail) : bin.file;
        }
    }
    showLog();
    RefreshSlotRows();
    view_.setEnabled(MultiControl::Burn, true);
    if (checkPorts)
        OnSetting();
    return cameraCount_;
}

void Tessell_MultiDlg::OnTimer(int id) {
    if (teaching_.OnTimer(id))
        return;
    switch (id) {
    case kScanTimer:
        thread_.stopTimer(kScanTimer);
        ScanCameras(false);
        break;
    case kBurnStartTimer:
        thread_.stopTimer(kBurnStartTimer);
        startNextCamera();
        break;
    case kBurnMonitorTimer:
        monitorBurn();
        break;
    default:
        break;
    }
}

void Tessell_MultiDlg::OnReScan() {
    if (burnActive_)
        return;
    thread_.stopTimer(kScanTimer);
    append("Re-Scanning...\r\n");
    showLog();
    if (ScanCameras(true) > 0)
        state_ = MultiBurnState::Standby;
}

void Tessell_MultiDlg::OnSetting() {
    if (burnActive_ || portSettingOpen_)
        return;
    // A scan due from an earlier plug-in would run under the open dialog;
    // the Re-Scan at its close replaces it.
    thread_.stopTimer(kScanTimer);
    const int attached = CountAttachedCameras(*services_.devices);
    state_ = MultiBurnState::Learning;
    portSettingCameras_ = attached;
    portSettingOpen_ = true;
    const bool ok = view_.runPortSetting(*this);
    portSettingOpen_ = false;
    teaching_.setPortSetting(nullptr);
    if (ok) {
        const PortMemorySave save = SavePortMemory(*services_.store, memory_, state_);
        if (!save.written)
            append("The ports are not saved (" + save.problem + ").\r\n");
    }
    portSetting_.reset();
    OnReScan();
}

void Tessell_MultiDlg::portSettingOpened(PortSettingView& view) {
    portSetting_ = std::make_unique<IdentifyHub>(memory_, state_, view);
    portSetting_->OnInitDialog(portSettingCameras_);
    teaching_.setPortSetting(portSetting_.get());
}

void Tessell_MultiDlg::portSettingCleared() {
    if (portSetting_)
        portSetting_->OnClear();
}

// ---------------------------------------------------------------- device changes

void Tessell_MultiDlg::OnDeviceChange(const platform::HotplugEvent& event) {
    const bool arrived = event.kind == platform::HotplugEvent::Kind::Arrival;
    switch (state_) {
    case MultiBurnState::Learning:
        if (services_.teachOnPlugIn)
            teaching_.OnDeviceChange(event);
        break;
    case MultiBurnState::Standby:
        cameraCount_ = CountAttachedCameras(*services_.devices);
        append(arrived ? "camera plug in!\r\n" : "camera plug out!\r\n");
        deviceChangeInStandby();
        break;
    case MultiBurnState::Burning:
        // Once every download has ended, cameras leave and come back by
        // their own reset: nothing the operator did.
        if (!finisher_.joinable())
            append(arrived ? "Warning! plug in detected!\r\n" : "Warning! plug out detected!\r\n");
        break;
    case MultiBurnState::Finished:
        if (arrived) {
            append("Please remove all camera!\r\n");
        } else {
            ClearUnpluggedRows();
            const int left = CountAttachedCameras(*services_.devices);
            showCameraCount(left);
            if (left == 0)
                state_ = MultiBurnState::Standby;
        }
        break;
    }
    showLog();
}

void Tessell_MultiDlg::deviceChangeInStandby() {
    showCameraCount(cameraCount_);
    if (cameraCount_ == expectedCount_) {
        append("Re-Scanning...\r\n");
        showLog();
        thread_.startTimer(kScanTimer, kScanAfterPlug);
        return;
    }
    clearAllRows();
    view_.setEnabled(MultiControl::Burn, false);
}

// Rows whose camera has left are cleared, each row matched by the USB port
// its own camera was scanned on.
void Tessell_MultiDlg::ClearUnpluggedRows() {
    std::vector<platform::UsbDeviceInfo> present;
    services_.usb->imagingDevices(present);
    for (int index = 0; index < kSlotRowCount; ++index) {
        Slot& slot = slots_[static_cast<std::size_t>(index)];
        const bool stillThere =
            slot.present && std::any_of(present.begin(), present.end(), [&](const auto& device) {
                return device.address == slot.address;
            });
        if (stillThere)
            continue;
        slot.present = false;
        clearRow(index);
    }
}

bool Tessell_MultiDlg::OnClose() {
    if (!burnActive_)
        return true;
    view_.showError("Cameras are burning: close the window when every camera has finished.",
                    "Burning");
    return false;
}

// ---------------------------------------------------------------- burning

std::optional<std::vector<std::uint8_t>> Tessell_MultiDlg::loadCommonImage() {
    const PrivateProfile settings = PrivateProfile::load(settingsFile_);
    const std::string name = settings.getString("SETTING", "BIN", "sf.bin", kBinChars);
    commonImageName_ = name;
    if (chooseBinByPid_)
        return std::vector<std::uint8_t>{}; // each camera's own file is read at its start
    const ImagePathChoice path = ImagePathFromBin(services_.programFolder, name);
    platform::FileRead read;
    if (!path.path.empty())
        read = platform::readRegularFile(path.path, kCommonImageLimit);
    if (read.tooLarge) {
        view_.showError("The file [" + name + "] is larger than " +
                            std::to_string(kCommonImageLimit) + " bytes: nothing is burned.",
                        "Error");
        return std::nullopt;
    }
    if (path.path.empty() || !read.ok()) {
        view_.showError("Please check the file [setting.ini]", "Error");
        return std::nullopt;
    }
    if (!image::fitsItsLayout(read.bytes)) {
        view_.showError("The file [" + name + "] is not a firmware image: nothing is burned.",
                        "Error");
        return std::nullopt;
    }
    return std::move(read.bytes);
}

void Tessell_MultiDlg::OnBurn() {
    if (burnActive_)
        return;
    std::optional<std::vector<std::uint8_t>> image = loadCommonImage();
    if (!image)
        return;
    if (cameraCount_ < 1) {
        view_.showError("There is no camera, plug in or Re-Scan", "Error");
        return;
    }
    commonImage_ = std::move(*image);
    view_.setEnabled(MultiControl::Setting, false);
    view_.setEnabled(MultiControl::ReScan, false);
    view_.setEnabled(MultiControl::Burn, false);
    for (Slot& slot : slots_) {
        slot.progress = 0;
        slot.tookPart = false;
    }
    burnActive_ = true;
    thread_.startTimer(kBurnMonitorTimer, kBurnMonitorPeriod);
    append("Start burning...");
    showLog();
    state_ = MultiBurnState::Burning;
    nextStart_ = 0;
    startNextCamera();
}

void Tessell_MultiDlg::startNextCamera() {
    const int limit = rowsInUse(cameraCount_);
    while (nextStart_ < limit) {
        const int index = nextStart_++;
        if (slots_[static_cast<std::size_t>(index)].status != slot::kReady)
            continue;
        if (!startCamera(index))
            continue;
        // The cameras start one gap apart: each start is a burst of
        // requests the hubs share.
        const bool another =
            std::any_of(slots_.begin() + nextStart_, slots_.begin() + limit,
                        [](const Slot& slot) { return slot.status == slot::kReady; });
        if (another) {
            thread_.startTimer(kBurnStartTimer, kBurnStartGap);
            return;
        }
    }
    nextStart_ = kSlotRowCount; // every camera that can start has started
}

std::optional<std::vector<std::uint8_t>> Tessell_MultiDlg::loadCameraImage(int index) {
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    SlotRow& row = rows_[static_cast<std::size_t>(index)];
    const auto refuse = [&](std::string_view text, const std::string& why) {
        row.file = std::string(text);
        slot.status = slot::kError;
        slot.progress = 0;
        if (!why.empty())
            append("Camera " + std::to_string(index + 1) + " (" + slot.address.text() +
                   "): " + why + "\r\n");
        showRowFromSlot(index);
        return std::nullopt;
    };
    std::uint16_t pid = slot.pid;
    if (slot.link)
        if (const auto identity = GetUsbIdentity(*services_.usb, *slot.link); identity.ok())
            pid = identity->pid;
    const BinChoice bin = ChooseBinByPid(services_.programFolder, pid, slot.link.get());
    if (bin.failed)
        return refuse(kLoadBinFail, {});
    const ImagePathChoice path = ImagePathFromBin(services_.programFolder, "bin\\" + bin.file);
    std::error_code error;
    if (bin.file.empty() || path.path.empty() || !std::filesystem::exists(path.path, error))
        return refuse(kBinNotFound, {});
    platform::FileRead read = platform::readRegularFile(path.path, kCameraImageLimit);
    if (read.tooLarge)
        return refuse(kLoadBinFail,
                      bin.file + " is larger than " + std::to_string(kCameraImageLimit) + " bytes");
    if (!read.ok())
        return refuse(kLoadBinFail, bin.file + ": " + read.problem);
    if (!image::fitsItsLayout(read.bytes))
        return refuse(kLoadBinFail, bin.file + " is not a firmware image");
    row.file = bin.file;
    return std::move(read.bytes);
}

bool Tessell_MultiDlg::startCamera(int index) {
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    slot.tookPart = true;
    std::vector<std::uint8_t> bytes;
    if (chooseBinByPid_) {
        std::optional<std::vector<std::uint8_t>> own = loadCameraImage(index);
        if (!own)
            return false;
        bytes = std::move(*own);
    } else {
        bytes = commonImage_;
    }
    DownloadJob job;
    job.image.assign(bytes);
    // Firmware laid out for another chip family would leave a camera that
    // does not boot: that camera is left out, and the others burn.
    if (!imageFitsChip(job.image, slot.icType)) {
        const std::string file =
            chooseBinByPid_ ? rows_[static_cast<std::size_t>(index)].file : commonImageName_;
        slot.status = slot::kError;
        slot.progress = 0;
        append("Camera " + std::to_string(index + 1) + " (" + slot.address.text() +
               "): " + imageNotForChipText(file, slot.icType) + "\r\n");
        showRowFromSlot(index);
        showLog();
        return false;
    }
    // An unrecognised flash keeps 0x78, which the download refuses: that
    // camera ends in Error and the others burn.
    FlashCode code = kFlashNotRecognised;
    if (slot.link) {
        FlashCode found = kFlashNotRecognised;
        if (slot.link->IdentifyFlash(found) == status::kOk)
            code = found;
    }
    job.devices = services_.devices;
    job.usb = services_.usb;
    job.link = std::move(slot.link);
    job.camera = slot.icType;
    job.pid = slot.pid;
    job.address = slot.address;
    job.flashCode = code;
    job.options.stationBurn = true;
    job.serials = serials_.get();
    trace::writef("burn: camera %d on %s, flash code 0x%02X", index + 1,
                  slot.address.text().c_str(), code);
    slot.session = std::make_unique<BurnSession>(std::move(job), *observer_, burnRecording(index));
    slot.session->start();
    return true;
}

void Tessell_MultiDlg::monitorBurn() {
    bool allFinished = nextStart_ >= kSlotRowCount;
    for (Slot& slot : slots_) {
        if (!slot.session)
            continue;
        // A row shows its outcome once the outcome is on record.
        if (slot.session->recorded()) {
            const bool passed = slot.session->passed();
            slot.status = passed ? slot::kComplete : slot::kError;
            slot.progress = passed ? 100 : slot.session->progress();
            continue;
        }
        allFinished = false;
        if (const std::uint8_t stage = slot.session->stage(); stage > slot::kReady)
            slot.status = stage;
        slot.progress = slot.session->progress();
    }
    RefreshSlotRows();
    if (!allFinished)
        return;
    thread_.stopTimer(kBurnMonitorTimer);
    // Every camera leaves download mode, the downloaded ones and the others
    // alike; the finishing waits, so it runs off the dialog's thread.
    std::vector<std::unique_ptr<CameraLink>> cameras;
    for (Slot& slot : slots_) {
        cameras.push_back(slot.session ? slot.session->takeCamera() : std::move(slot.link));
        slot.session.reset();
    }
    finisher_ =
        std::thread([this, cameras = std::move(cameras), dialog = std::weak_ptr(alive_)]() mutable {
            finishStationCameras(cameras, *services_.usb);
            cameras.clear();
            thread_.post([dialog] {
                if (const auto alive = dialog.lock())
                    (*alive)->burnFinished();
            });
        });
}

void Tessell_MultiDlg::burnFinished() {
    if (finisher_.joinable())
        finisher_.join();
    RefreshSlotRows();
    state_ = MultiBurnState::Finished;
    for (Slot& slot : slots_)
        slot.link.reset();
    burnActive_ = false;
    view_.setEnabled(MultiControl::Setting, true);
    view_.setEnabled(MultiControl::ReScan, true);
    append(kFinishLine);
    showLog();
    showStationCounts();
}

void Tessell_MultiDlg::openHistory(const PrivateProfile& settings) {
    HistorySettings history;
    history.programFolder = services_.programFolder;
    history.station = settings.getString("LINE", "Station", "", 512);
    history.history = settings.getString("LINE", "History", "", 512);
    history.lineDatabase = settings.getString("LINE", "Database", "", 2000);
    if (const char* database = std::getenv(kDatabaseVariable);
        history.lineDatabase.empty() && database)
        history.lineDatabase = database;
    // Told in the station's log, on the dialog's thread.
    history_ = std::make_unique<StationHistory>(
        history, [&thread = thread_, dialog = std::weak_ptr(alive_)](std::string_view line) {
            thread.post([dialog, text = std::string(line)] {
                if (const auto alive = dialog.lock()) {
                    (*alive)->append(text + "\r\n");
                    (*alive)->showLog();
                }
            });
        });
    showStationCounts();
}

BurnRecording Tessell_MultiDlg::burnRecording(int index) const {
    BurnRecording recording;
    if (!history_ || !history_->sink())
        return recording;
    const Slot& slot = slots_[static_cast<std::size_t>(index)];
    recording.sink = history_->sink();
    recording.fields = history_->fields(services_.recordTool);
    recording.fields.row = index + 1;
    const int memorySlot = memory_.FindPortSlot(slot.address.hub, slot.address.port);
    if (memorySlot != -1)
        recording.fields.slot = memorySlot + 1;
    recording.fields.imageName = chooseBinByPid_ || commonImageName_.empty()
                                     ? rows_[static_cast<std::size_t>(index)].file
                                     : commonImageName_;
    recording.describeOutcome = [](const Result& outcome, BurnRecord& record) {
        record.rowStatus =
            std::string(SlotStatusText(outcome.ok() ? slot::kComplete : slot::kError));
        if (!outcome.ok())
            record.error = record.rowStatus;
    };
    return recording;
}

void Tessell_MultiDlg::showStationCounts() {
    if (history_)
        view_.showStationCounts(stationCountsText(*history_));
}

std::vector<RowResult> Tessell_MultiDlg::results() const {
    std::vector<RowResult> rows;
    const bool afterBurn =
        std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) { return slot.tookPart; });
    for (int index = 0; index < kSlotRowCount; ++index) {
        const Slot& slot = slots_[static_cast<std::size_t>(index)];
        if (!(afterBurn ? slot.tookPart : slot.present && slot.status != slot::kIdle))
            continue;
        RowResult result;
        result.row = index + 1;
        const int memorySlot = memory_.FindPortSlot(slot.address.hub, slot.address.port);
        if (memorySlot != -1)
            result.slot = memorySlot;
        result.address = slot.address;
        // The file the camera was (or would be) burned with.
        result.file = chooseBinByPid_ || commonImageName_.empty()
                          ? rows_[static_cast<std::size_t>(index)].file
                          : commonImageName_;
        result.status = slot.status;
        result.progress = slot.progress;
        rows.push_back(result);
    }
    return rows;
}

std::vector<RowResult> Tessell_MultiDlg::leftOutResults() const {
    std::vector<RowResult> rows;
    for (int index = 0; index < kSlotRowCount; ++index) {
        const Slot& slot = slots_[static_cast<std::size_t>(index)];
        if (!slot.present || !slot.portNotTaught)
            continue;
        RowResult result;
        result.row = index + 1;
        result.address = slot.address;
        result.portNotTaught = true;
        rows.push_back(result);
    }
    return rows;
}

} // namespace tessell
