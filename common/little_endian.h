#pragma once

// Little-endian fields, the order of USB descriptors, UVC controls and the
// chip's command words.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tessell::le {

// Callers check that `at` leaves room for the field.
inline void store16(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void store32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t value) {
    store16(out, at, value & 0xFFFF);
    store16(out, at + 2, value >> 16);
}

inline void append16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void append32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    append16(out, value & 0xFFFF);
    append16(out, value >> 16);
}

inline std::uint16_t load16(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint16_t>(in[at] | in[at + 1] << 8);
}

} // namespace tessell::le
