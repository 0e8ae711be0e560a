#pragma once

// The simulated camera controller's register file: identification registers,
// the serial-port block wired to the flash part, the LED drive and the two
// register sequences that make the camera leave the bus.

#include "device/chip_registers.h"
#include "device/ic_type.h"
#include "platform/sim/flash_part.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>

namespace tessell::sim {

enum class LedState { On, Off, Unknown };

class Chip {
public:
    // `family` is none for a chip byte that names no family of ours; the
    // flash part stays owned by the caller and outlives the chip.
    Chip(std::uint8_t chipId, std::uint8_t variant, std::optional<IcType> family,
         const std::map<std::uint16_t, std::uint8_t>& startValues, FlashPart& flash);

    std::uint8_t read(std::uint16_t address);

    // What a register write set off.
    enum class Effect { None, LeaveBus };
    Effect write(std::uint16_t address, std::uint8_t value);

    // Power-on state of the serial port (after a reset or a re-plug). The
    // register file keeps what was written: only the port logic starts over.
    void powerOn();
    // Power lost: a selected flash sees its chip select go away.
    void powerOff();

    LedState led() const;
    std::uint8_t chipSelectValue() const { return selectValue_; }

    // Registers worth showing in the state file: those the station set,
    // those written since start, the identification and LED registers.
    std::map<std::uint16_t, std::uint8_t> visibleRegisters() const;

private:
    bool portOn() const { return registers_[reg::kSpiControl] == kSpiPortOn; }
    bool endsSequence(std::uint16_t address, std::uint8_t value) const;

    std::array<std::uint8_t, 0x10000> registers_{};
    std::set<std::uint16_t> shown_;
    FlashPart& flash_;
    std::uint8_t selectValue_;
    bool selected_ = false;
    bool shifted_ = false;
    std::uint8_t received_ = 0xFF;

    // The last register writes, newest last, for the reset sequences.
    struct Write {
        std::uint16_t address;
        std::uint8_t value;
        friend bool operator==(const Write&, const Write&) = default;
    };
    std::array<Write, 5> history_{};
};

} // namespace tessell::sim
