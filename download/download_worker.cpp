#include "download/download_worker.h"

#include "common/clock.h"
#include "common/trace.h"
#include "device/usb_identity.h"
#include "download/dfu_download.h"
#include "download/flash_access.h"
#include "download/isp_download.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace tessell {

namespace {

constexpr std::size_t kReworkBackup = 0x10000;
constexpr auto kResetSettle = std::chrono::milliseconds(500);
constexpr std::uint8_t kFlashHeaderInvalid[2] = {0x00, 0x00};

// Bit 1 of 0x2501 cleared and bit 7 of 0x20EB set before a download.
// The camera's answer to these is not what decides the download: a camera
// that refuses them fails the procedure's own checks afterwards.
void clearBootControlBit(CameraLink& link) {
    link.changeRegisterBits(reg::kBootControl, 0, 0x02);
}

void setModuleEnableBit(CameraLink& link) {
    link.changeRegisterBits(reg::kModuleEnable, 0x80, 0);
}

bool needsAeCheck(std::uint16_t vid, std::uint16_t pid) {
    return vid == kAeCheckVendor &&
           std::find(std::begin(kAeCheckProducts), std::end(kAeCheckProducts), pid) !=
               std::end(kAeCheckProducts);
}

class Worker {
public:
    Worker(DownloadJob& job, DownloadShared& shared, DownloadDialog& dialog)
        : job_(job), shared_(shared), dialog_(dialog), output_(dialog) {}

    void run() {
        shared_.busy = 1;
        dialog_.burnLog(kLogStart);
        shared_.exitCode = kExitWorkerRunning;
        if (!job_.link || !job_.image || !job_.devices) {
            trace::write("worker: no camera or no image");
            finish(false);
            return;
        }
        if (job_.options.preview)
            dialog_.leavePreviewForProgress();
        if (!prepareImage())
            return;

        shared_.busy = 1;
        std::uint32_t blockSize = 0;
        select_flash(*job_.link, job_.flashCode, blockSize);

        const std::optional<int> downloaded = downloadByFamily();
        if (!downloaded)
            return; // the camera was lost; finish() has run
        const std::optional<bool> qualityPassed = checkQuality();
        if (!qualityPassed)
            return;
        const bool passed = *qualityPassed && *downloaded == 0;
        if (!*qualityPassed)
            dialog_.appendLog(kAeFail);
        else if (passed)
            dialog_.burnLog(kLogSuccess);
        finish(passed);
    }

private:
    // Serial number or rework strings into the image. False when the
    // download must not go on (finish() has run).
    bool prepareImage() {
        FirmwareImage& image = *job_.image;
        const DownloadOptions& options = job_.options;
        if (options.burnSerial) {
            if (inject_serial(image, *job_.link, job_.serial, options.serialFile, options.snAddr,
                              output_) == 0) {
                dialog_.showMessage("something wrong in " + options.serialFile);
                dialog_.showIdleStatus();
                finish(false);
                return false;
            }
            return true;
        }
        if (options.rework && options.settingsIndex == 2) {
            dialog_.burnLog(kLogRework);
            const auto bytes = image.buffer();
            backup_.assign(bytes.begin(), bytes.begin() + std::min(bytes.size(), kReworkBackup));
            backupLength_ = image.length();
            reworked_ = true;
            // Writing the image without the camera's own strings would lose
            // them, which is what a rework exists to prevent.
            if (keep_camera_strings(image, *job_.link, job_.flashCode, output_) == 0) {
                finish(false);
                return false;
            }
        }
        return true;
    }

