#include "download/isp_download.h"

#include "common/clock.h"
#include "common/text_format.h"
#include "common/trace.h"
#include "device/xu_protocol.h"
#include "download/flash_access.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <vector>

namespace tessell {

namespace {

using namespace std::chrono_literals;

// The camera computes its checksum from the flash; it is given this long
// before the tool acts on the answer.
constexpr auto kIspChecksumSettle = 500ms;
constexpr auto kResendPause = 1ms;
// Download mode is left this long before the chip is reset.
constexpr auto kLeaveSettle = 500ms;

constexpr std::uint32_t kMaxDownloadBlock = 4096;

std::uint8_t xorOf(std::span<const std::uint8_t> bytes) {
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : bytes)
        sum ^= byte;
    return sum;
}

bool isMx32Download(std::uint8_t flashType, IcType camera) {
    const bool macronix = flashType == 6 || flashType == 0x81 || flashType == 0x82;
    return macronix && chip::family(camera).mx32;
}

struct IspJob {
    std::span<std::uint8_t> bytes; // the first `length` bytes are the image
    std::size_t length = 0;
    bool headerVariant18 = false;
    bool builtin = false; // the program's own image: no flash-type patch, no header swap
};

// Bytes 0..1 of the caller's buffer carry the invalid signature only while
// the image is being sent; a later download of the same buffer (or its
// serial-number patch) must find the header as loaded.
class HeaderSwap {
public:
    HeaderSwap(std::span<std::uint8_t> bytes) : bytes_(bytes) {
        saved_ = {bytes_[0], bytes_[1]};
        bytes_[0] = 0xF9;
        bytes_[1] = 0xFF;
    }
    ~HeaderSwap() {
        bytes_[0] = saved_[0];
        bytes_[1] = saved_[1];
    }
    HeaderSwap(const HeaderSwap&) = delete;
    HeaderSwap& operator=(const HeaderSwap&) = delete;

private:
    std::span<std::uint8_t> bytes_;
    std::array<std::uint8_t, 2> saved_{};
};

Status putByte(XuChannel& channel, std::uint32_t selector, std::uint8_t value) {
    return channel.put_Property(selector, std::span(&value, 1));
}

Result mx32Run(std::span<std::uint8_t> bytes, std::size_t length, CameraLink& link,
               std::uint8_t flashType, DownloadStatus* status) {
    const bool fits = length > 0 && length <= bytes.size() && length <= kFlashWindow;
    const std::uint8_t checksum = fits ? xorOf(bytes.first(length)) : 0;
    if (status)
        status->computedChecksum = checksum;
    // The camera-checksum byte is left unequal, so that a display comparing
    // the two never shows a failed run as a match.
    auto failure = [&](Status code, std::string reason) {
        if (status)
            status->cameraChecksum = static_cast<std::uint8_t>(~checksum);
        report(status, stage::kFailed, 100);
        return Result::failure(code, std::move(reason));
    };
    CameraDevice* device = link.device();
    if (!device || !link.channel()) {
        trace::write("NULL pExt Pointer fail!");
        return failure(status::kPointer, "the camera is not open");
    }
    if (!fits) {
        trace::writef("MX32 download: an image of %zu bytes does not fit the 64 KiB flash window.",
                      length);
        return failure(status::kInvalidArgument, "the image does not fit the 64 KiB flash");
    }

    std::uint32_t ignored = 0;
    select_flash(link, 0, ignored);
    SpiStatusRead flashStatus = device->SpiReadStatusWait();
    if (flashStatus.status == status::kOk && flashStatus.value != 0) {
        // Cleared without the usual "already holds it" check: any bit left
        // set would keep a sector from programming.
        Status result = device->SpiWriteEnable();
        if (result == status::kOk)
            result = device->SpiWriteStatusBytes(0x00);
        flashStatus =
            result == status::kOk ? device->SpiReadStatusWait() : SpiStatusRead{result, 0};
    }
    if (flashStatus.status != status::kOk) {
        trace::writef("MX32 download: flash status unreachable (0x%08X).",
                      status::hexCode(flashStatus.status));
        return failure(flashStatus.status, "the flash status could not be read or cleared");
    }

    // The flash first receives the image with 0xF5 for its signature byte,
    // so that a run stopped here leaves a camera that does not boot it.
    std::vector<std::uint8_t> buffer(kFlashWindow, 0x00);
    std::copy_n(bytes.begin(), length, buffer.begin());
    buffer[0] = 0xF5;
    const auto programmed = static_cast<std::uint32_t>((length + kFlashSectorSize - 1) /
                                                       kFlashSectorSize * kFlashSectorSize);
    if (const Status written =
            device->WriteRange4K(buffer, 0, programmed, status ? &status->stage : nullptr,
                                 status ? &status->progress : nullptr);
        written != status::kOk) {
        trace::write("MX32 download: sector write failed.");
        return failure(written, "a flash sector could not be written");
    }
    report(status, stage::kChecking, 95);
    if (const Result verified = verify(link, flashType, std::span(buffer).first(length));
        !verified.ok()) {
        trace::write("MX32 download: read-back differs from the image.");
        return failure(verified.status(),
                       "the flash read back differs from the image: " + verified.reason());
    }

    bytes[0] = 0x55;
    SpiProgramRecord signature;
    signature.data[0] = 0x55;
    signature.count = 1;
    if (const Status signed_ = device->SpiPageProgram(signature); signed_ != status::kOk) {
        trace::write("MX32 download: signature write failed.");
        return failure(signed_, "the image signature could not be written");
    }
    const Status protect = device->SpiWriteStatus(flash::kStatusBlockProtect, false);
    if (protect != status::kOk) {
        trace::writef("MX32 download: write protection not restored (0x%08X).",
                      status::hexCode(protect));
        return failure(protect, "the flash write protection could not be restored");
    }
    if (status)
        status->cameraChecksum = checksum;
    report(status, stage::kFinished, 100);
    return {};
}

// One ISP run.
Result runIsp(const IspJob& job, CameraLink& link, std::uint8_t flashType, DownloadStatus* status,
              bool finish) {
    if (!isIspFlashType(flashType)) {
        if (job.builtin) {
            trace::write("Flash type error");
        } else {
            report(status, stage::kFailed, 100);
        }
        return Result::refused("flash type not one the download takes");
    }
    const IcType camera = link.GetIcType();
    const chip::Family& family = chip::family(camera);
    if (!job.builtin)
        set_image_flash_type(job.bytes, camera, flashType);
    report(status, stage::kInitialised, 5);
    trace::write("DL_INITIAL...5%");

    if (isMx32Download(flashType, camera)) {
        trace::write("MX32 download...");
        Result written = mx32Run(job.bytes, job.length, link, flashType, status);
        if (CameraDevice* device = link.device(); device && device->ResetChip() != status::kOk)
            trace::write("MX32 download: chip reset failed.");
        return written;
    }

    if (job.length == 0 || job.length > job.bytes.size()) {
        trace::write("Download Data is NULL!");
        report(status, stage::kFailed, 100);
        return Result::failure(status::kInvalidArgument, "no image data");
    }
    XuChannel* channel = link.channel();
    CameraDevice* device = link.device();
    if (!channel || !device) {
        trace::write("NULL pExt Pointer fail!");
        report(status, stage::kFailed, 100);
        return Result::failure(status::kPointer, "the camera is not open");
    }

    std::optional<HeaderSwap> invalidHeader;
    if (!job.builtin && family.invalidHeaderInData && job.bytes.size() >= 2)
        invalidHeader.emplace(job.bytes);
    const std::span<const std::uint8_t> image = job.bytes.first(job.length);

    std::uint8_t checksum = xorOf(image);
    trace::write("CheckSum calculate ok");
    if (status)
        status->computedChecksum = checksum;

    std::uint32_t flashBlock = 0;
    select_flash(link, flashType, flashBlock);
    trace::write("SetFlashType ok");
    if (family.selectsSerialFlash) {
        trace::write(putByte(*channel, XU_ISP_SERIAL_FLASH, 1) == status::kOk
                         ? "for 7318 XU_ISP_SERIAL_FLASH ok!"
                         : "for 7318 XU_ISP_SERIAL_FLASH fail!");
    }
    const Status unprotect = link.SetFlashProtection(flashType, false);
    trace::write("software protect off...");
    if (unprotect != status::kOk && unprotect != status::kRefused)
        trace::writef("software protect off failed (0x%08X).", status::hexCode(unprotect));

    int retries = 0;
    // Everything from entering download mode up to the valid signature;
    // success only when the signature (or the firmware's completion) is in
    // place, else the step that failed with the camera's status.
    auto transfer = [&]() -> Result {
        if (putByte(*channel, XU_DFU_ENABLE_CONTROL, 1) != status::kOk) {
            trace::write("start burning fail...");
            retries = 1;
            if (const Status again = putByte(*channel, XU_DFU_ENABLE_CONTROL, 1);
                again != status::kOk)
                return Result::failure(again, "the camera did not enter download mode");
            trace::write("start burning recover...");
        }
        trace::write("start burning...ok!");

        std::uint32_t blockSize = 0;
        std::uint32_t firstAnswer = 0;
        channel->get_PropertySize(XU_DFU_ACCESS_CONTROL, &firstAnswer);
        trace::write("get size ...");
        if (channel->boundedPropertySize(XU_DFU_ACCESS_CONTROL, kMaxDownloadBlock, blockSize) !=
            status::kOk) {
            trace::write("get size ...fail");
            ++retries;
            if (const Status again = channel->boundedPropertySize(XU_DFU_ACCESS_CONTROL,
                                                                  kMaxDownloadBlock, blockSize);
                again != status::kOk)
                return Result::failure(again, "the camera gave no download block size");
        }
        trace::write("get size ok");

        std::vector<std::uint8_t> block(blockSize);
        std::size_t sent = 0;
        unsigned blocks = 0;
        while (sent < image.size()) {
            report(status, stage::kSending, blockProgress(sent, image.size()));
            const std::size_t count = std::min<std::size_t>(blockSize, image.size() - sent);
            std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(sent), count, block.begin());
            std::fill(block.begin() + static_cast<std::ptrdiff_t>(count), block.end(),
                      std::uint8_t{0xFF});
            if ((blockSize - count) % 2 == 1)
                checksum = static_cast<std::uint8_t>(~checksum);
            if (++blocks % 20 == 1)
                trace::write("buring data...");
            if (channel->put_Property(XU_DFU_ACCESS_CONTROL, block) != status::kOk) {
                ++retries;
                trace::write("put_Property XU_DFU_ACCESS_CONTROL fail.");
                clock().sleepFor(kResendPause);
                if (const Status again = channel->put_Property(XU_DFU_ACCESS_CONTROL, block);
                    again != status::kOk) {
                    trace::write("put_Property XU_DFU_ACCESS_CONTROL fail.");
                    return Result::failure(
                        again, formatText("firmware block %u was not taken, also when sent again",
                                          blocks));
                }
                trace::write("put_Property XU_DFU_ACCESS_CONTROL has been recovered.");
            }
            if (blocks == 1 && !family.firmwareWritesFlash) {
                // The older families mark the flash invalid themselves and
                // put the identity bytes back after the first block.
                const std::uint8_t invalid = family.invalidByte;
                if (const Result written = write_bytes(link, 0, std::span(&invalid, 1));
                    !written.ok()) {
                    trace::write("invalid signature write failed.");
                    return Result::failure(written.status(), "the flash header could not be "
                                                             "invalidated: " +
                                                                 written.reason());
                }
                const std::uint16_t at = family.identityAt;
                if (at < image.size()) {
                    const std::size_t n = std::min<std::size_t>(6, image.size() - at);
                    if (const Result written = write_bytes(link, at, image.subspan(at, n));
                        !written.ok()) {
                        trace::writef("identity write at 0x%04X failed.", at);
                        return Result::failure(written.status(),
                                               "the identity bytes could not be written: " +
                                                   written.reason());
                    }
                }
            }
            sent += count;
        }

        report(status, stage::kChecking, 95);
        std::uint8_t answer = 0;
        Status checksumRead = status::kOk;
        auto readChecksum = [&] {
            answer = 0;
            checksumRead = channel->get_Property(XU_DFU_CHECKSUM, std::span(&answer, 1));
            return checksumRead == status::kOk;
        };
        if (!readChecksum()) {
            trace::write("get_Property XU_DFU_CHECKSUM fail.");
            if (!readChecksum()) {
                ++retries;
                trace::write("get_Property XU_DFU_CHECKSUM fail.");
                if (!readChecksum())
                    return Result::failure(checksumRead,
                                           "the camera's download checksum could not be read");
            }
        }
        clock().sleepFor(kIspChecksumSettle);
        if (status) {
            status->cameraChecksum = answer;
            // The value compared: padding included.
            status->computedChecksum = checksum;
        }
        if (answer != checksum || retries > 0) {
            trace::write("XU_DFU_CHECKSUM incorrect.");
            trace::writef("FW get checksum (%x) != Code checksum(%x) ", answer, checksum);
            return Result::failure(
                status::kFail,
                answer != checksum
                    ? formatText("the camera's checksum 0x%02X differs from the image's 0x%02X",
                                 unsigned{answer}, unsigned{checksum})
                    : std::string("a download request had to be sent again"));
        }
        trace::writef("checksum correct = %02X ", checksum);

        if (family.validHeader == chip::ValidHeader::FirmwareFinishes) {
            if (const Status confirmed = putByte(*channel, XU_ISP_FW_DOWNLOAD_OK, 1);
                confirmed != status::kOk) {
                trace::write("XU_ISP_FW_DOWNLOAD_OK fail.");
                return Result::failure(confirmed, "the camera did not take the download's end");
            }
        } else {
            std::vector<std::uint8_t> signature{0x55};
            if (family.validHeader == chip::ValidHeader::Header89Kind)
                signature = {0x89, job.headerVariant18 && !job.builtin ? std::uint8_t{0x18}
                                                                       : std::uint8_t{0x17}};
            else if (family.validHeader == chip::ValidHeader::Header8916)
                signature = {0x89, 0x16};
            if (const Result written = write_bytes(link, 0, signature); !written.ok()) {
                trace::write("header signature write failed.");
                return Result::failure(written.status(),
                                       "the header signature could not be written: " +
                                           written.reason());
            }
        }
        const Status protect = link.SetFlashProtection(flashType, true);
        if (protect != status::kOk && protect != status::kRefused) {
            trace::writef("software protect on failed (0x%08X).", status::hexCode(protect));
            return Result::failure(protect, "the flash write protection could not be restored");
        }
        return {};
    };
    Result transferred = transfer();

