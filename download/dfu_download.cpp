#include "download/dfu_download.h"

#include "common/clock.h"
#include "common/trace.h"
#include "device/usb_identity.h"
#include "device/xu_protocol.h"
#include "download/flash_access.h"
#include "download/isp_download.h"

#include <algorithm>
#include <vector>

namespace tessell {

namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kEnter = 1;
constexpr std::uint8_t kLeave = 0;
constexpr std::uint8_t kFinish = 1;
constexpr std::uint8_t kTrigger = 1;
constexpr std::uint8_t kBusy = 1;
constexpr std::uint8_t kStreamToFlash = 1;
constexpr std::uint8_t kStreamToModule = 0;

// The 7312 firmware is given a pause after each block, and a second after
// its checksum is read before the verdict.
constexpr auto kBlockPause = 10ms;
constexpr auto kDfuChecksumSettle = 1000ms;
// The module's checksum: first look after 800 ms, then once a second.
constexpr auto kFirstBusyLook = 800ms;
constexpr auto kBusyPoll = 1000ms;
constexpr auto kBeforeFinish = 1000ms;
// A camera that left the bus is given three seconds, shown as 96, 97, 98 %.
constexpr auto kGoneStep = 1000ms;

void setStage(DownloadStatus* statusBlock, std::uint8_t stageValue) {
    if (statusBlock)
        statusBlock->stage = stageValue;
}

void setProgress(DownloadStatus* statusBlock, std::uint8_t progress) {
    if (statusBlock)
        statusBlock->progress = progress;
}

bool isModule(std::uint8_t familyIndex) {
    return moduleSequence(familyIndex) != nullptr;
}

bool ok(Status result) {
    return result == status::kOk;
}

// The block size the camera reports for the data control. A size that would
// not fit the block buffer counts as a failed query.
Status queryBlockSize(XuChannel& channel, std::uint32_t& size) {
    return channel.boundedPropertySize(XU_DFU_ACCESS_CONTROL, kXuMaxTransfer, size);
}

Status readChecksum(XuChannel& channel, std::uint8_t& value) {
    std::uint8_t answer[1] = {0};
    const Status result = channel.get_Property(XU_DFU_CHECKSUM, answer);
    if (ok(result))
        value = answer[0];
    return result;
}

// Counters of one run.
struct RunCounters {
    std::uint8_t checksum = 0; // the image checksum, padding included once sent
    int retries = 0;           // commands that needed a second attempt
    int failed = 0;            // a definite failure was seen
};

// Trace texts and pacing of the block stream, which differ between the two
// procedures.
struct StreamStyle {
    bool pace = false; // 10 ms after each block and a trace line every ten blocks
    std::vector<const char*> firstFailure;
    const char* secondFailure;
    const char* recovered;
};

// Streams the image in blocks of `blockSize`, the last one padded with 0xFF
// (each pad byte inverts the checksum). Each block gets one resend, which
// counts as a retry. Returns the status of the last block put: 0 when every
// block went through.
Status streamImage(XuChannel& channel, std::span<const std::uint8_t> content,
                   std::uint32_t blockSize, RunCounters& run, DownloadStatus* statusBlock,
                   const StreamStyle& style) {
    std::vector<std::uint8_t> block(blockSize);
    std::size_t sent = 0;
    int blocks = 0;
    while (sent < content.size()) {
        report(statusBlock, stage::kSending, blockProgress(sent, content.size()));
        const std::size_t count = std::min<std::size_t>(blockSize, content.size() - sent);
        std::fill(block.begin(), block.end(), std::uint8_t{0});
        std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(sent), count, block.begin());
        for (std::size_t pad = count; pad < blockSize; ++pad) {
            block[pad] = 0xFF;
            run.checksum = static_cast<std::uint8_t>(~run.checksum);
        }
        Status result = channel.put_Property(XU_DFU_ACCESS_CONTROL, block);
        if (style.pace && blocks % 10 == 0)
            trace::write("in transfer data.");
        ++blocks;
        if (!ok(result)) {
            ++run.retries;
            for (const char* line : style.firstFailure)
                trace::write(line);
            result = channel.put_Property(XU_DFU_ACCESS_CONTROL, block);
            if (!ok(result)) {
                trace::write(style.secondFailure);
                return result;
            }
            trace::write(style.recovered);
        }
        if (style.pace)
            clock().sleepFor(kBlockPause);
        sent += count;
    }
    return status::kOk;
}

