#include "download/download_worker.h"

#include "common/clock.h"
#include "common/text_format.h"
#include "common/trace.h"
#include "device/usb_identity.h"
#include "download/dfu_download.h"
#include "download/flash_access.h"
#include "download/isp_download.h"
#include "download/rework.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace tessell {

namespace {

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
    Worker(DownloadJob& job, DownloadShared& shared, BurnObserver& observer)
        : job_(job), shared_(shared), observer_(observer), output_(observer) {}

    void run() {
        shared_.busy = 1;
        observer_.burnLog(kLogStart);
        finish(download());
    }

private:
    Result download() {
        if (!job_.link || !job_.devices || !job_.usb) {
            trace::write("worker: no camera or no camera services");
            return Result::failure(status::kPointer, "no camera or no camera services");
        }
        shared_.dfuResults.fill(0);
        job_.link->downloadSlot().value = 1;
        job_.link->downloadSlot().results = shared_.dfuResults;
        if (job_.options.preview)
            observer_.leavePreviewForProgress();
        if (Result prepared = prepareImage(); !prepared.ok())
            return prepared;

        shared_.busy = 1;
        if (job_.options.stationBurn) {
            // The flash code decides: 0x78 (not recognised) is refused.
            return isp_download(job_.image, *job_.link, job_.flashCode, &shared_.status, false);
        }
        std::uint32_t blockSize = 0;
        select_flash(*job_.link, job_.flashCode, blockSize);

        // A camera that did not come back after a reset has nothing more to
        // be asked: its link is gone.
        Result downloaded = downloadByFamily();
        if (!job_.link)
            return downloaded;
        Result quality = checkQuality();
        if (job_.link) {
            if (!quality.ok())
                observer_.appendLog(kAeFail);
            else if (downloaded.ok())
                observer_.burnLog(kLogSuccess);
        }
        return downloaded.ok() ? std::move(quality) : std::move(downloaded);
    }

    // Serial number or rework strings into the job's image. A failure ends
    // the download before anything is written to the camera.
    Result prepareImage() {
        FirmwareImage& image = job_.image;
        if (job_.serials) {
            job_.serial = job_.serials->take(job_.address, job_.recordId, output_);
            Result prepared =
                job_.serial
                    ? inject_serial(image, *job_.link, *job_.serial, job_.options.snAddr, output_)
                          .result()
                    : Result::refused("no serial number from " + job_.serials->name());
            if (!prepared.ok()) {
                observer_.showMessage("something wrong in " + job_.serials->name());
                observer_.showIdleStatus();
            }
            return prepared;
        }
        if (job_.options.rework) {
            observer_.burnLog(kLogRework);
            // Writing the image without the camera's own strings would lose
            // them, which is what a rework exists to prevent.
            const ReworkFiles files = reworkFiles(job_.camera, job_.temporaryFolder, job_.address);
            return keep_camera_strings(image, *job_.link, job_.flashCode, files, output_).result();
        }
        return {};
    }

    // The procedure of the camera's family. When the camera did not come
    // back after a reset, the link is gone and the result says why.
    Result downloadByFamily() {
        FirmwareImage& image = job_.image;
        DownloadStatus* status = &shared_.status;
        switch (chip::family(job_.camera).procedure) {
        case chip::Procedure::ResetThenIsp:
            observer_.burnLog(kLogSerialDownload);
            clearBootControlBit(*job_.link);
            if (Result reopened = resetAndReopen(); !reopened.ok())
                return reopened;
            clearBootControlBit(*job_.link);
            return isp_download(image, *job_.link, job_.familyIndex, status, true);
        case chip::Procedure::ModuleOrIsp: {
            observer_.burnLog(kLog7330);
            if (job_.options.moduleSetting || image.length() > 0x10000)
                job_.familyIndex = flash::kModuleFamily0;
            if (job_.familyIndex == flash::kModuleFamily0 ||
                job_.familyIndex == flash::kModuleFamily1) {
                if (Result prepared = prepare_module(*job_.link, *job_.usb, job_.address);
                    !prepared.ok())
                    return prepared;
                if (Result prepared = prepare_module_2(*job_.link); !prepared.ok())
                    return prepared;
                return Download_Fw(image, *job_.link, job_.familyIndex, status,
                                   job_.options.timeout);
            }
            if (job_.options.romBurn) {
                clearBootControlBit(*job_.link);
                setModuleEnableBit(*job_.link);
                if (Result reopened = resetAndReopen(); !reopened.ok())
                    return reopened;
            }
            clearBootControlBit(*job_.link);
            setModuleEnableBit(*job_.link);
            return isp_download(image, *job_.link, job_.familyIndex, status, true);
        }
        case chip::Procedure::Dfu7312:
            observer_.burnLog(kLog7312);
            return download_7312(image, *job_.link, job_.familyIndex, status);
        case chip::Procedure::Isp:
            break;
        }
        return isp_download(image, *job_.link, job_.familyIndex, status, true);
    }

