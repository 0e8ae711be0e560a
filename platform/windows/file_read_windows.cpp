#include "platform/file_read.h"
#include "platform/windows/windows_text.h"

namespace tessell::platform {

using windows::errorText;
using windows::Handle;

FileRead readRegularFile(const std::filesystem::path& path, std::size_t limit) {
    FileRead result;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        result.problem = "a folder, not a file";
        return result;
    }
    // Shared for reading and writing: a file another program holds open for
    // writing is still read, as on the other platforms. A pipe or device name
    // opens without waiting and is refused by its type below.
    Handle file(::CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        result.problem = errorText(::GetLastError());
        return result;
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        result.problem = "not a regular file";
        return result;
    }
    // One byte more than the limit tells a file that is too long.
    result.bytes.resize(limit + 1);
    std::size_t filled = 0;
    while (filled < result.bytes.size()) {
        const std::size_t wanted = std::min<std::size_t>(result.bytes.size() - filled, 1u << 20);
        DWORD got = 0;
        if (!::ReadFile(file.get(), result.bytes.data() + filled, static_cast<DWORD>(wanted), &got,
                        nullptr)) {
            result.problem = errorText(::GetLastError());
            break;
        }
        if (got == 0)
            break;
        filled += got;
    }
    result.bytes.resize(filled);
    if (result.problem.empty() && filled > limit)
        result.tooLarge = true;
    if (!result.ok())
        result.bytes.clear();
    return result;
}

} // namespace tessell::platform
