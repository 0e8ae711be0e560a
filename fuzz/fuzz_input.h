#pragma once

// Splits a fuzzer's input into the pieces a target needs: a few numbers to
// steer it, then the untrusted bytes under test.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace tessell::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    // One byte, or 0 when the input is used up.
    std::uint8_t byte() {
        if (bytes_.empty())
            return 0;
        const std::uint8_t value = bytes_.front();
        bytes_ = bytes_.subspan(1);
        return value;
    }
    // Text up to the next NUL (the NUL dropped), or the rest.
    std::string text() {
        std::size_t length = 0;
        while (length < bytes_.size() && bytes_[length] != 0)
            ++length;
        std::string value(reinterpret_cast<const char*>(bytes_.data()), length);
        bytes_ = bytes_.subspan(length < bytes_.size() ? length + 1 : length);
        return value;
    }
    std::span<const std::uint8_t> rest() const { return bytes_; }
    std::string_view restText() const {
        return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
    }

private:
    std::span<const std::uint8_t> bytes_;
};

// A folder for the files a target writes on every input: the one
// tools/fuzz.sh makes (in memory, and removed after the run), else memory
// when the system has it, since rewriting a file on a journalling disk
// flushes it.
inline std::filesystem::path scratchFolder() {
    if (const char* folder = std::getenv("TESSELL_FUZZ_SCRATCH"); folder && *folder)
        return folder;
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error))
        return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

} // namespace tessell::fuzz
