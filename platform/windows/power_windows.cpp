#include "platform/power.h"

#include <windows.h>

namespace tessell::platform {

namespace {

class SystemPowerStatus final : public PowerStatus {
public:
    int acLineStatus() override {
        SYSTEM_POWER_STATUS status{};
        if (!::GetSystemPowerStatus(&status))
            return kAcUnknown;
        // 0 offline, 1 online, 255 unknown; anything else is unknown as well.
        switch (status.ACLineStatus) {
        case 0:
            return kAcOffline;
        case 1:
            return kAcOnline;
        default:
            return kAcUnknown;
        }
    }
};

} // namespace

std::unique_ptr<PowerStatus> makeSystemPowerStatus() {
    return std::make_unique<SystemPowerStatus>();
}

} // namespace tessell::platform
