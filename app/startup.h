#pragma once

// What the program does from its start until one of the two tools runs.

#include "app/command_line.h"
#include "app/exit_codes.h"
#include "app/startup_flags.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

namespace platform {
class InstanceGuard;
}

// The name that one running copy of the tool holds.
inline constexpr std::string_view kInstanceMutexName = "{A918A806-54BF-4d76-9A9B-04D337529252}";

// The settings start-up needs, read from the chosen settings file (every key
// at its default when there is none).
struct StartupSettings {
    // [SETTING] `MultipleMode`: non-zero runs the multi-camera tool.
    int multipleMode = 0;
};

enum class ToolKind {
    // Nothing runs; the process ends with `exitCode`.
    None,
    SingleCamera,
    MultiCamera,
};

struct StartupPlan {
    ToolKind tool = ToolKind::None;
    // The process status to end with when no tool runs.
    int exitCode = kExitNothingFinished;
    // One line for standard error, empty when the end is silent.
    std::string diagnostic;
    // Lines for standard error before the tool runs: the arguments it
    // leaves unused.
    std::vector<std::string> notes;
    // Only for the single-camera tool: the multi-camera tool takes nothing
    // from the command line.
    CCommandLineInfoEx commandLine;
    StartupFlags flags;
};

// Claims the single instance (held by `guard` from then on, so the caller
// keeps it alive as long as the tool runs), chooses the tool, and for the
// single-camera tool parses `arguments` (program name excluded) into its
// start-up flags.
StartupPlan startUp(platform::InstanceGuard& guard, const StartupSettings& settings,
                    std::span<const std::string> arguments);

} // namespace tessell
