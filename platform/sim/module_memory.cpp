#include "platform/sim/module_memory.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace tessell::sim {

std::unique_ptr<ModuleMemory>
ModuleMemory::open(std::size_t size, const std::filesystem::path& file, std::string& error) {
    auto memory = std::unique_ptr<ModuleMemory>(new ModuleMemory(size));
    memory->file_ = file;
    if (file.empty())
        return memory;
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        // A file of another size belongs to another memory: refused rather
        // than cut or padded behind the user's back.
        const auto fileSize = std::filesystem::file_size(file, ec);
        if (ec || fileSize != size) {
            error = "module file " + file.string() + " does not hold " + std::to_string(size) +
                    " bytes";
            return nullptr;
        }
        std::ifstream in(file, std::ios::binary);
        in.read(reinterpret_cast<char*>(memory->bytes_.data()),
                static_cast<std::streamsize>(memory->bytes_.size()));
        if (!in) {
            error = "module file " + file.string() + " cannot be read";
            return nullptr;
        }
        return memory;
    }
    memory->save(0, memory->bytes_.size());
    if (!std::filesystem::exists(file, ec)) {
        error = "module file " + file.string() + " cannot be created";
        return nullptr;
    }
    return memory;
}

void ModuleMemory::erase() {
    std::fill(bytes_.begin(), bytes_.end(), 0xFF);
    save(0, bytes_.size());
}

void ModuleMemory::program(std::size_t address, std::span<const std::uint8_t> data) {
    if (address >= bytes_.size())
        return;
    const std::size_t count = std::min(data.size(), bytes_.size() - address);
    for (std::size_t i = 0; i < count; ++i)
        bytes_[address + i] &= data[i];
    save(address, count);
}

void ModuleMemory::save(std::size_t from, std::size_t count) {
    if (file_.empty() || count == 0)
        return;
    // Write only the changed range in place, so that a process killed
    // mid-download leaves the memory as it stood; the whole file when it is
    // new or of another size.
    std::error_code ec;
    const auto fileSize = std::filesystem::file_size(file_, ec);
    if (ec || fileSize != bytes_.size()) {
        std::ofstream out(file_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes_.data()),
                  static_cast<std::streamsize>(bytes_.size()));
        return;
    }
    std::fstream out(file_, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(from));
    out.write(reinterpret_cast<const char*>(bytes_.data() + from),
              static_cast<std::streamsize>(count));
}

} // namespace tessell::sim
