#pragma once

// The memory of a multi-chip module behind the camera controller: no
// sectors, erased all at once, programmed by clearing bits. Optionally kept in
// a file that always holds the memory as it stands.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tessell::sim {

class ModuleMemory {
public:
    // Reads `file` (created erased when missing, refused when of another
    // size); an empty path keeps the memory in memory only. None with `error`
    // set when the file is unusable.
    static std::unique_ptr<ModuleMemory> open(std::size_t size, const std::filesystem::path& file,
                                              std::string& error);

    std::size_t size() const { return bytes_.size(); }
    std::span<const std::uint8_t> contents() const { return bytes_; }

    void erase();
    // new = old AND data; bytes beyond the end are dropped.
    void program(std::size_t address, std::span<const std::uint8_t> data);

private:
    explicit ModuleMemory(std::size_t size) : bytes_(size, 0xFF) {}
    void save(std::size_t from, std::size_t count);

    std::vector<std::uint8_t> bytes_;
    std::filesystem::path file_;
};

} // namespace tessell::sim
