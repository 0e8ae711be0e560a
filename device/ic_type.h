#pragma once

// Chip families (`IcType`): how a camera's chip identification register
// names its family, and what each family implies. One table for the device
// layer, the dialogs and the simulated chip.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tessell {

using IcType = char; // 'd'..'m'

namespace chip {

constexpr std::uint16_t kChipIdRegister = 0x20FF;  // `ChipIdByte`
constexpr std::uint16_t kVariantRegister = 0x20D0; // 0x10 on family 0xA0 gives 'd'

// Family letter before detection, and the "any family" argument of opening.
constexpr IcType kUndetected = 'd';
constexpr IcType kAnyFamily = 'e';

// Family bits (upper four bits of `ChipIdByte`) of the tool's chips; none for
// a chip of another make.
std::optional<std::uint8_t> familyBits(std::uint8_t chipIdByte);

// The camera's `IcType` from its chip byte and, for family 0xA0, the variant
// register; none for a chip that is not one of the tool's.
std::optional<IcType> icTypeFromChip(std::uint8_t chipIdByte, std::uint8_t variant);

// Whether an opening filter letter accepts a chip: 'e' accepts every family,
// each other letter exactly its own family bits ('k' takes 0xC0 only).
bool familyFilterAccepts(IcType filter, std::uint8_t familyBits);

// Value written to register 0x2025 to select the serial flash (2 minus it
// releases it).
std::uint8_t spiCsValue(IcType type);

// Name shown in logs; empty for 'd', 'e' and 'm'.
std::string_view icTypeName(IcType type);

} // namespace chip
} // namespace tessell
