#pragma once

// SHA-256 (FIPS 180-4) of a byte range, for the image fingerprint the burn
// history keeps: the same image gives the same text on every station.

#include <cstdint>
#include <span>
#include <string>

namespace tessell {

// 64 lower-case hex digits.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace tessell
