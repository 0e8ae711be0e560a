#pragma once

// A path as UTF-8 text, for log lines and messages. (std::filesystem gives
// char8_t strings in C++20; the tool's text is plain std::string UTF-8.)

#include <filesystem>
#include <string>

namespace tessell {

inline std::string pathText(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace tessell