// An empty image would "pass" with nothing written.
bool haveImageAndChannel(const FirmwareImage& image, const XuChannel* channel) {
    if (image.buffer().empty() || image.length() == 0) {
        trace::write("Download Data is NULL!\r\n");
        return false;
    }
    if (!channel) {
        trace::write("NULL pExt Pointer fail.\r\n");
        return false;
    }
    return true;
}

Result noImageOrChannel(const FirmwareImage& image) {
    return image.buffer().empty() || image.length() == 0
               ? Result::failure(status::kInvalidArgument, "no image data")
               : Result::failure(status::kPointer, "the camera is not open");
}

} // namespace

Result download_7312(FirmwareImage& image, CameraLink& link, std::uint8_t familyIndex,
                     DownloadStatus* statusBlock) {
    const IcType camera = link.GetIcType();
    if (!image.buffer().empty())
        set_image_flash_type(image.buffer(), camera, familyIndex);
    report(statusBlock, stage::kInitialised, 5);
    trace::write("downloading...");
    XuChannel* channel = link.channel();
    if (!haveImageAndChannel(image, channel))
        return noImageOrChannel(image);

    const auto content = image.content();
    RunCounters run;
    run.checksum = image::checksum(content, 0);
    trace::writef("bin[2] = %x", image.buffer()[2]);
    trace::writef("checksum is %x", run.checksum);
    trace::writef("flash type is %x", familyIndex);
    std::uint32_t flashBlockSize = 0;
    select_flash(link, familyIndex, flashBlockSize);

    auto& slot = link.downloadSlot();
    const auto sendBody = [&] {
        const std::uint8_t enable[1] = {static_cast<std::uint8_t>(slot.value * 2 + 1)};
        if (!ok(channel->put_Property(XU_DFU_ENABLE_CONTROL, enable))) {
            trace::write("put_Property XU_DFU_ENABLE_CONTROL = 1 fail.");
            trace::write("Resend Command XU_DFU_ENABLE_CONTROL.");
            run.retries = 1;
            if (!ok(channel->put_Property(XU_DFU_ENABLE_CONTROL, enable))) {
                trace::write("put_Property XU_ISP_ENABLE = 1 fail again, goto reset chip");
                return;
            }
            trace::write("put_Property XU_ISP_ENABLE = 1 has been recovered.");
        }

        trace::write("get property size");
        // The size is asked twice and only the second answer counts.
        std::uint32_t blockSize = 0;
        queryBlockSize(*channel, blockSize);
        if (!ok(queryBlockSize(*channel, blockSize))) {
            ++run.retries;
            trace::write("get_PropertySize XU_DFU_ACCESS_CONTROL fail.");
            trace::write("Resend Command XU_DFU_ACCESS_CONTROL.");
            if (!ok(queryBlockSize(*channel, blockSize))) {
                trace::write("get_PropertySize XU_DFU_ACCESS_CONTROL fail.");
                return;
            }
            trace::write("get_PropertySize XU_DFU_ACCESS_CONTROL has been recovered.");
        }

        const StreamStyle style{true,
                                {"put_Property XU_DFU_ACCESS_CONTROL fail.", "Resend Command.\r\n"},
                                "put_Property XU_DFU_ACCESS_CONTROL fail.",
                                "put_Property XU_DFU_ACCESS_CONTROL has been recovered."};
        if (!ok(streamImage(*channel, content, blockSize, run, statusBlock, style)))
            return;

        report(statusBlock, stage::kChecking, 95);
        trace::write("Get FW checksum");
        std::uint8_t cameraChecksum = 0;
        if (!ok(readChecksum(*channel, cameraChecksum)) &&
            !ok(readChecksum(*channel, cameraChecksum))) {
            ++run.retries;
            trace::write("get_Property XU_DFU_CHECKSUM fail.\r\n");
            trace::write("Resend Command fail.\r\n");
            if (!ok(readChecksum(*channel, cameraChecksum))) {
                trace::write("get_Property XU_DFU_CHECKSUM fail.\r\n");
                return;
            }
            trace::write("get_Property XU_DFU_CHECKSUM has been recovered.\r\n");
        }
        if (statusBlock)
            statusBlock->cameraChecksum = cameraChecksum;

        clock().sleepFor(kDfuChecksumSettle);
        trace::writef("retry counter %d", run.retries);
        if (cameraChecksum != run.checksum || run.retries > 0) {
            trace::writef("FW get checksum (%x) != Code checksum(%x) \r\n", cameraChecksum,
                          run.checksum);
            run.failed = 1;
        } else {
            trace::writef("FW checksum = 0x%02X \r\nAP checksum = 0x%02X \r\n"
                          "**Checksum Match!**\r\n",
                          run.checksum, run.checksum);
            const std::uint8_t finish[1] = {kFinish};
            if (!ok(channel->put_Property(XU_ISP_FW_DOWNLOAD_OK, finish))) {
                run.failed = 1;
                trace::write("DL_FINISH_PROCESS fail.");
                return;
            }
            const std::uint8_t leave[1] = {kLeave};
            if (!ok(channel->put_Property(XU_DFU_ENABLE_CONTROL, leave))) {
                run.failed = 1;
                trace::write("XU_ISP_ENABLE fail.");
                return;
            }
        }
        trace::write("end");
    };
    sendBody();

    const bool failure = run.failed != 0 || run.retries != 0;
    // The outcome byte is written on every path, so that it never keeps a
    // pass from an earlier download when this one stopped early.
    if (slot.value >= 0 && static_cast<std::size_t>(slot.value) < slot.results.size())
        slot.results[static_cast<std::size_t>(slot.value)] = failure ? 1 : 0;
    if (statusBlock)
        statusBlock->computedChecksum = run.checksum;

    if (CameraDevice* device = link.device())
        device->ResetChip();
    report(statusBlock, stage::kFinished, 100);
    if (!failure)
        return {};
    return Result::failure(status::kFail, run.failed != 0
                                              ? "the camera did not confirm the image"
                                              : "a download request had to be sent again");
}

