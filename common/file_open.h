#pragma once

// std::fopen for a std::filesystem::path. Windows keeps paths as wide text
// and its narrow fopen takes the legacy code page, which cannot name every
// file; there the wide form opens the path as it is.

#include <cstdio>
#include <filesystem>
#include <string>

namespace tessell {

inline std::FILE* openFile(const std::filesystem::path& file, const char* mode) {
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(file.c_str(), wideMode.c_str());
#else
    return std::fopen(file.c_str(), mode);
#endif
}

} // namespace tessell
