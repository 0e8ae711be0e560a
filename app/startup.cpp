#include "app/startup.h"

#include "platform/instance_guard.h"

namespace tessell {

StartupPlan startUp(platform::InstanceGuard& guard, const StartupSettings& settings,
                    std::span<const std::string> arguments) {
    StartupPlan plan;
    const auto claim = guard.acquire();
    switch (claim.status) {
    case platform::InstanceStatus::Acquired:
        break;
    case platform::InstanceStatus::HeldElsewhere:
        // A second copy leaves without a word and without disturbing the
        // first; it must not end with 0, which a script would read as a pass.
        plan.exitCode = kExitNothingFinished;
        return plan;
    case platform::InstanceStatus::Unavailable:
        // Without the lock nothing stops a second copy from writing the same
        // flash, so refuse rather than run unguarded.
        plan.exitCode = kExitNothingFinished;
        plan.diagnostic = "tessell: cannot make sure no other copy is running: " + claim.detail;
        return plan;
    }

    if (settings.multipleMode != 0) {
        plan.tool = ToolKind::MultiCamera;
        return plan;
    }
    plan.tool = ToolKind::SingleCamera;
    parseCommandLine(plan.commandLine, arguments);
    plan.flags = applyStartupOptions(plan.commandLine);
    plan.notes = unusedArguments(arguments);
    if (const std::string option = emptyImageOption(plan.commandLine); !option.empty()) {
        // An empty path is a mistake of the script (an unset variable, say),
        // not a request for the image the settings name.
        plan.tool = ToolKind::None;
        plan.exitCode = kExitImageLoadFailed;
        plan.diagnostic = "tessell: the image path after " + option + " is empty; nothing written";
    }
    return plan;
}

} // namespace tessell
