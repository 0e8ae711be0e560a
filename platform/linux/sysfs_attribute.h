#pragma once

// One sysfs attribute read as text. Attributes are short; anything longer
// than the limit is not one we understand and reads as absent rather than cut.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace tessell::platform {

constexpr std::size_t kShortAttribute = 64;

// The attribute's text with surrounding blanks and the line end removed;
// none when it cannot be read or is longer than `limit` bytes.
std::optional<std::string> readAttribute(const std::filesystem::path& file,
                                         std::size_t limit = kShortAttribute);

} // namespace tessell::platform
