#pragma once

// A path as UTF-8 text, for log lines and messages. (std::filesystem gives
// char8_t strings in C++20; the tool's text is plain std::string UTF-8.)

#include <filesystem>
#include <string>
#include <string_view>

namespace tessell {

inline std::string pathText(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The path UTF-8 text names. (A plain std::string would be taken in the
// system's legacy code page on Windows.)
inline std::filesystem::path textPath(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

} // namespace tessell
