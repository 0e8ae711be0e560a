#pragma once

// The single-instance guard as an exclusive lock on a file. The kernel drops
// the lock when the process ends however it ends, so a crashed copy never
// blocks the next start; the file itself stays and is harmless.

#include "platform/instance_guard.h"

#include <filesystem>

namespace tessell::platform {

class FileInstanceGuard final : public InstanceGuard {
public:
    explicit FileInstanceGuard(std::filesystem::path lockFile);
    ~FileInstanceGuard() override;
    FileInstanceGuard(const FileInstanceGuard&) = delete;
    FileInstanceGuard& operator=(const FileInstanceGuard&) = delete;

    InstanceClaim acquire() override;

    const std::filesystem::path& lockFile() const { return lockFile_; }

private:
    std::filesystem::path lockFile_;
    int descriptor_ = -1;
};

} // namespace tessell::platform
