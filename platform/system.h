#pragma once

// Process-level services of the operating system that the core needs.

#include <filesystem>

namespace tessell::platform {

// Full path of the running executable; empty when the system cannot tell.
std::filesystem::path executablePath();

} // namespace tessell::platform
