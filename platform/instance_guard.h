#pragma once

// One copy of the tool per machine session: two copies writing the same
// camera's flash at once would corrupt it.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace tessell::platform {

enum class InstanceStatus {
    // This process now holds the name, until the guard is destroyed.
    Acquired,
    // Another process holds it.
    HeldElsewhere,
    // The system could not tell (the lock could not be created).
    Unavailable,
};

struct InstanceClaim {
    InstanceStatus status = InstanceStatus::Unavailable;
    // Why, when Unavailable: the path and the system's error text.
    std::string detail;
};

class InstanceGuard {
public:
    virtual ~InstanceGuard() = default;
    // Claims the name. Calling it again after Acquired answers Acquired.
    virtual InstanceClaim acquire() = 0;
};

// A guard for `name`, not yet acquired. Where the system has no named
// objects, the guard is a lock file called `name` in `folder`.
std::unique_ptr<InstanceGuard> makeInstanceGuard(const std::filesystem::path& folder,
                                                 std::string_view name);

} // namespace tessell::platform
