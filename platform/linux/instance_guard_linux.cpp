#include "platform/linux/instance_guard_linux.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace tessell::platform {

namespace {

class Descriptor {
public:
    explicit Descriptor(int value) : value_(value) {}
    ~Descriptor() {
        if (value_ >= 0)
            ::close(value_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return value_; }
    int release() { return std::exchange(value_, -1); }

private:
    int value_;
};

std::string describe(const std::filesystem::path& file, int error) {
    return file.string() + ": " + std::generic_category().message(error);
}

} // namespace

FileInstanceGuard::FileInstanceGuard(std::filesystem::path lockFile)
    : lockFile_(std::move(lockFile)) {}

FileInstanceGuard::~FileInstanceGuard() {
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

InstanceClaim FileInstanceGuard::acquire() {
    if (descriptor_ >= 0)
        return {InstanceStatus::Acquired, {}};

    // O_NOFOLLOW: in a shared temporary folder the name could be a planted
    // link. The file is readable by all so that a copy started by another
    // user still finds the lock: it opens the file read-only, which flock
    // accepts.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW;
    int opened = ::open(lockFile_.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    if (opened < 0 && (errno == EACCES || errno == EPERM)) {
        const int createError = errno;
        opened = ::open(lockFile_.c_str(), O_RDONLY | kFlags);
        // No lock file to share: the folder refused to take one, and that
        // is the reason to tell, not the missing file.
        if (opened < 0 && errno == ENOENT)
            errno = createError;
    }
    if (opened < 0)
        return {InstanceStatus::Unavailable, describe(lockFile_, errno)};
    Descriptor file(opened);

    int result;
    do {
        result = ::flock(file.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            return {InstanceStatus::HeldElsewhere, {}};
        return {InstanceStatus::Unavailable, describe(lockFile_, error)};
    }
    descriptor_ = file.release();
    return {InstanceStatus::Acquired, {}};
}

std::unique_ptr<InstanceGuard> makeInstanceGuard(const std::filesystem::path& folder,
                                                 std::string_view name) {
    return std::make_unique<FileInstanceGuard>(folder / name);
}

} // namespace tessell::platform
