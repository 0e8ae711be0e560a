#include "app/tessell_dlg.h"

#include "app/ac_power.h"
#include "app/download_checks.h"
#include "app/download_outcome.h"
#include "app/exit_codes.h"
#include "app/maintenance.h"
#include "common/clock.h"
#include "common/path_text.h"
#include "common/text_format.h"
#include "common/trace.h"
#include "device/chip_registers.h"
#include "device/discovery.h"
#include "device/ic_type.h"
#include "download/camera_flash.h"
#include "download/image_fit.h"
#include "download/serial_number.h"
#include "logs/result_template.h"
#include "station/download_job.h"

#include <fstream>

namespace tessell {

namespace {

// The LED buttons tell nothing in the window: a refused register is traced.
void traceLedFailure(const Result& switched) {
    if (!switched.ok())
        trace::writef("LED: %s.", switched.reason().c_str());
}

constexpr auto kReselectPeriod = std::chrono::milliseconds(2000);
constexpr auto kAutoDownloadPeriod = std::chrono::milliseconds(1000);
constexpr auto kProgressPeriod = std::chrono::milliseconds(100);
constexpr auto kShortPause = std::chrono::milliseconds(100);
constexpr auto kCompletionWait = std::chrono::milliseconds(2000);
constexpr auto kUnplugSettle = std::chrono::milliseconds(300);
constexpr auto kPreviewSettle = std::chrono::milliseconds(300);

constexpr std::string_view kNotMatchLine = "\r\n *** Device PID/VID not match.\r\n";
constexpr std::string_view kNotMatchMessage = "Device PID/VID not match.";
constexpr std::string_view kBlankIds = " __  __  __  __";
constexpr std::string_view kBlankSerial = "____________________";
constexpr std::string_view kPlugOutRule = "====================================";

StatusPicture pictureOfState(int state) {
    switch (state) {
    case 1:
        return StatusPicture::Success;
    case 2:
        return StatusPicture::Fail;
    case 3:
        return StatusPicture::Running;
    default:
        return StatusPicture::Blank;
    }
}

} // namespace

std::optional<StatusPicture> countDownPicture(int progress) {
    if (progress >= 71 && progress <= 79)
        return StatusPicture::CountDown3;
    if (progress >= 81 && progress <= 89)
        return StatusPicture::CountDown2;
    if (progress >= 91 && progress <= 99)
        return StatusPicture::CountDown1;
    return std::nullopt;
}

// The AC-power boxes go to the dialog's view.
class CTessellDlg::BoxForErrors final : public ErrorBox {
public:
    explicit BoxForErrors(DialogView& view) : view_(view) {}
    bool showError(std::string_view text, std::string_view caption) override {
        view_.messageBox(text, caption, BoxIcon::Error);
        return true;
    }

private:
    DialogView& view_;
};

CTessellDlg::CTessellDlg(DialogServices services, DialogView& view, DialogThread& thread,
                         StartupFlags flags, PreviewControl& preview)
    : services_(std::move(services)), view_(view), thread_(thread), flags_(std::move(flags)),
      preview_(preview) {
    exitCode_ = kExitNothingFinished;
    makeLogFiles();
}

CTessellDlg::~CTessellDlg() {
    notifications_.reset();
    // The worker and the dump are bounded; they must not outlive the fields
    // they write.
    session_.reset();
    if (dumpThread_.joinable())
        dumpThread_.join();
}

// --- log pane, status box, files ---------------------------------------------------

void CTessellDlg::appendText(std::string_view text) {
    std::lock_guard lock(logMutex_);
    logText_ += text;
}

std::string CTessellDlg::logText() const {
    std::lock_guard lock(logMutex_);
    return logText_;
}

void CTessellDlg::showLog() {
    view_.showLog(logText());
}

void CTessellDlg::scrollLog() {
    view_.scrollLogToEnd();
}

void CTessellDlg::showStatus(int state) {
    statusState_ = state;
    paint(pictureOfState(state));
}

void CTessellDlg::paint(StatusPicture picture) {
    view_.showStatus(picture);
}

void CTessellDlg::makeLogFiles() {
    LogSettings log;
    log.writeLog = settings_.writeLog != 0;
    log.cmdLineMode = flags_.cmdLineMode != 0;
    log.programFolder = services_.programFolder;
    log.temporaryFolder = services_.temporaryFolder;
    log.header = ParseResultTemplate(settings_.logHeader);
    log.format = ParseResultTemplate(settings_.logFormat);
    if (!writeProblems_)
        writeProblems_ = std::make_shared<WriteProblems>([this](std::string_view problem) {
            if (flags_.cmdLineMode && services_.err)
                *services_.err << "tessell: warning: " << problem << "\n" << std::flush;
            else
                appendLog("Warning: " + std::string(problem) + "\r\n");
        });
    log.problems = writeProblems_;
    logFiles_ = std::make_unique<LogFiles>(std::move(log), services_.now);
}

void CTessellDlg::openHistory() {
    HistorySettings history;
    history.programFolder = services_.programFolder;
    history.station = settings_.station;
    history.history = settings_.history;
    // Its problems are told where the files' are: standard error unattended,
    // the log in the window.
    history_ = std::make_unique<StationHistory>(
        history,
        [cmdLine = flags_.cmdLineMode != 0, err = services_.err, this](std::string_view line) {
            if (cmdLine && err)
                *err << "tessell: " << line << "\n" << std::flush;
            else
                appendLog(std::string(line) + "\r\n");
        });
    showStationCounts();
}

BurnRecording CTessellDlg::burnRecording() const {
    BurnRecording recording;
    if (!history_ || !history_->sink())
        return recording;
    recording.sink = history_->sink();
    recording.fields =
        history_->fields(flags_.cmdLineMode ? record_tool::kUnattended : record_tool::kWindow);
    recording.fields.imageName = recordedImageName(imagePath_);
    recording.describeOutcome = [settings = settings_](const Result& result, BurnRecord& record) {
        const DownloadOutcome outcome = downloadOutcome(settings, result.ok());
        record.exitCode = outcome.exitCode;
        if (!result.ok())
            record.error = outcome.message;
    };
    return recording;
}

void CTessellDlg::showStationCounts() {
    if (history_ && !flags_.cmdLineMode)
        view_.showStationCounts(stationCountsText(*history_));
}

void CTessellDlg::burnLogLine(std::string_view message) {
    logFiles_->BurnLog(message);
}

void CTessellDlg::writeCmdModeLog(std::string_view message) {
    logFiles_->WriteCmdModeLog(message);
}

void CTessellDlg::endProcess(int code) {
    if (ended_)
        return;
    ended_ = true;
    exitCode_ = code;
    logFiles_->WriteMissingTestResult();
    for (const int id : {kProgressTimer, kReselectTimer, kAutoDownloadTimer, kPreviewEndTimer})
        thread_.stopTimer(id);
    for (const auto& [id, next] : pauses_)
        thread_.stopTimer(id);
    pauses_.clear();
    notifications_.reset();
    // Whatever the log gained since it was last shown still reaches the view.
    showLog();
    view_.endProcess(code);
}

void CTessellDlg::postToDialog(std::function<void()> work) {
    std::weak_ptr<int> alive = alive_;
    thread_.post([alive, work = std::move(work)] {
        if (alive.lock())
            work();
    });
}

// --- BurnObserver (worker's thread) ------------------------------------------------

void CTessellDlg::appendLog(std::string_view text) {
    appendText(text);
    postToDialog([this] {
        showLog();
        scrollLog();
    });
}

void CTessellDlg::burnLog(std::string_view message) {
    burnLogLine(message);
}

void CTessellDlg::showMessage(std::string_view text) {
    postToDialog([this, text = std::string(text)] {
        view_.messageBox(text, kApplicationTitle, BoxIcon::None);
    });
}

void CTessellDlg::leavePreviewForProgress() {
    postToDialog([this] { leavePreview(); });
}

void CTessellDlg::showIdleStatus() {
    postToDialog([this] { paint(StatusPicture::Blank); });
}

// --- start-up ----------------------------------------------------------------------------

bool CTessellDlg::OnInitDialog() {
    if (!services_.hotplug)
        return false;
    // Notifications arrive on a thread of the platform's: they only post.
    notifications_ = services_.hotplug->subscribe([this](const platform::HotplugEvent& event) {
        postToDialog([this, event] { OnDeviceChange(event); });
    });
    if (!notifications_)
        return false;

    selectEnabled_ = 1;
    view_.setEnabled(Control::ReworkToggle, false);
    view_.setVisible(Control::ReworkToggle, false);
    view_.setChecked(Control::OutputLogFile, false);
    settingsFile_ = ChooseSettingsFile(services_.programFolder);
    appendText(settingsFile_.loadLine);

    fillCameraList();
    exitCode_ = kExitNothingFinished;

    view_.selectCamera(0);
    ToolSettingsInput input;
    input.file = settingsFile_;
    input.programFolder = services_.programFolder;
    input.namedImage = flags_.namedImage;
    input.imagePath = imagePath_;
    input.productId = cameraPid_;
    ToolSettingsResult read = ReadToolSettings(input);
    settings_ = std::move(read.settings);
    imagePath_ = std::move(read.imagePath);
    applySettingsSteps(read.steps);
    // The files' settings are fixed from here on, except that command-line
    // mode may still be switched on.
    makeLogFiles();
    serials_ = stationSerialNumbers(settings_);
    openHistory();

    if (services_.power && services_.out) {
        BoxForErrors box(view_);
        if (const auto code = checkAcPowerAtStartup(settings_.checkac, flags_, *services_.power,
                                                    box, *services_.out)) {
            endProcess(*code);
            return true;
        }
    }
    SelectCamera();
    if (ended_)
        return true;

    view_.setVisible(Control::LedOn, settings_.ledTest == 1);
    view_.setVisible(Control::LedOff, settings_.ledTest == 1);
    view_.setVisible(Control::Dump, settings_.showDump == 1);
    view_.setVisible(Control::Erase, settings_.erase == 1);
    view_.setVisible(Control::DeviceSerial, settings_.showSN == 1);
    view_.setVisible(Control::DeviceSerialLabel, settings_.showSN == 1);
    return true;
}

void CTessellDlg::applySettingsSteps(const std::vector<SettingsStep>& steps) {
    for (const SettingsStep& step : steps) {
        switch (step.action) {
        case SettingsAction::UncheckOutputLogFile:
            view_.setChecked(Control::OutputLogFile, false);
            break;
        case SettingsAction::AppendLog:
            appendText(step.text);
            break;
        case SettingsAction::ShowLog:
            showLog();
            break;
        case SettingsAction::UncheckReworkToggle:
            view_.setChecked(Control::ReworkToggle, false);
            break;
        case SettingsAction::HideReworkToggle:
            view_.setVisible(Control::ReworkToggle, false);
            break;
        case SettingsAction::EnableReworkToggle:
            view_.setEnabled(Control::ReworkToggle, true);
            break;
        case SettingsAction::ShowReworkToggle:
            view_.setVisible(Control::ReworkToggle, true);
            break;
        case SettingsAction::CheckReworkToggle:
            view_.setChecked(Control::ReworkToggle, true);
            break;
        case SettingsAction::RunReworkHandler:
            OnReworkToggle();
            break;
        case SettingsAction::EnablePreviewBox:
            view_.setEnabled(Control::PreviewToggle, true);
            break;
        case SettingsAction::ShowPreviewBox:
            view_.setVisible(Control::PreviewToggle, true);
            break;
        case SettingsAction::CheckPreviewBox:
            view_.setChecked(Control::PreviewToggle, true);
            break;
        case SettingsAction::UncheckPreviewBox:
            view_.setChecked(Control::PreviewToggle, false);
            break;
        case SettingsAction::HideLogBox:
            view_.setVisible(Control::LogBox, false);
            break;
        case SettingsAction::ShowLogBox:
            view_.setVisible(Control::LogBox, true);
            break;
        case SettingsAction::ShowPreviewPicture:
            view_.setVisible(Control::PreviewPicture, true);
            break;
        case SettingsAction::HidePreviewPicture:
            view_.setVisible(Control::PreviewPicture, false);
            break;
        case SettingsAction::ShowPreviewLabel:
            view_.setVisible(Control::PreviewLabel, true);
            break;
        case SettingsAction::HidePreviewLabel:
            view_.setVisible(Control::PreviewLabel, false);
            break;
        case SettingsAction::StartPreview:
            if (!preview_.start())
                appendText(kPreviewUnavailable);
            break;
        case SettingsAction::SetCmdLineMode:
            flags_.cmdLineMode = 1;
            break;
        case SettingsAction::SetMsgMode:
            flags_.msgMode = 1;
            break;
        }
    }
}

void CTessellDlg::fillCameraList() {
    cameraTable_.clear();
    view_.clearCameraList();
    platform::CaptureDevices& devices = *services_.devices;
    // A list that cannot be walked lists no camera.
    const int videoCount = CountXuCamerasDs(devices).value_or(0);
    const int sensorCount = CountXuCamerasMf(devices).value_or(0);

    // Positions are numbered across both lists, video-input cameras first.
    const auto addFrom = [&](int source, int count) {
        for (int index = 0; index < count; ++index) {
            CameraLink link(devices);
            std::string name;
            if (link.OpenCamera(chip::kAnyFamily, index, source).ok())
                name = link.device()->friendlyName();
            const int position = static_cast<int>(cameraTable_.size());
            view_.addCamera(formatText("%d:%s", position, name.c_str()));
            cameraTable_.push_back({source, index});
        }
    };
    addFrom(0, videoCount);
    addFrom(1, sensorCount);
}

// --- selection -------------------------------------------------------------------------

void CTessellDlg::SelectCamera() {
    if (ended_ || selectEnabled_ == 0)
        return;
    waitForDump();
    if (preview_.running()) {
        preview_.moveOffScreen();
        preview_.stop();
    }
    view_.setEnabled(Control::Download, false);
    link_.reset();

    currentIndex_ = view_.selectedCamera();
    auto link = std::make_unique<CameraLink>(*services_.devices);
    bool opened = false;
    if (currentIndex_ >= 0 && currentIndex_ < static_cast<int>(cameraTable_.size())) {
        const CameraEntry& entry = cameraTable_[static_cast<std::size_t>(currentIndex_)];
        const Result open = link->OpenCamera(chip::kAnyFamily, entry.index, entry.source);
        if (!open.ok())
            trace::writef("Select camera %d: %s.", currentIndex_, open.reason().c_str());
        opened = open.ok();
    }

    if (!opened) {
        appendText("Driver Connection Fail\r\n");
        showLog();
        burnLogLine("Driver Connection Fail.");
        link.reset();
    } else {
        link_ = std::move(link);
        icType_ = link_->GetIcType();

        chooseFlash(*link_, settings_.flashType, flashCode_, flashChoice_);
        view_.setText(Control::FlashTypeName, flashChoice_.name);
        view_.setEnabled(Control::FlashTypeName, false);

        view_.setText(Control::DeviceSerial,
                      ReadUsbString(*services_.usb, *link_, kUsbManufacturerString).value_or(""));

        // Without its port the identity is not the camera's: GetUsbIdentity
        // gives one only with a known port.
        const Outcome<UsbIdentity> identity = GetUsbIdentity(*services_.usb, *link_);
        identity_ = identity.value_or(UsbIdentity{});
        identityRead_ = identity.ok();
        if (!identityRead_)
            trace::writef("Select camera %d: %s.", currentIndex_, identity.reason().c_str());
        std::uint8_t chipId = 0;
        link_->ReadRegister(chip::kChipIdRegister, chipId);

        if (settings_.camNum == 0) {
            identityCheck_ = 1;
        } else if (chipId == settings_.rev) {
            identityCheck_ = 1;
        } else {
            identityCheck_ = 0;
            if (currentIndex_ + 1 < static_cast<int>(cameraTable_.size())) {
                view_.selectCamera(currentIndex_ + 1);
                SelectCamera();
                return;
            }
        }

        const std::string name = link_->device()->friendlyName();
        if (identityRead_)
            appendText(
                formatText("\r\n=== Select camera %d : %s ===\r\n", currentIndex_, name.c_str()));
        appendText("Driver Connected");
        appendText("(" + std::string(chip::icTypeName(icType_)) + ")\r\n");
        showCameraIdentity();
    }

    if (settings_.chooseBinUsePid == 1) {
        const ImagePathChoice choice = ChooseImageByPid(services_.programFolder, cameraPid_);
        imagePath_ = choice.path;
        appendText(choice.refusal);
    } else if (imagePath_.empty()) {
        const ImagePathChoice choice = ImagePathFromBin(services_.programFolder, settings_.bin);
        imagePath_ = choice.path;
        appendText(choice.refusal);
    }

    if (flags_.namesImage()) {
        // A relative path is the script's: it names a file from where the
        // tool was started.
        std::error_code error;
        const auto absolute = std::filesystem::absolute(textPath(flags_.namedImage), error);
        const ImagePathChoice choice =
            checkedImagePath(error ? flags_.namedImage : pathText(absolute));
        imagePath_ = choice.path;
        appendText(choice.refusal);
        if (!flags_.cmdLineMode) {
            flags_.cmdLineMode = 1;
            makeLogFiles();
        }
    }

    appendText("Auto ");
    loadImage();
    showLog();
    statusState_ = 0;
    view_.setCaption(std::string("Halvane Serial Flash Write") +
                     (view_.isChecked(Control::ReworkToggle) ? "/Rework" : "") +
                     " Tool for ALL IC " + std::string(kToolVersion));

    if (identityCheck_ == 0) {
        view_.setEnabled(Control::Download, false);
        appendText(kNotMatchLine);
        showLog();
        scrollLog();
        if (flags_.cmdLineMode) {
            if (flags_.msgMode)
                view_.messageBox(kNotMatchMessage, "Error", BoxIcon::Error);
            writeCmdModeLog(kNotMatchMessage);
            endProcess(kExitWrongCamera);
            return;
        }
    } else if (flags_.cmdLineMode) {
        OnDownload();
        return;
    }

    if (settings_.autoDL) {
        if (!link_)
            return;
        if (cameraBcd_ < image_.bcdDevice()) {
            thread_.startTimer(kAutoDownloadTimer, kAutoDownloadPeriod);
        } else {
            appendText(formatText(" Auto download stop : \r\n   device bcdDevice(%04x) >= file "
                                  "bcdDevice(%04x)\r\n",
                                  cameraBcd_, image_.bcdDevice()));
            showLog();
        }
    }
    scrollLog();
}

void CTessellDlg::showCameraIdentity() {
    const CameraIdentityDisplay display =
        cameraIdentityDisplay(*link_, icType_, identity_.vid, identity_.pid, identity_.bcdDevice,
                              settings_.showFWVer == 1);
    view_.setText(Control::CameraBcd, display.bcdDeviceText);
    view_.setText(Control::CameraPid, display.productIdText);
    view_.setText(Control::CameraVid, display.vendorIdText);
    for (const auto& line : display.log) {
        appendText(line.text);
        if (line.burnLog)
            burnLogLine(line.text);
    }
    cameraVid_ = display.vid;
    cameraPid_ = display.pid;
    cameraBcd_ = display.bcdDevice;
}

bool CTessellDlg::readImageFile() {
    FirmwareImage::LoadContext context;
    if (link_)
        context.camera = icType_;
    context.showFirmwareVersion = settings_.showFWVer == 1;
    std::vector<FirmwareImage::LogLine> lines;
    imageLoaded_ = !imagePath_.empty() && image_.load(textPath(imagePath_), context, lines);
    for (const auto& line : lines) {
        appendText(line.text);
        if (line.burnLog)
            burnLogLine(line.text);
    }
    view_.setText(Control::ImagePath, imagePath_);
    if (imageLoaded_)
        view_.setText(Control::ImageBcd, image_.versionText());
    return imageLoaded_;
}

void CTessellDlg::loadImage() {
    if (readImageFile()) {
        // An image with no camera to write it to leaves Download off.
        view_.setEnabled(Control::Download, link_ != nullptr);
        showStatus(0);
        view_.setProgress(0);
    } else {
        appendText("load \r\n  \"" + imagePath_ + "\"\r\n fail.\r\n");
        exitCode_ = kExitImageLoadFailed;
    }
}

// --- device change ---------------------------------------------------------------------

void CTessellDlg::OnDeviceChange(const platform::HotplugEvent& event) {
    if (ended_)
        return;
    // A change that comes while a download runs (the camera's own reset
    // among them) or while another is being handled waits its turn.
    if (session_ || changeInProgress_) {
        pendingChanges_.push_back(event);
        return;
    }
    handleDeviceChange(event);
}

void CTessellDlg::handleDeviceChange(const platform::HotplugEvent& event) {
    using Kind = platform::HotplugEvent::Kind;
    if (event.kind == Kind::Arrival) {
        waitForDump();
        link_.reset();
        fillCameraList();
        auto pause = kShortPause;
        if (lastPassed_ && settings_.preview == 1 && !previewAfterSuccessStarted_) {
            previewAfterSuccessStarted_ = true;
            pause += kPreviewSettle;
        }
        changeInProgress_ = true;
        after(kDeviceChangePause, pause, [this] {
            if (lastPassed_ && settings_.preview == 1 && previewAfterSuccessStarted_ &&
                !preview_.running() && !preview_.start())
                appendText(kPreviewUnavailable);
            view_.setEnabled(Control::ReworkToggle, true);
            // After a removal that left the list empty no position is
            // selected: the camera that came back is then the first one.
            if (currentIndex_ < 0 || currentIndex_ >= static_cast<int>(cameraTable_.size()))
                currentIndex_ = 0;
            view_.selectCamera(currentIndex_);
            if (!preview_.running())
                SelectCamera();
            deviceChangeHandled();
        });
        return;
    }
    if (selectEnabled_ == 0)
        return;
    waitForDump();
    if (settings_.preview == 1 && previewAfterSuccessStarted_)
        lastPassed_ = false;
    view_.clearCameraList();
    appendText("Camera Plug Out\r\n");
    burnLogLine("Camera Plug Out");
    appendText(std::string(kPlugOutRule) + "\r\n");
    burnLogLine(kPlugOutRule);
    view_.setEnabled(Control::Download, false);
    view_.setText(Control::FlashTypeName, "");
    paint(StatusPicture::Blank);
    view_.setText(Control::CameraPid, kBlankIds);
    view_.setText(Control::CameraVid, kBlankIds);
    view_.setText(Control::CameraBcd, "ver");
    view_.setText(Control::DeviceSerial, kBlankSerial);
    link_.reset();
    showLog();
    if (settings_.preview == 1 && preview_.running())
        preview_.setVisible(false);
    changeInProgress_ = true;
    after(kDeviceChangePause, kUnplugSettle, [this] {
        currentIndex_ = 0;
        fillCameraList();
        view_.selectCamera(0);
        SelectCamera();
        deviceChangeHandled();
    });
}

void CTessellDlg::deviceChangeHandled() {
    changeInProgress_ = false;
    if (ended_)
        return;
    scrollLog();
    if (!pendingChanges_.empty() && !session_) {
        const auto next = pendingChanges_.front();
        pendingChanges_.pop_front();
        handleDeviceChange(next);
    }
}

void CTessellDlg::replayDeviceChanges() {
    if (pendingChanges_.empty() || ended_)
        return;
    // What the changes during the download add up to: a camera fewer than
    // before is a removal; otherwise the cameras came back (a camera resets
    // itself as part of its download) and are listed and selected again.
    const std::size_t before = cameraTable_.size();
    const int videoCount = CountXuCamerasDs(*services_.devices).value_or(0);
    const int sensorCount = CountXuCamerasMf(*services_.devices).value_or(0);
    const auto now = static_cast<std::size_t>(videoCount + sensorCount);
    pendingChanges_.clear();
    platform::HotplugEvent change{now < before ? platform::HotplugEvent::Kind::Removal
                                               : platform::HotplugEvent::Kind::Arrival,
                                  {}};
    handleDeviceChange(change);
}

void CTessellDlg::after(int id, Clock::Duration pause, std::function<void()> next) {
    pauses_[id] = std::move(next);
    thread_.startTimer(id, pause);
}

// --- Browse and Download ---------------------------------------------------------------

void CTessellDlg::OnBrowse() {
    if (ended_ || session_)
        return;
    const auto chosen = view_.chooseImageFile(services_.programFolder.string(), FileFilter{});
    if (!chosen)
        return;
    const ImagePathChoice choice = checkedImagePath(*chosen);
    if (!choice.refusal.empty()) {
        appendText(choice.refusal);
        showLog();
        return;
    }
    imagePath_ = choice.path;
    readImageFile();
    showLog();
    view_.setEnabled(Control::Download, true);
    showStatus(0);
    view_.setProgress(0);
}

void CTessellDlg::endStoppedCommandLineRun() {
    // Unattended, nobody could press anything after this stop: the run ends
    // with what it stored, as closing the window would.
    if (flags_.cmdLineMode)
        OnDestroy();
}

void CTessellDlg::OnDownload() {
    if (ended_ || session_ || dumpRunning_ || pauses_.count(kStartDownloadPause))
        return;
    if (identityCheck_ == 0) {
        appendText(kNotMatchLine);
        showLog();
        scrollLog();
        if (!flags_.cmdLineMode)
            return;
        if (flags_.msgMode)
            view_.messageBox(kNotMatchMessage, "Error", BoxIcon::Error);
        writeCmdModeLog(kNotMatchMessage);
        endProcess(kExitRefused);
        return;
    }
    if (!link_) {
        appendText("\r\n *** Device not found! ***\r\n\r\n");
        if (flags_.cmdLineMode && !waitingForCamera_ && flags_.cameraWaitSeconds > 0 &&
            imageLoaded_) {
            // Stations start the tool, then plug the camera in: the camera
            // that arrives is selected and downloaded. (Without an image
            // there is nothing to wait for.)
            waitingForCamera_ = true;
            appendText(formatText("Waiting up to %d s for a camera to be plugged in...\r\n",
                                  flags_.cameraWaitSeconds));
            after(kCameraWait, std::chrono::seconds(flags_.cameraWaitSeconds), [this] {
                waitingForCamera_ = false;
                appendText("No camera was plugged in.\r\n");
                showLog();
                endStoppedCommandLineRun();
            });
        }
        showLog();
        scrollLog();
        if (!waitingForCamera_)
            endStoppedCommandLineRun();
        return;
    }
    if (waitingForCamera_) {
        waitingForCamera_ = false;
        thread_.stopTimer(kCameraWait);
        pauses_.erase(kCameraWait);
    }
    burnLogLine(" click download.");

    cameraSerial_ = ReadUsbString(*services_.usb, *link_, settings_.snAddr).value_or("");

    if (settings_.settingsIndex == settingsIndexRework && settings_.reworkFlag == 1 &&
        settings_.checkPidVid == 1) {
        const std::string again =
            ReadUsbString(*services_.usb, *link_, settings_.snAddr).value_or("");
        burnLogLine(formatText("Device VID:0x%04x  PID:0x%04x  SN:%su.", cameraVid_, cameraPid_,
                               again.c_str()));
        if (const auto text = pidVidMismatchText(cameraVid_, cameraPid_, image_)) {
            burnLogLine(*text);
            if (flags_.cmdLineMode) {
                burnLogLine(*text);
                if (flags_.msgMode)
                    view_.messageBox(*text, "Error", BoxIcon::Error);
                endProcess(kExitWrongCamera);
                return;
            }
            appendText(*text);
            showLog();
            scrollLog();
            view_.messageBox(*text, "Error", BoxIcon::Error);
            paint(StatusPicture::Fail);
            return;
        }
    }

    if (!imageLoaded_) {
        view_.messageBox("Please load file first!", "Error", BoxIcon::Error);
        if (flags_.cmdLineMode)
            endProcess(kExitNoImage);
        return;
    }

    if (!imageFitsChip(image_, icType_)) {
        burnLogLine("it seems bin file not match IC");
        if (!view_.askYesNo("It seems that the bincode is NOT for the IC\nDo you really want to "
                            "download?",
                            "Warning")) {
            if (flags_.cmdLineMode)
                endProcess(kExitNoImage);
            return;
        }
    }

    const DownloadStartTexts start = downloadStartTexts(downloadKindOf(settings_));
    appendText(start.logLine);
    if (!start.burnLogLine.empty())
        burnLogLine(start.burnLogLine);

    if (settings_.preview == 1)
        leavePreview();

    std::uint8_t streaming = 0;
    link_->ReadRegister(kStreamingRegister, streaming);
    if (cameraStreaming(streaming)) {
        appendText("\r\n Fail, please stop preview first.");
        burnLogLine("   Fail, stop preview first.");
        showLog();
        scrollLog();
        endStoppedCommandLineRun();
        return;
    }

    if (!identityRead_) {
        appendText("Driver Connection Fail\r\n");
        burnLogLine("  Driver Connect Fail.");
        showLog();
        showStatus(2);
        endStoppedCommandLineRun();
        return;
    }

    showLog();
    showStatus(3);
    scrollLog();
    selectEnabled_ = 0;
    view_.setEnabled(Control::Download, false);
    view_.setEnabled(Control::PreviewToggle, false);
    view_.setEnabled(Control::ReworkToggle, false);
    view_.setEnabled(Control::CameraList, false);
    view_.setProgress(0);
    // The camera settles for a moment before the worker takes it.
    after(kStartDownloadPause, kShortPause, [this] {
        startWorker();
        thread_.startTimer(kProgressTimer, kProgressPeriod);
    });
}

void CTessellDlg::startWorker() {
    SelectedCamera camera;
    camera.link = std::move(link_);
    camera.icType = icType_;
    camera.vid = cameraVid_;
    camera.pid = cameraPid_;
    camera.address = identity_.address;
    camera.flashCode = flashCode_;
    camera.familyIndex = static_cast<std::uint8_t>(flashChoice_.familyIndex);
    JobServices jobServices{services_.devices, services_.usb, services_.temporaryFolder,
                            serials_.get()};
    session_ = std::make_unique<BurnSession>(
        assembleDownloadJob(settings_, jobServices, std::move(camera), image_), *this,
        burnRecording());
    previewAfterSuccessStarted_ = false;
    exitCode_ = kExitWorkerRunning;
    session_->start();
}

// --- timers ------------------------------------------------------------------------------

void CTessellDlg::OnTimer(int id) {
    if (ended_)
        return;
    if (const auto pause = pauses_.find(id); pause != pauses_.end()) {
        thread_.stopTimer(id);
        auto next = std::move(pause->second);
        pauses_.erase(pause);
        next();
        return;
    }
    switch (id) {
    case kProgressTimer:
        if (!session_) {
            thread_.stopTimer(kProgressTimer);
        } else if (!session_->finished()) {
            progressTick();
        } else {
            // The outcome is shown once the camera has had its moment.
            thread_.stopTimer(kProgressTimer);
            after(kCompletionPause, kCompletionWait, [this] { completeDownload(); });
        }
        break;
    case kReselectTimer:
        selectEnabled_ = 1;
        thread_.stopTimer(kReselectTimer);
        break;
    case kAutoDownloadTimer:
        thread_.stopTimer(kAutoDownloadTimer);
        waitForDump();
        OnDownload();
        break;
    case kPreviewEndTimer:
        if (settings_.preview == 1) {
            view_.setVisible(Control::PreviewLabel, false);
            view_.setVisible(Control::LogBox, true);
            view_.setVisible(Control::PreviewPicture, false);
            if (preview_.running()) {
                preview_.moveOffScreen();
                preview_.stop();
            }
            SelectCamera();
        }
        thread_.stopTimer(kPreviewEndTimer);
        break;
    default:
        break;
    }
}

void CTessellDlg::progressTick() {
    const int progress = session_->progress();
    view_.setProgress(progress);
    if (const auto picture = countDownPicture(progress))
        paint(*picture);
}

void CTessellDlg::completeDownload() {
    // The worker has set done as its last word; what is left of its thread
    // only returns.
    session_->join();
    const DownloadOutcome outcome = downloadOutcome(settings_, session_->passed());
    if (outcome.passed)
        thread_.startTimer(kPreviewEndTimer, std::chrono::milliseconds(settings_.previewTimeMs));
    view_.setProgress(100);
    appendText(outcome.logLine);
    writeCmdModeLog(outcome.message);
    logFiles_->WriteTestResult(outcome.passed);
    showLog();
    showStatus(outcome.passed ? 1 : 2);
    resultText_ = outcome.resultText;
    exitCode_ = outcome.exitCode;
    lastPassed_ = outcome.passed;

    ResultRecord record;
    record.pid = cameraPid_;
    record.vid = cameraVid_;
    record.bcd = cameraBcd_;
    record.sn = cameraSerial_;
    record.result = resultText_;
    record.errcode = exitCode_;
    logFiles_->AppendResultRecord(record);
    showStationCounts();

    selectEnabled_ = 1;
    view_.setEnabled(Control::CameraList, true);
    view_.setEnabled(Control::PreviewToggle, true);
    view_.setEnabled(Control::ReworkToggle, false);
    session_.reset(); // the worker closed its link; this frees what is left
    link_.reset();
    scrollLog();
    thread_.startTimer(kReselectTimer, kReselectPeriod);

    if (flags_.cmdLineMode) {
        if (flags_.msgMode)
            view_.messageBox(outcome.boxText, outcome.boxCaption, BoxIcon::None);
        endProcess(exitCode_);
        return;
    }
    replayDeviceChanges();
}

// --- preview -----------------------------------------------------------------------------

void CTessellDlg::leavePreview() {
    view_.setVisible(Control::PreviewLabel, false);
    view_.setVisible(Control::LogBox, true);
    view_.setVisible(Control::PreviewPicture, false);
    if (preview_.running()) {
        preview_.moveOffScreen();
        preview_.stop();
    }
}

void CTessellDlg::OnPreviewToggle() {
    if (ended_)
        return;
    if (view_.isChecked(Control::PreviewToggle)) {
        settings_.preview = 1;
        preview_.setVisible(true);
        if (!preview_.available()) {
            appendText(kPreviewUnavailable);
            showLog();
            scrollLog();
        }
    } else {
        settings_.preview = 0;
        preview_.setVisible(false);
    }
}

// --- maintenance ---------------------------------------------------------------------------

void CTessellDlg::OnReworkToggle() {
    if (settings_.settingsIndex != settingsIndexRework) {
        settings_.reworkFlag = 0;
        view_.messageBox("function not work", kApplicationTitle, BoxIcon::None);
        return;
    }
    const bool checked = view_.isChecked(Control::ReworkToggle);
    settings_.reworkFlag = checked ? 1 : 0;
    view_.setText(Control::Download, checked ? "Re-Work" : "Download");
}

void CTessellDlg::setMaintenanceEnabled(bool enabled) {
    for (const Control control :
         {Control::Download, Control::Dump, Control::Erase, Control::LedOn, Control::LedOff})
        view_.setEnabled(control, enabled);
}

void CTessellDlg::waitForDump() {
    if (dumpThread_.joinable())
        dumpThread_.join();
}

void CTessellDlg::OnDump() {
    if (ended_ || session_ || dumpRunning_)
        return;
    const auto chosen = view_.chooseDumpFile("DUMP_BIN.bin", FileFilter{});
    if (!chosen)
        return;
    if (!link_) {
        // Nothing to read from: say so instead of writing a file of nothing.
        appendText("DUMP internal Serial Flash fail: no camera.\r\n");
        showLog();
        scrollLog();
        return;
    }
    waitForDump();
    dumpRunning_ = true;
    // The dump thread has the camera to itself until it ends: the commands
    // that would use it too are off meanwhile, and selection and device
    // changes wait for it.
    setMaintenanceEnabled(false);
    const bool downloadWasEnabled = imageLoaded_ && link_;
    dumpThread_ = std::thread([this, path = *chosen, link = link_.get(),
                               family = flashChoice_.familyIndex, downloadWasEnabled] {
        runDump(path, *link, static_cast<std::uint8_t>(family));
        postToDialog([this, downloadWasEnabled] {
            waitForDump();
            setMaintenanceEnabled(true);
            view_.setEnabled(Control::Download, downloadWasEnabled && link_ != nullptr);
        });
    });
}

void CTessellDlg::runDump(const std::string& path, CameraLink& link, std::uint8_t familyIndex) {
    postToDialog([this] {
        view_.setProgress(0);
        paint(StatusPicture::Running);
    });
    const Result dumped = dumpFlashToFile(link, familyIndex, path);
    if (dumped.ok()) {
        appendText("DUMP internal Serial Flash to\r\n" + path + "\r\n");
        postToDialog([this] {
            showLog();
            paint(StatusPicture::Success);
            view_.setProgress(100);
        });
    } else {
        appendText("DUMP internal Serial Flash fail: " + dumped.reason() + "\r\n" + path + "\r\n");
        postToDialog([this] {
            showLog();
            paint(StatusPicture::Fail);
        });
    }
    dumpRunning_ = false;
}

void CTessellDlg::OnErase() {
    if (ended_ || session_ || dumpRunning_ || !link_)
        return;
    const Result erased =
        eraseFlashAndReset(*link_, static_cast<std::uint8_t>(flashChoice_.familyIndex));
    if (!erased.ok())
        trace::writef("Erase: %s.", erased.reason().c_str());
    appendText(erased.ok() ? "Erase SF ok.\r\n" : "Erase SF fail.\r\n");
    showLog();
    scrollLog();
}

void CTessellDlg::OnLedOn() {
    if (ended_ || session_ || dumpRunning_ || !link_)
        return;
    traceLedFailure(switchLed(*link_, true));
}

void CTessellDlg::OnLedOff() {
    if (ended_ || session_ || dumpRunning_ || !link_)
        return;
    traceLedFailure(switchLed(*link_, false));
}

void CTessellDlg::OnTest() {
    CameraLink link(*services_.devices);
    if (const Result opened = link.OpenCamera(chip::kAnyFamily, 0, 1); !opened.ok())
        trace::writef("Test: %s.", opened.reason().c_str());
    link.CloseCamera();
}

int CTessellDlg::answerAcQuery() {
    if (!services_.power)
        return 1;
    BoxForErrors box(view_);
    return answerAcPowerQuery(settings_.checkac, flags_, *services_.power, box);
}

void CTessellDlg::OnActivate() {
    if (!ended_)
        paint(pictureOfState(statusState_));
}

void CTessellDlg::OnExit() {
    OnDestroy();
}

void CTessellDlg::OnDestroy() {
    if (ended_)
        return;
    // A download in progress is let finish: the worker is bounded, and a
    // flash left half-written is worse than a late exit.
    if (session_)
        session_->join();
    waitForDump();
    preview_.stop();
    session_.reset();
    link_.reset();
    endProcess(exitCode_);
}

} // namespace tessell
