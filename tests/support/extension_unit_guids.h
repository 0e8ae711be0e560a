#pragma once

// The two Extension Unit GUIDs the cameras carry, as text and in the byte
// order of a USB descriptor (the first three fields little-endian).

#include "platform/guid.h"

#include <array>
#include <cstdint>

namespace tessell::testing {

inline const Guid kPrimaryGuid = *Guid::parse("{63610682-5070-49AB-B8CC-B3855E8D221D}");
inline const Guid kFallbackGuid = *Guid::parse("{7D5A1D99-5B32-428B-8CAD-671B8A65F37A}");

inline constexpr std::array<std::uint8_t, 16> kPrimaryWire = {
    0x82, 0x06, 0x61, 0x63, 0x70, 0x50, 0xAB, 0x49, 0xB8, 0xCC, 0xB3, 0x85, 0x5E, 0x8D, 0x22, 0x1D};
inline constexpr std::array<std::uint8_t, 16> kFallbackWire = {
    0x99, 0x1D, 0x5A, 0x7D, 0x32, 0x5B, 0x8B, 0x42, 0x8C, 0xAD, 0x67, 0x1B, 0x8A, 0x65, 0xF3, 0x7A};

} // namespace tessell::testing
