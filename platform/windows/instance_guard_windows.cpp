#include "platform/instance_guard.h"
#include "platform/windows/windows_text.h"

namespace tessell::platform {

namespace {

// The tool's named mutex in the session's namespace. Holding its handle holds
// the name; the system drops it when the process ends, however it ends.
class MutexInstanceGuard final : public InstanceGuard {
public:
    explicit MutexInstanceGuard(std::string_view name) : name_(name) {}

    InstanceClaim acquire() override {
        if (mutex_.valid())
            return {InstanceStatus::Acquired, {}};
        const std::wstring wide = windows::wideText(name_);
        // Not owned: the name alone is the claim, no thread has to release it.
        windows::Handle created(::CreateMutexW(nullptr, FALSE, wide.c_str()));
        const DWORD error = ::GetLastError();
        if (!created.valid()) {
            // Another user's copy holds the name with an access it denies us:
            // it exists, so it is held elsewhere.
            if (error == ERROR_ACCESS_DENIED)
                return {InstanceStatus::HeldElsewhere, {}};
            return {InstanceStatus::Unavailable,
                    "mutex " + name_ + ": " + windows::errorText(error)};
        }
        if (error == ERROR_ALREADY_EXISTS)
            return {InstanceStatus::HeldElsewhere, {}};
        mutex_ = std::move(created);
        return {InstanceStatus::Acquired, {}};
    }

private:
    std::string name_;
    windows::Handle mutex_;
};

} // namespace

std::unique_ptr<InstanceGuard> makeInstanceGuard(const std::filesystem::path&,
                                                 std::string_view name) {
    return std::make_unique<MutexInstanceGuard>(name);
}

} // namespace tessell::platform
