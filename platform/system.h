#pragma once

// Process-level services of the operating system that the core needs.

#include <cstddef>
#include <filesystem>

namespace tessell::platform {

// Full path of the running executable; empty when the system cannot tell.
std::filesystem::path executablePath();

// The longest path the system opens, in bytes without the terminating NUL.
std::size_t maximumPathBytes();

} // namespace tessell::platform
