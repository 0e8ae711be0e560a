#include "platform/file_read.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessell::platform {

namespace {

std::string reason(int error) {
    std::string text = std::strerror(error);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

} // namespace

FileRead readRegularFile(const std::filesystem::path& path, std::size_t limit) {
    FileRead result;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer. It has no effect on a regular file's reads.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        result.problem = reason(errno);
        return result;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        result.problem = reason(errno);
    } else if (!S_ISREG(status.st_mode)) {
        result.problem = S_ISDIR(status.st_mode) ? "a folder, not a file" : "not a regular file";
    } else {
        // One byte more than the limit tells a file that is too long.
        result.bytes.resize(limit + 1);
        std::size_t filled = 0;
        while (filled < result.bytes.size()) {
            const ssize_t count =
                ::read(fd, result.bytes.data() + filled, result.bytes.size() - filled);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0) {
                result.problem = reason(errno);
                break;
            }
            if (count == 0)
                break;
            filled += static_cast<std::size_t>(count);
        }
        result.bytes.resize(filled);
        if (result.problem.empty() && filled > limit)
            result.tooLarge = true;
    }
    ::close(fd);
    if (!result.ok())
        result.bytes.clear();
    return result;
}

} // namespace tessell::platform