Result Download_Fw(FirmwareImage& image, CameraLink& link, std::uint8_t familyIndex,
                   DownloadStatus* statusBlock, int timeoutCount) {
    trace::writef(isModule(familyIndex) ? "--in Download_Fw, sftype=%d (MCM)"
                                        : "--in Download_Fw, sftype=%d (SF)",
                  familyIndex);
    report(statusBlock, stage::kInitialised, 5);
    XuChannel* channel = link.channel();
    if (!haveImageAndChannel(image, channel))
        return noImageOrChannel(image);

    const auto content = image.content();
    RunCounters run;
    run.checksum = image::checksum(content, 0);
    if (statusBlock)
        statusBlock->computedChecksum = run.checksum;

    Status last = status::kOk; // the result of the last command
    std::uint8_t resetControl = 0;
    std::uint8_t chipId = 0;
    bool checksumRead = false;
    std::uint8_t cameraChecksum = 0;

    const auto sendBody = [&] {
        // Where the stream goes. The select byte is checked like every other
        // command: a module image streamed into the serial flash (or the
        // reverse) would otherwise check out and be confirmed.
        std::uint8_t select = kStreamToFlash;
        if (const ModuleSequence* sequence = moduleSequence(familyIndex)) {
            last = channel->put_Property(XU_SF_PARAM_BLOCK, *sequence);
            if (!ok(last)) {
                ++run.retries;
                last = channel->put_Property(XU_SF_PARAM_BLOCK, *sequence);
                if (!ok(last)) {
                    trace::write("put_Property XU_SF_PARAM_BLOCK fail.\r\n");
                    return;
                }
                trace::write("put_Property XU_SF_PARAM_BLOCK has been recovered.\r\n");
            }
            select = kStreamToModule;
        } else {
            std::uint32_t flashBlockSize = 0;
            select_flash(link, familyIndex, flashBlockSize);
        }
        const std::uint8_t target[1] = {select};
        last = channel->put_Property(XU_ISP_SERIAL_FLASH, target);
        if (!ok(last)) {
            ++run.retries;
            last = channel->put_Property(XU_ISP_SERIAL_FLASH, target);
            if (!ok(last)) {
                trace::write("put_Property XU_ISP_SERIAL_FLASH fail.\r\n");
                return;
            }
            trace::write("put_Property XU_ISP_SERIAL_FLASH has been recovered.\r\n");
        }

        const std::uint8_t enable[1] = {kEnter};
        last = channel->put_Property(XU_DFU_ENABLE_CONTROL, enable);
        const bool enabled = ok(last);
        // Whether the camera resets itself and whether it is the chip that
        // computes the module checksum on request: without them the end of
        // the download cannot be done right.
        for (const auto& [address, value] : {std::pair{reg::kResetControl, &resetControl},
                                             std::pair{chip::kChipIdRegister, &chipId}}) {
            const Status read = link.ReadRegister(address, *value);
            if (!ok(read)) {
                trace::writef("ReadRegister 0x%04X fail.\r\n", address);
                last = read;
                return;
            }
        }
        if (!enabled) {
            run.retries = 1;
            last = channel->put_Property(XU_DFU_ENABLE_CONTROL, enable);
            if (!ok(last)) {
                trace::write("put_Property XU_ISP_ENABLE = 1 fail.\r\n");
                return;
            }
            trace::write("put_Property XU_ISP_ENABLE = 1 has been recovered.\r\n");
        }

        std::uint32_t blockSize = 0;
        queryBlockSize(*channel, blockSize);
        last = queryBlockSize(*channel, blockSize);
        if (!ok(last)) {
            ++run.retries;
            last = queryBlockSize(*channel, blockSize);
            if (!ok(last)) {
                trace::write("get_PropertySize XU_DFU_ACCESS_CONTROL fail.\r\n");
                return;
            }
            trace::write("get_PropertySize XU_DFU_ACCESS_CONTROL has been recovered.\r\n");
        }

        trace::write("--while start");
        const StreamStyle style{false,
                                {},
                                "put_Property XU_DFU_ACCESS_CONTROL fail.\r\n",
                                "put_Property XU_DFU_ACCESS_CONTROL has been recovered.\r\n"};
        last = streamImage(*channel, content, blockSize, run, statusBlock, style);
        if (!ok(last))
            return;
        trace::write("--while end");
        // The checksum the camera must report is that of the padded stream.
        if (statusBlock)
            statusBlock->computedChecksum = run.checksum;
        report(statusBlock, stage::kChecking, 95);

        if (chipId == kModuleChipD2 && isModule(familyIndex)) {
            const std::uint8_t trigger[1] = {kTrigger};
            last = channel->put_Property(XU_FW_CHECKSUM_TRIGGER, trigger);
            trace::writef("trigger check sum calculate, the result = 0x%x",
                          static_cast<std::uint32_t>(last));
            if (ok(last)) {
                trace::write("wait 1 second");
                clock().sleepFor(kFirstBusyLook);
                setStage(statusBlock, stage::kBusyWait);
                std::uint8_t flag[1] = {0};
                const auto readFlag = [&] {
                    flag[0] = 0;
                    last = channel->get_Property(XU_FW_CHECKSUM_TRIGGER, flag);
                    if (!ok(last)) {
                        trace::write("get_Property XU_FW_CHECKSUM_TRIGGER fail.\r\n");
                        return false;
                    }
                    trace::writef("get the FW busy flag = 0x%x", flag[0]);
                    return true;
                };
                // A checksum read before the camera finished computing it
                // proves nothing: an unreadable flag or a time-out fails the run.
                bool readable = readFlag();
                while (readable && flag[0] == kBusy) {
                    trace::write("wait 1 second");
                    clock().sleepFor(kBusyPoll);
                    readable = readFlag();
                    if (!readable)
                        break;
                    if (timeoutCount <= 0) {
                        trace::write(" time out!!");
                        if (flag[0] == kBusy)
                            run.failed = 1;
                        break;
                    }
                    --timeoutCount;
                }
                if (!readable)
                    run.failed = 1;
            } else {
                // The camera was never asked to compute the checksum.
                run.failed = 1;
            }
        }

        cameraChecksum = 0;
        last = readChecksum(*channel, cameraChecksum);
        if (!ok(last))
            last = readChecksum(*channel, cameraChecksum);
        if (!ok(last)) {
            ++run.retries;
            trace::write("get_Property XU_DFU_CHECKSUM fail.\r\n");
            last = readChecksum(*channel, cameraChecksum);
            if (!ok(last)) {
                trace::write("get_Property XU_DFU_CHECKSUM fail.\r\n");
                return;
            }
            trace::write("get_Property XU_DFU_CHECKSUM has been recovered.\r\n");
        }
        checksumRead = true;
        if (chipId == kModuleChipD2)
            link.changeRegisterBits(reg::kModuleChecksum, 0, 0x20);
        if (statusBlock)
            statusBlock->cameraChecksum = cameraChecksum;

        if (cameraChecksum != run.checksum || run.retries > 0) {
            trace::write("XU_DFU_CHECKSUM incorrect\r\n");
            trace::writef("FW get checksum (%x) != Code checksum(%x) \r\n", cameraChecksum,
                          run.checksum);
            run.failed = 1;
        } else if (run.failed == 0) {
            const std::uint8_t finish[1] = {kFinish};
            last = channel->put_Property(XU_ISP_FW_DOWNLOAD_OK, finish);
            if (!ok(last))
                run.failed = 1;
        }
    };
    sendBody();

    if (checksumRead && cameraChecksum == run.checksum) {
        const std::uint8_t leave[1] = {kLeave};
        last = channel->put_Property(XU_DFU_ENABLE_CONTROL, leave);
    }
    clock().sleepFor(kBeforeFinish);
    if (last == status::kDeviceGone) {
        trace::write("0x800");
        for (int progress : {96, 97, 98}) {
            setProgress(statusBlock, static_cast<std::uint8_t>(progress));
            clock().sleepFor(kGoneStep);
        }
    }
    if (!ok(last)) {
        trace::write("put_Property XU_DFU_ENABLE_CONTROL = 0 fail.\r\n");
        report(statusBlock, stage::kFailed, 100);
        return Result::failure(last, "the camera did not leave download mode");
    }
    if (!(resetControl & 0x02)) {
        trace::write("AP do soft reset");
        if (CameraDevice* device = link.device())
            device->ResetChip();
    }
    report(statusBlock, stage::kFinished, 100);
    if (run.failed == 0 && run.retries == 0)
        return {};
    trace::writef("F=%d,R=%d", run.failed, run.retries);
    setStage(statusBlock, stage::kFailed);
    return Result::failure(status::kFail, run.failed != 0
                                              ? "the camera did not confirm the image"
                                              : "a download request had to be sent again");
}