    // Invalidates the flash header (a camera reset now starts its ROM, not
    // the old firmware), resets the chip and waits for it on its port. On a
    // failure the link is gone.
    Result resetAndReopen() {
        if (const Result invalidated = write_bytes(*job_.link, 0, kFlashHeaderInvalid);
            !invalidated.ok())
            trace::writef("worker: flash header not invalidated: %s.",
                          invalidated.reason().c_str());
        observer_.burnLog(kLogResetBefore);
        CameraDevice* device = job_.link->device();
        const Status reset = device ? device->ResetChip() : status::kPointer;
        if (reset != status::kOk) {
            observer_.burnLog(kLogResetFail);
            job_.link.reset();
            return Result::failure(reset, "the chip reset before the download failed");
        }
        job_.link.reset();
        clock().sleepFor(kResetSettle);
        return reopen();
    }

    // The camera again on its port, into the job; on a failure the link is gone.
    Result reopen() {
        auto reopened = reopen_camera(job_, observer_);
        if (!reopened.ok())
            return reopened.result();
        job_.link = std::move(*reopened);
        return {};
    }

    // The image-quality check of the camera models that have one. When the
    // camera did not come back for it, the link is gone.
    Result checkQuality() {
        if (!needsAeCheck(job_.vid, job_.pid))
            return {};
        clock().sleepFor(kResetSettle);
        job_.link.reset();
        if (Result reopened = reopen(); !reopened.ok())
            return reopened;
        return ae_check(*job_.link);
    }

    // Every end comes here once: the camera closed, the serial number kept
    // or given back, then the outcome.
    void finish(Result outcome) {
        if (job_.link && !job_.options.stationBurn) {
            job_.link->CloseCamera();
            job_.link.reset();
        }
        if (job_.serial) {
            // A number burned into a passed camera must never be handed out
            // again: when the file cannot record that, the camera fails.
            if (outcome.ok() && job_.options.advanceSerialOnPass) {
                if (!job_.serials->confirm(*job_.serial, output_)) {
                    observer_.appendLog("\r\n" + job_.serials->name() +
                                        " could not be advanced: serial number " +
                                        job_.serial->serial + " would be burned again.\r\n");
                    outcome = Result::failure(status::kFail, job_.serials->name() +
                                                                 " could not be advanced past " +
                                                                 job_.serial->serial);
                }
            } else {
                job_.serials->release(*job_.serial);
            }
        }
        if (!outcome.ok())
            trace::writef("download failed: %s.", outcome.reason().c_str());
        shared_.result = outcome.ok() ? 1 : 0;
        shared_.outcome = std::move(outcome);
        shared_.done = 1;
        shared_.busy = 0;
    }

    DownloadJob& job_;
    DownloadShared& shared_;
    BurnObserver& observer_;
    ObserverSerialOutput output_;
};

} // namespace

int download_worker(DownloadJob& job, DownloadShared& shared, BurnObserver& observer) {
    // Every trace line of this download names the camera's port.
    const trace::ScopedContext context(job.address.text());
    Worker(job, shared, observer).run();
    return 0;
}

Outcome<std::unique_ptr<CameraLink>> reopen_camera(DownloadJob& job, BurnObserver& observer) {
    for (int misses = 0;; ++misses) {
        auto link = std::make_unique<CameraLink>(*job.devices);
        const Result opened = OpenCameraAt(*link, *job.usb, job.camera, job.address);
        if (opened.ok())
            return link;
        if (misses >= kReopenMisses) {
            observer.burnLog(kLogNotFound);
            return Result::failure(status::kTimeout,
                                   "the camera did not come back after its reset (" +
                                       opened.reason() + ")");
        }
        clock().sleepFor(kReopenPause);
    }
}

Result ae_check(CameraLink& link) {
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    if (const Status read = link.ReadRegister(reg::kAeStatusA, a); read != status::kOk)
        return Result::failure(read, "image-quality register 0x059A could not be read");
    if (const Status read = link.ReadRegister(reg::kAeStatusB, b); read != status::kOk)
        return Result::failure(read, "image-quality register 0x059B could not be read");
    if (std::popcount(a) + std::popcount(static_cast<std::uint8_t>(b & 0xC0)) < 2)
        return Result::failure(status::kFail,
                               formatText("image-quality check failed (0x059A = 0x%02X, 0x059B = "
                                          "0x%02X)",
                                          unsigned{a}, unsigned{b}));
    return {};
}

} // namespace tessell
