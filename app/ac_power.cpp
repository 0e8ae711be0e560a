#include "app/ac_power.h"

#include "app/exit_codes.h"
#include "app/startup_flags.h"
#include "platform/power.h"

namespace tessell {

namespace {

// Only a line that reads offline counts: a machine that cannot tell (a
// desktop without a power-supply driver) must still be able to work.
bool missingPower(platform::PowerStatus& power) {
    return power.acLineStatus() == platform::kAcOffline;
}

} // namespace

std::optional<int> checkAcPowerAtStartup(int checkac, const StartupFlags& flags,
                                         platform::PowerStatus& power, ErrorBox& box,
                                         std::ostream& out) {
    if (checkac != 1 || !missingPower(power))
        return std::nullopt;
    if (flags.cmdLineMode && flags.acWarnBox)
        box.showError(kAcWarningText, kAcWarningCaption);
    out << kAcMissingLine << std::flush;
    if (flags.cmdLineMode)
        return kExitRefused;
    return std::nullopt;
}

int answerAcPowerQuery(int checkac, const StartupFlags& flags, platform::PowerStatus& power,
                       ErrorBox& box) {
    constexpr int kPresent = 1;
    const int refused = flags.cmdLineMode ? -1 : 0;
    if (checkac != 1)
        return kPresent;
    const Deadline deadline(kAcQueryWaitLimit);
    while (missingPower(power)) {
        // A script that did not ask for the box gets its answer at once.
        if (flags.cmdLineMode && !flags.acWarnBox)
            return refused;
        if (box.showError(kAcWarningText, kAcWarningCaption) || deadline.expired())
            return refused;
        clock().sleepFor(kAcQueryPollInterval);
    }
    return kPresent;
}

} // namespace tessell
