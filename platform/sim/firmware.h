#pragma once

// The simulated camera's Extension-Unit firmware: what each selector does to
// the chip, the serial flash and the module memory. Every flash operation of
// the firmware is an SPI command built from the opcode table the tool loaded,
// so a wrong table fails the way it does on a real camera.

#include "common/clock.h"
#include "device/flash_parts.h"
#include "device/ic_type.h"
#include "platform/capture_devices.h"
#include "platform/sim/chip.h"
#include "platform/sim/faults.h"
#include "platform/sim/flash_part.h"
#include "platform/sim/module_memory.h"
#include "platform/sim/station.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tessell::sim {

// One control of the Extension Unit: its length and which requests it takes.
struct ControlInfo {
    std::uint32_t selector = 0;
    std::size_t length = 0;
    bool get = false;
    bool set = false;

    friend bool operator==(const ControlInfo&, const ControlInfo&) = default;
};

class XuFirmware {
public:
    // `module` may be null (no multi-chip module); everything given outlives
    // the firmware.
    XuFirmware(const DeviceConfig& config, std::optional<IcType> family, Chip& chip,
               FlashPart& flash, ModuleMemory* module, const FaultSet& faults);

    // The firmware starts (after an arrival): no download, default table.
    void powerOn();

    // One Extension-Unit request that reached the firmware. Get fills `data`
    // (its size is the length asked) and sets `bytesReturned`; Set takes
    // `data`; Size answers status::kMoreData with the length in `bytesReturned`.
    Status request(std::uint32_t selector, platform::PropertyOp op, std::span<std::uint8_t> data,
                   std::uint32_t& bytesReturned);

    // Every control the firmware knows, in selector order.
    std::vector<ControlInfo> controls() const;
    std::optional<ControlInfo> control(std::uint32_t selector) const;

    bool inDownload() const { return download_; }
    std::uint16_t selectedRegister() const { return registerAddress_; }
    // True once after a register write that makes the camera leave the bus.
    bool takeLeaveRequest();

private:
    Status set(std::uint32_t selector, std::span<const std::uint8_t> data);
    Status get(std::uint32_t selector, std::span<std::uint8_t> data, std::uint32_t& bytesReturned);

    Status enterDownload();
    void endStream();
    Status streamBlock(std::span<const std::uint8_t> block);
    std::uint8_t streamChecksum();
    Status finishDownload();

    // Flash operations through the loaded table.
    std::uint8_t opcode(int slot) const { return table_.slot(slot); }
    void send(std::uint8_t op);
    std::uint8_t readStatus();
    bool waitReady();
    bool eraseSector(std::uint32_t address);
    bool program(std::uint32_t address, std::span<const std::uint8_t> data);
    std::vector<std::uint8_t> read(std::uint32_t address, std::size_t count);
    bool clearProtection();
    flash::IdBytes identify(std::uint8_t command);

    const DeviceConfig& config_;
    std::optional<IcType> family_;
    Chip& chip_;
    FlashPart& flash_;
    ModuleMemory* module_;
    const FaultSet& faults_;
    Clock::Duration readyBound_;

    // Firmware state, cleared at each power-on.
    std::uint16_t registerAddress_ = 0;
    bool leaveRequested_ = false;
    flash::OpcodeTable table_{};
    int slotIndex_ = 0;
    flash::IdBytes idLatch_{};
    std::uint32_t flashAddress_ = 0;
    bool streamToFlash_ = true; // selector 20
    std::optional<Clock::TimePoint> busyUntil_;
    bool busyEndless_ = false;
    std::uint64_t blocksReceived_ = 0;

    // The download stream.
    bool download_ = false;
    bool streamIntoFlash_ = true;
    std::size_t streamEnd_ = 0;
    std::vector<bool> sectorEntered_;
    std::optional<std::uint8_t> heldBack_;
    bool finished_ = false;
};

} // namespace tessell::sim