Result prepare_module(CameraLink& link, platform::UsbLocation& usb,
                      const platform::UsbAddress& address) {
    const IcType camera = link.GetIcType();
    if (chip::family(camera).procedure != chip::Procedure::ModuleOrIsp)
        return {};
    std::uint8_t chipId = 0;
    if (const Status read = link.ReadRegister(chip::kChipIdRegister, chipId); !ok(read)) {
        trace::write("prepare_module: chip identification unreadable, stop download.");
        return Result::failure(read, "the chip identification could not be read");
    }
    if (chipId == kModuleChipD0) {
        link.changeRegisterBits(reg::kModuleEnable, 0x80, 0);
    } else if (chipId == kModuleChipD2) {
        // Invalidate the flash header, then restart the firmware with the
        // module path on.
        const std::uint8_t header[2] = {0x00, 0x00};
        // A header left valid only delays the module download's own checks.
        if (const Result invalidated = write_bytes(link, 0, header); !invalidated.ok())
            trace::writef("prepare_module: header not invalidated: %s.",
                          invalidated.reason().c_str());
        link.changeRegisterBits(reg::kModuleEnable, 0x80, 0);
        link.changeRegisterBits(reg::kModuleChecksum, 0x20, 0);
        link.WriteRegister(reg::kRestartArm, 0x01);
        link.WriteRegister(reg::kRestartKey0, 0xAA);
        link.WriteRegister(reg::kRestartKey1, 0x55);
        link.WriteRegister(reg::kRestartTrigger, 0xA0);
    }

    clock().sleepFor(kModuleReopenPause);
    const Deadline deadline(kModuleReopenBudget);
    // The restart re-enumerates the camera: the one on the same port is this
    // camera, whatever other cameras of its family the station holds.
    while (!OpenCameraAt(link, usb, camera, address).ok()) {
        if (deadline.expired()) {
            trace::write("prepare_module: camera did not come back, stop download. (timeout)");
            return Result::failure(status::kTimeout,
                                   "the camera did not come back after a restart");
        }
        clock().sleepFor(kModuleReopenPause);
    }

    FlashCode code = flash::kUnknown;
    link.IdentifyFlash(code);
    // The module download decides; a failed built-in image is only traced.
    const Result burned = burn_builtin_image(link, code);
    if (!burned.ok())
        trace::writef("prepare_module: built-in image burn with flash 0x%02X failed: %s.", code,
                      burned.reason().c_str());
    return {};
}

Result prepare_module_2(CameraLink& link) {
    return Result::of(link.changeRegisterBits(reg::kBootControl, 0, 0x02),
                      "the boot control register could not be changed");
}

} // namespace tessell
