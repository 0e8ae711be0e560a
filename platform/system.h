#pragma once

// Process-level services of the operating system that the core needs.

#include <cstddef>
#include <filesystem>

namespace tessell::platform {

// Full path of the running executable; empty when the system cannot tell.
std::filesystem::path executablePath();

// The longest path the system opens, in bytes without the terminating NUL.
std::size_t maximumPathBytes();

// Lets writes to a pipe or socket whose reader has gone fail (EPIPE) instead
// of ending the process: a script that stops reading the tool's output must
// not kill a download halfway or keep its result files from being written.
void ignoreBrokenPipes();

} // namespace tessell::platform
