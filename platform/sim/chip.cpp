#include "platform/sim/chip.h"

#include <algorithm>

namespace tessell::sim {

namespace {

// The chip reset: these five writes, then 1 to 0x2034.
constexpr std::array<std::pair<std::uint16_t, std::uint8_t>, 5> kResetSequence{{
    {0x2034, 0x00},
    {0x2030, 0xFF},
    {0x2031, 0x00},
    {0x2032, 0x00},
    {0x2033, 0x02},
}};
constexpr std::uint16_t kResetTrigger = 0x2034;

// The firmware's own restart: 0xAA, 0x55, then 0xA0 to 0x20F7.
constexpr std::array<std::pair<std::uint16_t, std::uint8_t>, 2> kRestartSequence{{
    {0x20F5, 0xAA},
    {0x20F6, 0x55},
}};
constexpr std::uint16_t kRestartTrigger = 0x20F7;

} // namespace

Chip::Chip(std::uint8_t chipId, std::uint8_t variant, std::optional<IcType> family,
           const std::map<std::uint16_t, std::uint8_t>& startValues, FlashPart& flash)
    : flash_(flash), selectValue_(family ? chip::spiCsValue(*family) : 0) {
    for (const auto& [address, value] : startValues) {
        registers_[address] = value;
        shown_.insert(address);
    }
    // The identification registers are read-only and win over start values.
    registers_[chip::kChipIdRegister] = chipId;
    registers_[chip::kVariantRegister] = variant;
    shown_.insert({chip::kChipIdRegister, chip::kVariantRegister, reg::kLedA, reg::kLedB});
    history_.fill({0, 0});
}

std::uint8_t Chip::read(std::uint16_t address) {
    switch (address) {
    case reg::kSpiBusy:
        // Busy for exactly one poll after each shift, as the port does.
        if (shifted_) {
            shifted_ = false;
            return 1;
        }
        return 0;
    case reg::kSpiReceiveStart:
        if (portOn()) {
            received_ = selected_ ? flash_.exchange(0xFF) : 0xFF;
            shifted_ = true;
        }
        return registers_[address];
    case reg::kSpiReceiveData:
        return received_;
    default:
        return registers_[address];
    }
}

Chip::Effect Chip::write(std::uint16_t address, std::uint8_t value) {
    const bool sequenceEnds = endsSequence(address, value);
    std::rotate(history_.begin(), history_.begin() + 1, history_.end());
    history_.back() = {address, value};

    if (address == chip::kChipIdRegister || address == chip::kVariantRegister)
        return Effect::None;
    registers_[address] = value;
    shown_.insert(address);

    switch (address) {
    case reg::kSpiTransmit:
        if (portOn()) {
            if (selected_)
                flash_.exchange(value);
            shifted_ = true;
        }
        break;
    case reg::kSpiChipSelect:
        if (value == selectValue_) {
            if (!selected_) {
                flash_.select();
                selected_ = true;
            }
        } else if (selected_) {
            // 2 minus the select value releases, and so does any other value.
            flash_.deselect();
            selected_ = false;
        }
        break;
    default:
        break;
    }
    return sequenceEnds ? Effect::LeaveBus : Effect::None;
}

bool Chip::endsSequence(std::uint16_t address, std::uint8_t value) const {
    auto precededBy = [this](const auto& sequence) {
        const std::size_t offset = history_.size() - sequence.size();
        for (std::size_t i = 0; i < sequence.size(); ++i)
            if (!(history_[offset + i] == Write{sequence[i].first, sequence[i].second}))
                return false;
        return true;
    };
    if (address == kResetTrigger && value == 1)
        return precededBy(kResetSequence);
    if (address == kRestartTrigger && value == 0xA0)
        return precededBy(kRestartSequence);
    return false;
}

void Chip::powerOn() {
    selected_ = false;
    shifted_ = false;
    received_ = 0xFF;
    history_.fill({0, 0});
}

void Chip::powerOff() {
    if (selected_) {
        flash_.deselect();
        selected_ = false;
    }
    shifted_ = false;
}

LedState Chip::led() const {
    const std::uint8_t a = registers_[reg::kLedA];
    const std::uint8_t b = registers_[reg::kLedB];
    if (a == 0xFF && b == 0xFF)
        return LedState::On;
    if (a == 0xFD && b == 0xFD)
        return LedState::Off;
    return LedState::Unknown;
}

std::map<std::uint16_t, std::uint8_t> Chip::visibleRegisters() const {
    std::map<std::uint16_t, std::uint8_t> shown;
    for (std::uint16_t address : shown_)
        shown[address] = registers_[address];
    return shown;
}

} // namespace tessell::sim