    if (finish) {
        Status leave = putByte(*channel, XU_DFU_ENABLE_CONTROL, 0);
        if (family.firmwareWritesFlash) {
            if (leave == status::kOk)
                clock().sleepFor(kLeaveSettle);
            if (device->ResetChip() != status::kOk)
                trace::write("chip reset after download failed.");
        }
        if (leave != status::kOk)
            leave = putByte(*channel, XU_DFU_ENABLE_CONTROL, 0);
        if (leave != status::kOk) {
            trace::write("XU_ISP_ENABLE = 0 fail.");
            report(status, stage::kFailed, 100);
            // A transfer that failed says first what went wrong.
            return transferred.ok()
                       ? Result::failure(leave, "the camera did not leave download mode")
                       : transferred;
        }
    }
    // A request that had to be sent again fails the download even when the
    // image came out right.
    if (transferred.ok() && retries > 0)
        transferred = Result::failure(status::kFail, "a download request had to be sent again");
    report(status, transferred.ok() ? stage::kFinished : stage::kFailed, 100);
    return transferred;
}

} // namespace

bool isIspFlashType(std::uint8_t flashType) {
    return flash::isValidForProtection(flashType);
}

Result isp_download(std::span<std::uint8_t> bytes, std::size_t length, bool headerVariant18,
                    CameraLink& link, std::uint8_t flashType, DownloadStatus* status, bool finish) {
    return runIsp(IspJob{bytes, length, headerVariant18, false}, link, flashType, status, finish);
}

Result isp_download(FirmwareImage& image, CameraLink& link, std::uint8_t flashType,
                    DownloadStatus* status, bool finish) {
    return isp_download(image.buffer(), image.loaded() ? image.length() : 0,
                        image.headerVariant18(), link, flashType, status, finish);
}

Result mx32_download(FirmwareImage& image, CameraLink& link, std::uint8_t flashType,
                     DownloadStatus* status) {
    return mx32Run(image.buffer(), image.loaded() ? image.length() : 0, link, flashType, status);
}

Result burn_builtin_image(CameraLink& link, FlashCode code) {
    std::vector<std::uint8_t> copy(builtinImage().begin(), builtinImage().end());
    DownloadStatus own;
    // Not finished: the camera stays on the bus in download mode, so that
    // the module download that follows runs on the same link.
    return runIsp(IspJob{copy, copy.size(), false, true}, link, code, &own, false);
}

} // namespace tessell
