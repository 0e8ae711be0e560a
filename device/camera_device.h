#pragma once

// One camera's device objects: the bound capture device, its Extension-Unit
// channel and names, chip-register access and the serial-flash primitives.
// A `CameraLink` opens and owns it.
//
// Statuses: 0 is success and the only success. Anything else is a failure:
// a negative device status (kTimeout when a bounded wait ran out,
// kInvalidArgument for a refused size), or 1 from an unbound channel.

#include "device/chip_registers.h"
#include "device/flash_parts.h"
#include "device/xu_channel.h"
#include "platform/capture_devices.h"
#include "platform/status.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessell {

// A byte shifts through the serial port in microseconds: a port that stays
// busy this long is stuck.
constexpr auto kSpiIdleBudget = std::chrono::milliseconds(100);
constexpr int kSpiIdleImmediatePolls = 16;
// A page program takes a few ms, a status write up to ~15 ms, a 4 KiB sector
// erase some hundreds of ms: the flash's write-in-progress bit is given this
// long to clear.
constexpr auto kFlashBusyBudget = std::chrono::milliseconds(2000);
constexpr int kFlashBusyImmediatePolls = 4;
constexpr auto kBusyPollPause = std::chrono::milliseconds(1);

// Input of `SpiPageProgram`: address bytes in the order sent (most
// significant first) and up to 33 data bytes.
constexpr std::size_t kSpiProgramMaxData = 33;
struct SpiProgramRecord {
    std::array<std::uint8_t, 3> address{};
    std::array<std::uint8_t, kSpiProgramMaxData> data{};
    std::uint16_t count = 0;
};

// What `SpiReadStatusWait` saw: the last status byte read (write-in-progress
// clear when `status` is 0) and the status of the sequence.
struct SpiStatusRead {
    Status status = status::kOk;
    std::uint8_t value = 0;
};

class CameraDevice {
public:
    CameraDevice() = default; // cleared: nothing bound, no channel
    ~CameraDevice();
    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    XuChannel* channel() const { return channel_.get(); }
    platform::CaptureDevice* captureDevice() const { return filter_.get(); }
    platform::VendorInterface* vendorInterface() const { return vendor_; }
    const std::string& devicePath() const { return devicePath_; }
    const std::string& friendlyName() const { return friendlyName_; }
    // The chip identification byte (register 0x20FF) the open read.
    std::optional<std::uint8_t> chipId() const { return chipId_; }

    // Chip registers: the address on XU_REG_ADDRESS, then the data on
    // XU_REG_DATA. A failed address write ends the access with its status,
    // so that a value is never read from or written to another register.
    // `value` is only written when the read succeeds.
    Status ReadRegister(std::uint16_t address, std::uint8_t& value);
    Status WriteRegister(std::uint16_t address, std::uint8_t value);

    // --- Serial flash -----------------------------------------------------
    // Chip-select value of this camera's family (not the process-wide one).
    std::uint8_t spiCsValue() const;

    // Polls the serial-port busy flag until it reads 0 (bounded).
    Status WaitSpiIdle();
    Status SpiWriteDisableByte();
    Status SpiWriteEnable();
    Status SpiEnableWriteStatus();
    // Reads the flash status register until write-in-progress clears (bounded).
    SpiStatusRead SpiReadStatusWait();
    // The byte sequence of a status write alone (opcode 0x01, value).
    Status SpiWriteStatusBytes(std::uint8_t value);
    // Writes the status register unless it already holds `value`; the write
    // is enabled with 0x50 when `useEnableWriteStatus`, else with 0x06.
    Status SpiWriteStatus(std::uint8_t value, bool useEnableWriteStatus);
    // Page program through the serial port; the status of the first step
    // that failed (kInvalidArgument for more than 33 data bytes).
    Status SpiPageProgram(const SpiProgramRecord& record);
    // The three identification bytes for `command` (0x90, 0xAB, 0x9F), by
    // the firmware when it offers it, else through the serial port.
    Status ReadFlashId(std::uint8_t command, flash::IdBytes& id);
    // The flash part's code; 0x78 when not recognised or not readable.
    Status IdentifyFlash(FlashCode& code);
    // Sets (0x0C) or clears the block-protect bits. 160 for a code not valid
    // for protection or for the families 'j', 'k', 'm'.
    Status SetFlashProtection(FlashCode code, bool protect);
    // The chip's soft reset: six register writes, stopped at the first that
    // fails (its status).
    Status ResetChip();

    // Firmware-assisted transfers (selectors 13, 14, 15, 22).
    Status ReadBlock64(std::uint16_t address, std::size_t count, std::span<std::uint8_t> out);
    // `count` at most 64, at most 63 on 'j' (which carries it in byte 0).
    Status WriteBlock64(std::uint16_t address, std::size_t count,
                        std::span<const std::uint8_t> data);
    // Erases the 4 KiB sector at `address` and sends `data` (4096 bytes) as
    // the two interleaved blocks the firmware expects: the status of the
    // transfer that failed, kInvalidArgument for fewer than 4096 bytes.
    Status WriteBlock4K(std::span<const std::uint8_t> data, std::uint16_t address);
    // Writes image[start..end) 4 KiB by 4 KiB at the same flash addresses,
    // setting stage 22 and percent 5..94 before each block when `state` is
    // given. `end` is at most 0x10000 (16-bit flash addresses), each block
    // inside `image` (else kInvalidArgument); the status of a failed block.
    Status WriteRange4K(std::span<const std::uint8_t> image, std::uint32_t start, std::uint32_t end,
                        std::atomic<std::uint8_t>* state, std::atomic<std::uint8_t>* percent);

private:
    friend class CameraLink;

    // Drops the bound capture device and the interfaces taken from it; the
    // channel keeps its mode and family.
    void releaseBinding();
    // Puts the register address on XU_REG_ADDRESS (kPointer without a channel).
    Status selectRegister(std::uint16_t address);
    Status writeFlashAddress(std::uint16_t address);
    // 0x2022 = byte, then wait until it has shifted out.
    Status shiftOut(std::uint8_t byte);
    // One byte in: start the shift, wait, read the data register, wait.
    Status shiftIn(std::uint8_t& byte);
    // Write enable (0x06) or enable write of status (0x50).
    Status sendSingleCommand(std::uint8_t opcode);

    // The channel holds pointers into the capture device: declared after it,
    // so it goes first.
    std::unique_ptr<platform::CaptureDevice> filter_;
    std::unique_ptr<XuChannel> channel_;
    platform::VendorInterface* vendor_ = nullptr; // lives with filter_
    std::string devicePath_;
    std::string friendlyName_;
    std::optional<std::uint8_t> chipId_;
};

} // namespace tessell
