#pragma once

// Reading a whole file that someone named: an image, say. The name may point
// at anything (a FIFO, a device, a folder), so the file is looked at before a
// byte is read and refused unless it is a regular file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tessell::platform {

struct FileRead {
    std::vector<std::uint8_t> bytes;
    // Why nothing was read, in lower case for the middle of a sentence ("no
    // such file or directory", "permission denied", "not a regular file");
    // empty when the file was read.
    std::string problem;
    // The file holds more than the limit; `problem` is empty then, so that
    // the caller can say the limit its own way.
    bool tooLarge = false;

    bool ok() const { return problem.empty() && !tooLarge; }
};

// Reads a regular file of at most `limit` bytes. Opening never waits (a FIFO
// without a writer would block for ever), and the size is found by reading,
// not by trusting what the file system reports.
FileRead readRegularFile(const std::filesystem::path& path, std::size_t limit);

} // namespace tessell::platform
