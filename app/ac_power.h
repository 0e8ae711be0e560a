#pragma once

// Refusing to write a camera's flash on battery: a machine that powers off
// half-way through a download leaves a camera that no longer starts.

#include "common/clock.h"

#include <chrono>
#include <optional>
#include <ostream>
#include <string_view>

namespace tessell {

namespace platform {
class PowerStatus;
}

struct StartupFlags;

inline constexpr std::string_view kAcWarningText =
    "This process requires power to avoid an accidental power-off during an update.\n"
    "Connect the AC adapter to the system.";
inline constexpr std::string_view kAcWarningCaption = "Error";
inline constexpr std::string_view kAcMissingLine = "Please plugin AC power before update FW\n";

// An error message box with an OK button, shown by the window or the console.
class ErrorBox {
public:
    virtual ~ErrorBox() = default;
    // True once the operator has closed it with OK; false when it could not
    // be shown at all.
    virtual bool showError(std::string_view text, std::string_view caption) = 0;
};

// The check when the single-camera tool starts, with the `checkac` setting.
// Returns the code to end the process with (command-line mode on battery),
// or nothing when the start carries on.
std::optional<int> checkAcPowerAtStartup(int checkac, const StartupFlags& flags,
                                         platform::PowerStatus& power, ErrorBox& box,
                                         std::ostream& out);

// While the message box cannot be shown the query polls the power again at
// this interval, for at most kAcQueryWaitLimit; then it refuses as if the
// box had been closed, so a caller blocked on the answer is never held
// forever.
inline constexpr Clock::Duration kAcQueryPollInterval = std::chrono::milliseconds(1000);
inline constexpr Clock::Duration kAcQueryWaitLimit = std::chrono::seconds(30);

// Another process asking whether the tool may work now. Answers
// `acCheckResult`: 1 AC present (or the check is off), 0 refused in window
// mode, -1 refused in command-line mode.
int answerAcPowerQuery(int checkac, const StartupFlags& flags, platform::PowerStatus& power,
                       ErrorBox& box);

} // namespace tessell
