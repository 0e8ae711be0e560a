#pragma once

// The chip registers the tool reaches over the Extension Unit (16-bit
// addresses, one byte each): the serial port wired to the flash, and the LED.
// The simulated chip decodes the same addresses.

#include <cstdint>

namespace tessell {

namespace reg {
constexpr std::uint16_t kSpiControl = 0x2020;      // 0x80 on, 0 off
constexpr std::uint16_t kSpiBusy = 0x2021;         // non-zero while a byte shifts
constexpr std::uint16_t kSpiTransmit = 0x2022;     // a write shifts the byte out
constexpr std::uint16_t kSpiReceiveStart = 0x2023; // a read shifts one byte in
constexpr std::uint16_t kSpiReceiveData = 0x2024;  // the byte shifted in
constexpr std::uint16_t kSpiChipSelect = 0x2025;   // chip-select value asserts, 2 minus it releases
constexpr std::uint16_t kLedA = 0x2041;
constexpr std::uint16_t kLedB = 0x2043;
} // namespace reg

constexpr std::uint8_t kSpiPortOn = 0x80;
constexpr std::uint8_t kSpiPortOff = 0x00;

} // namespace tessell