    // The procedure of the camera's family: its result (0 passed), or none
    // when the camera did not come back after a reset.
    std::optional<int> downloadByFamily() {
        FirmwareImage& image = *job_.image;
        DownloadStatus* status = &shared_.status;
        switch (job_.camera) {
        case 'k':
            dialog_.burnLog(kLogSerialDownload);
            clearBootControlBit(*job_.link);
            if (!resetAndReopen())
                return std::nullopt;
            clearBootControlBit(*job_.link);
            return isp_download(image, *job_.link, job_.familyIndex, status, true);
        case 'm': {
            dialog_.burnLog(kLog7330);
            if (job_.options.moduleSetting || image.length() > 0x10000)
                job_.familyIndex = flash::kModuleFamily0;
            if (job_.familyIndex == flash::kModuleFamily0 ||
                job_.familyIndex == flash::kModuleFamily1) {
                if (!prepare_module(*job_.link) || !prepare_module_2(*job_.link))
                    return 1;
                return Download_Fw(image, *job_.link, job_.familyIndex, status,
                                   job_.options.timeout);
            }
            if (job_.options.romBurn) {
                clearBootControlBit(*job_.link);
                setModuleEnableBit(*job_.link);
                if (!resetAndReopen())
                    return std::nullopt;
            }
            clearBootControlBit(*job_.link);
            setModuleEnableBit(*job_.link);
            return isp_download(image, *job_.link, job_.familyIndex, status, true);
        }
        case 'j':
            dialog_.burnLog(kLog7312);
            return download_7312(image, *job_.link, job_.familyIndex, status);
        default:
            return isp_download(image, *job_.link, job_.familyIndex, status, true);
        }
    }

    // Invalidates the flash header (a camera reset now starts its ROM, not
    // the old firmware), resets the chip and waits for it on its port.
    bool resetAndReopen() {
        write_bytes(*job_.link, 0, kFlashHeaderInvalid);
        dialog_.burnLog(kLogResetBefore);
        CameraDevice* device = job_.link->device();
        if (!device || !device->ResetChip()) {
            dialog_.burnLog(kLogResetFail);
            finish(false);
            return false;
        }
        job_.link.reset();
        clock().sleepFor(kResetSettle);
        job_.link = reopen_camera(job_, dialog_);
        if (!job_.link) {
            finish(false);
            return false;
        }
        return true;
    }

    // True/false for the check's outcome; none when the camera did not come
    // back for it.
    std::optional<bool> checkQuality() {
        if (!needsAeCheck(job_.vid, job_.pid))
            return true;
        clock().sleepFor(kResetSettle);
        job_.link.reset();
        job_.link = reopen_camera(job_, dialog_);
        if (!job_.link) {
            finish(false);
            return std::nullopt;
        }
        return ae_check(*job_.link);
    }

    // Every end comes here once: the image as loaded again after a rework,
    // the camera closed, then the outcome for the dialog.
    void finish(bool passed) {
        if (reworked_) {
            std::copy(backup_.begin(), backup_.end(), job_.image->buffer().begin());
            job_.image->setLength(backupLength_);
            reworked_ = false;
        }
        if (job_.link) {
            job_.link->CloseCamera();
            job_.link.reset();
        }
        shared_.result = passed ? 1 : 0;
        shared_.done = 1;
        shared_.busy = 0;
    }

    DownloadJob& job_;
    DownloadShared& shared_;
    DownloadDialog& dialog_;
    DialogSerialOutput output_;
    std::vector<std::uint8_t> backup_;
    std::size_t backupLength_ = 0;
    bool reworked_ = false;
};

} // namespace

int download_worker(DownloadJob& job, DownloadShared& shared, DownloadDialog& dialog) {
    Worker(job, shared, dialog).run();
    return 0;
}

std::unique_ptr<CameraLink> reopen_camera(DownloadJob& job, DownloadDialog& dialog) {
    int index = 0;
    int misses = 0;
    int wrongPort = 0;
    for (;;) {
        auto link = std::make_unique<CameraLink>(*job.devices);
        if (link->OpenCamera(job.camera, index, 0) != status::kOk) {
            ++misses;
        } else {
            UsbIdentity identity;
            if (job.usb)
                GetUsbIdentity(*job.usb, *link, identity);
            if (identity.port == job.port && (job.hub.empty() || identity.hubId == job.hub))
                return link;
            ++wrongPort;
        }
        if (wrongPort % 3 == 2)
            ++index;
        if (index > job.cameraCount) {
            ++misses;
            index = 0;
        }
        link.reset();
        if (misses > kReopenMisses) {
            dialog.burnLog(kLogNotFound);
            return nullptr;
        }
        clock().sleepFor(kReopenPause);
    }
}

bool ae_check(CameraLink& link) {
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    if (link.ReadRegister(reg::kAeStatusA, a) != status::kOk ||
        link.ReadRegister(reg::kAeStatusB, b) != status::kOk)
        return false;
    return std::popcount(a) + std::popcount(static_cast<std::uint8_t>(b & 0xC0)) >= 2;
}

} // namespace tessell
