// The serial-flash primitives of `CameraDevice`: the flash behind the camera
// controller, reached byte by byte through the chip's serial-port registers,
// or in blocks through the firmware's flash controls.

#include "common/poll.h"
#include "common/trace.h"
#include "device/camera_device.h"
#include "device/download_status.h"
#include "device/xu_protocol.h"

#include <algorithm>

namespace tessell {

namespace {

// Holds the flash selected for one command. Every command ends when chip
// select is released, also when a step on the way fails, so that a broken
// sequence never leaves the flash selected for the next one.
class ChipSelect {
public:
    explicit ChipSelect(CameraDevice& device) : device_(device) {}
    ~ChipSelect() {
        if (held_)
            release();
    }
    ChipSelect(const ChipSelect&) = delete;
    ChipSelect& operator=(const ChipSelect&) = delete;

    Status select() {
        held_ = true;
        return device_.WriteRegister(reg::kSpiChipSelect, device_.spiCsValue());
    }
    Status release() {
        held_ = false;
        return device_.WriteRegister(reg::kSpiChipSelect,
                                     static_cast<std::uint8_t>(2 - device_.spiCsValue()));
    }

private:
    CameraDevice& device_;
    bool held_ = false;
};

} // namespace

std::uint8_t CameraDevice::spiCsValue() const {
    return chip::spiCsValue(channel_ ? channel_->icType() : chip::kUndetected);
}

Status CameraDevice::WaitSpiIdle() {
    PollBudget polls(kSpiIdleBudget, kBusyPollPause, kSpiIdleImmediatePolls);
    for (;;) {
        std::uint8_t busy = 0xFF;
        const Status result = ReadRegister(reg::kSpiBusy, busy);
        // A read that failed says nothing about the port: never take it for idle.
        if (result != status::kOk) {
            trace::writef("WaitSpiIdle: busy flag unreadable (0x%08X).", status::hexCode(result));
            return result;
        }
        if (busy == 0)
            return status::kOk;
        if (!polls.again()) {
            trace::writef("WaitSpiIdle: serial port still busy after %d polls.", polls.attempts());
            return status::kTimeout;
        }
    }
}

Status CameraDevice::shiftOut(std::uint8_t byte) {
    const Status sent = WriteRegister(reg::kSpiTransmit, byte);
    if (sent != status::kOk)
        return sent;
    return WaitSpiIdle();
}

Status CameraDevice::shiftIn(std::uint8_t& byte) {
    std::uint8_t ignored = 0;
    Status result = ReadRegister(reg::kSpiReceiveStart, ignored);
    if (result != status::kOk)
        return result;
    if ((result = WaitSpiIdle()) != status::kOk)
        return result;
    return ReadRegister(reg::kSpiReceiveData, byte);
}

Status CameraDevice::SpiWriteDisableByte() {
    const Status on = WriteRegister(reg::kSpiControl, kSpiPortOn);
    if (on != status::kOk)
        return on;
    return shiftOut(flash::command::kWriteDisable);
}

Status CameraDevice::sendSingleCommand(std::uint8_t opcode) {
    Status result = WriteRegister(reg::kSpiControl, kSpiPortOn);
    if (result != status::kOk)
        return result;
    ChipSelect select(*this);
    if ((result = select.select()) != status::kOk || (result = shiftOut(opcode)) != status::kOk)
        return result;
    return select.release();
}

Status CameraDevice::SpiWriteEnable() {
    return sendSingleCommand(flash::command::kWriteEnable);
}

Status CameraDevice::SpiEnableWriteStatus() {
    return sendSingleCommand(flash::command::kEnableWriteStatus);
}

SpiStatusRead CameraDevice::SpiReadStatusWait() {
    SpiStatusRead read;
    read.status = WriteRegister(reg::kSpiControl, kSpiPortOn);
    if (read.status != status::kOk)
        return read;
    PollBudget polls(kFlashBusyBudget, kBusyPollPause, kFlashBusyImmediatePolls);
    for (;;) {
        ChipSelect select(*this);
        std::uint8_t value = 0;
        Status result = select.select();
        if (result == status::kOk)
            result = shiftOut(flash::command::kReadStatus);
        if (result == status::kOk)
            result = shiftIn(value);
        if (result == status::kOk)
            result = select.release();
        if (result != status::kOk) {
            trace::writef("SpiReadStatusWait: status read failed (0x%08X).",
                          status::hexCode(result));
            read.status = result;
            return read;
        }
        read.value = value;
        if ((value & flash::kStatusWriteInProgress) == 0)
            return read;
        if (!polls.again()) {
            trace::writef("SpiReadStatusWait: write still in progress after %d reads "
                          "(status 0x%02X).",
                          polls.attempts(), value);
            read.status = status::kTimeout;
            return read;
        }
    }
}

Status CameraDevice::SpiWriteStatusBytes(std::uint8_t value) {
    Status result = WriteRegister(reg::kSpiControl, kSpiPortOn);
    if (result != status::kOk)
        return result;
    ChipSelect select(*this);
    if ((result = select.select()) != status::kOk ||
        (result = shiftOut(flash::command::kWriteStatus)) != status::kOk ||
        (result = shiftOut(value)) != status::kOk)
        return result;
    return select.release();
}

Status CameraDevice::SpiWriteStatus(std::uint8_t value, bool useEnableWriteStatus) {
    const SpiStatusRead current = SpiReadStatusWait();
    if (current.status != status::kOk)
        return current.status;
    if (current.value == value)
        return status::kOk;
    Status result = useEnableWriteStatus ? SpiEnableWriteStatus() : SpiWriteEnable();
    if (result != status::kOk || (result = SpiWriteStatusBytes(value)) != status::kOk)
        return result;
    const SpiStatusRead after = SpiReadStatusWait();
    if (after.status == status::kOk && after.value != value)
        trace::writef("SpiWriteStatus: status reads 0x%02X after writing 0x%02X.", after.value,
                      value);
    return after.status;
}

Status CameraDevice::SpiPageProgram(const SpiProgramRecord& record) {
    if (record.count > kSpiProgramMaxData) {
        trace::writef("SpiPageProgram: %u data bytes, at most %zu.", unsigned{record.count},
                      kSpiProgramMaxData);
        return status::kInvalidArgument;
    }
    // The status of the first step that failed.
    Status failure = status::kOk;
    auto failed = [&failure](Status result, const char* step) {
        if (result == status::kOk)
            return false;
        trace::writef("SpiPageProgram: %s failed (0x%08X).", step, status::hexCode(result));
        failure = result;
        return true;
    };
    if (failed(WriteRegister(reg::kSpiControl, kSpiPortOn), "port on") ||
        failed(SpiWriteEnable(), "write enable"))
        return failure;
    {
        ChipSelect select(*this);
        if (failed(select.select(), "chip select") ||
            failed(shiftOut(flash::command::kPageProgram), "opcode"))
            return failure;
        for (const std::uint8_t byte : record.address)
            if (failed(shiftOut(byte), "address"))
                return failure;
        for (std::size_t i = 0; i < record.count; ++i)
            if (failed(shiftOut(record.data[i]), "data"))
                return failure;
        if (failed(select.release(), "chip release"))
            return failure;
    }
    if (failed(SpiReadStatusWait().status, "status wait") ||
        failed(SpiWriteDisableByte(), "write disable") ||
        failed(WriteRegister(reg::kSpiControl, kSpiPortOff), "port off"))
        return failure;
    return status::kOk;
}

Status CameraDevice::ReadFlashId(std::uint8_t command, flash::IdBytes& id) {
    // A firmware that takes the identification slot reads the flash itself.
    const std::uint8_t slot = kIdentificationSlot;
    if (channel_ && channel_->put_Property(XU_SF_CMD_INDEX, std::span(&slot, 1)) == status::kOk) {
        Status result = channel_->put_Property(XU_SF_CMD_INDEX, std::span(&slot, 1));
        if (result == status::kOk)
            result = channel_->put_Property(XU_SF_CMD_VALUE, std::span(&command, 1));
        flash::IdBytes answer{};
        if (result == status::kOk)
            result = channel_->get_Property(XU_SF_ID, answer);
        if (result == status::kOk)
            id = answer;
        return result;
    }

    // Otherwise through the serial port. The port is left on.
    Status result = WriteRegister(reg::kSpiControl, kSpiPortOn);
    if (result != status::kOk || (result = shiftOut(flash::command::kWriteDisable)) != status::kOk)
        return result;
    ChipSelect select(*this);
    if ((result = select.select()) != status::kOk ||
        (result = WriteRegister(reg::kSpiTransmit, command)) != status::kOk)
        return result;
    if (command != flash::command::kReadJedecId) {
        for (int i = 0; i < 3; ++i)
            if ((result = WaitSpiIdle()) != status::kOk ||
                (result = WriteRegister(reg::kSpiTransmit, 0)) != status::kOk)
                return result;
    }
    if ((result = WaitSpiIdle()) != status::kOk)
        return result;
    flash::IdBytes answer{};
    for (auto& byte : answer)
        if ((result = shiftIn(byte)) != status::kOk || (result = WaitSpiIdle()) != status::kOk)
            return result;
    if ((result = select.release()) == status::kOk)
        id = answer;
    return result;
}

Status CameraDevice::IdentifyFlash(FlashCode& code) {
    code = flash::kUnknown;
    flash::IdBytes id{};
    Status result = ReadFlashId(flash::command::kReadManufacturerId, id);
    if (result != status::kOk) {
        trace::writef("IdentifyFlash: identification read failed (0x%08X).",
                      status::hexCode(result));
        return result;
    }
    if (const auto first = flash::codeFromManufacturerId(id)) {
        code = *first;
    } else {
        for (const std::uint8_t command :
             {flash::command::kReleasePowerDownId, flash::command::kReadJedecId}) {
            id = {};
            if ((result = ReadFlashId(command, id)) != status::kOk) {
                trace::writef("IdentifyFlash: identification read 0x%02X failed (0x%08X).", command,
                              status::hexCode(result));
                return result;
            }
            if (const auto second = flash::codeFromSecondRead(command, id)) {
                code = *second;
                break;
            }
        }
    }
    trace::writef("IdentifyFlash: %02X %02X %02X -> 0x%02X", id[0], id[1], id[2], code);
    return status::kOk;
}

Status CameraDevice::SetFlashProtection(FlashCode code, bool protect) {
    const IcType type = channel_ ? channel_->icType() : chip::kUndetected;
    // Families whose firmware writes the flash keep its protection themselves.
    if (!flash::isValidForProtection(code) || chip::family(type).firmwareWritesFlash)
        return status::kRefused;
    return SpiWriteStatus(protect ? flash::kStatusBlockProtect : 0, code == 1 || code == 0x7A);
}

Status CameraDevice::ResetChip() {
    struct Write {
        std::uint16_t address;
        std::uint8_t value;
    };
    static constexpr Write kSequence[] = {{0x2034, 0x00}, {0x2030, 0xFF}, {0x2031, 0x00},
                                          {0x2032, 0x00}, {0x2033, 0x02}, {0x2034, 0x01}};
    for (const auto& write : kSequence) {
        const Status result = WriteRegister(write.address, write.value);
        if (result != status::kOk) {
            trace::writef("ResetChip: write of 0x%04X failed (0x%08X).", write.address,
                          status::hexCode(result));
            return result;
        }
    }
    return status::kOk;
}

Status CameraDevice::writeFlashAddress(std::uint16_t address) {
    const std::uint8_t block[4] = {static_cast<std::uint8_t>(address),
                                   static_cast<std::uint8_t>(address >> 8), 0, 0};
    return channel_->put_Property(XU_SF_ADDRESS, block);
}

Status CameraDevice::ReadBlock64(std::uint16_t address, std::size_t count,
                                 std::span<std::uint8_t> out) {
    if (count > 64 || out.size() < count) {
        trace::writef("ReadBlock64: %zu bytes into %zu refused.", count, out.size());
        return status::kInvalidArgument;
    }
    if (!channel_)
        return status::kPointer;
    Status result = writeFlashAddress(address);
    if (result != status::kOk)
        return result;
    std::array<std::uint8_t, 64> block{};
    result = channel_->get_Property(XU_SF_DATA_64, block);
    if (result == status::kOk)
        std::copy_n(block.begin(), count, out.begin());
    return result;
}

Status CameraDevice::WriteBlock64(std::uint16_t address, std::size_t count,
                                  std::span<const std::uint8_t> data) {
    // Some firmware takes the count in byte 0 and the data after it.
    const bool countInBlock = channel_ && chip::family(channel_->icType()).countInBlock;
    const std::size_t limit = countInBlock ? 63 : 64;
    if (count > limit || data.size() < count) {
        trace::writef("WriteBlock64: %zu bytes refused (at most %zu).", count, limit);
        return status::kInvalidArgument;
    }
    if (!channel_)
        return status::kPointer;
    const Status result = writeFlashAddress(address);
    if (result != status::kOk)
        return result;
    std::array<std::uint8_t, 64> block;
    block.fill(0xFF);
    auto to = block.begin();
    if (countInBlock)
        *to++ = static_cast<std::uint8_t>(count);
    std::copy_n(data.begin(), count, to);
    return channel_->put_Property(XU_SF_DATA_64, block);
}

Status CameraDevice::WriteBlock4K(std::span<const std::uint8_t> data, std::uint16_t address) {
    constexpr std::size_t kBlock = 4096;
    if (data.size() < kBlock) {
        trace::writef("WriteBlock4K: %zu bytes refused (4096 needed).", data.size());
        return status::kInvalidArgument;
    }
    if (!channel_)
        return status::kPointer;
    // The firmware programs the upper 32 bytes of every 64-byte chunk it
    // receives: the chunks' first halves go in block A at the address, their
    // second halves in block B 32 bytes higher.
    std::array<std::uint8_t, kBlock> first;
    std::array<std::uint8_t, kBlock> second;
    first.fill(0xFF);
    second.fill(0xFF);
    for (std::size_t chunk = 0; chunk < kBlock; chunk += 64) {
        std::copy_n(data.begin() + chunk, 32, first.begin() + chunk + 32);
        std::copy_n(data.begin() + chunk + 32, 32, second.begin() + chunk + 32);
    }
    const std::uint8_t sector[4] = {static_cast<std::uint8_t>(address),
                                    static_cast<std::uint8_t>(address >> 8), 0, 0};
    const auto secondAddress = static_cast<std::uint16_t>(address + 32);
    std::uint32_t ignored = 0;
    Status result = channel_->put_Property(XU_SF_SECTOR_ERASE, sector);
    if (result == status::kOk) {
        channel_->get_PropertySize(XU_SF_DATA_4K, &ignored);
        result = writeFlashAddress(address);
    }
    if (result == status::kOk)
        result = channel_->put_Property(XU_SF_DATA_4K, first);
    if (result == status::kOk)
        result = writeFlashAddress(secondAddress);
    if (result == status::kOk)
        result = channel_->put_Property(XU_SF_DATA_4K, second);
    if (result != status::kOk)
        trace::writef("WriteBlock4K: sector 0x%04X failed (0x%08X).", address,
                      status::hexCode(result));
    return result;
}

Status CameraDevice::WriteRange4K(std::span<const std::uint8_t> image, std::uint32_t start,
                                  std::uint32_t end, std::atomic<std::uint8_t>* state,
                                  std::atomic<std::uint8_t>* percent) {
    constexpr std::uint32_t kBlock = 4096;
    if (end > 0x10000) {
        trace::writef("WriteRange4K: end 0x%X beyond the 16-bit flash addresses.", end);
        return status::kInvalidArgument;
    }
    std::uint64_t done = 0; // 90 x bytes of the blocks finished so far
    for (std::uint32_t offset = start; offset < end; offset += kBlock) {
        if (std::size_t{offset} + kBlock > image.size()) {
            trace::writef("WriteRange4K: block 0x%X lies beyond the %zu-byte image.", offset,
                          image.size());
            return status::kInvalidArgument;
        }
        if (state) {
            state->store(stage::kSending);
            if (percent)
                percent->store(static_cast<std::uint8_t>(5 + done / (end - start)));
        }
        if (const Status written =
                WriteBlock4K(image.subspan(offset, kBlock), static_cast<std::uint16_t>(offset));
            written != status::kOk)
            return written;
        done += 90 * kBlock;
    }
    return status::kOk;
}

} // namespace tessell
