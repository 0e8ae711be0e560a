#pragma once

// A 128-bit identifier in the byte layout USB descriptors and Windows use:
// the first three fields little-endian, the last eight bytes as they stand.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessell {

struct Guid {
    std::array<std::uint8_t, 16> bytes{};

    // Parses "{63610682-5070-49AB-B8CC-B3855E8D221D}" (braces optional).
    static std::optional<Guid> parse(std::string_view text);
    // Upper-case text with braces.
    std::string toString() const;
    bool isNull() const;

    friend bool operator==(const Guid&, const Guid&) = default;
};

} // namespace tessell
