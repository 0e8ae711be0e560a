#pragma once

// A decimal number that is the whole text, as the command lines take their
// counts, seconds and camera numbers: "12" but not "", " 12", "12x" or a
// value out of the type's range.

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace tessell {

template <typename Number> std::optional<Number> parseWholeNumber(std::string_view text) {
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

} // namespace tessell
