#pragma once

// One job on one camera, chosen by its USB port, for scripts and service
// benches: `tessell flash|dump|erase|led|info --port HUB:PORT`. The camera is
// downloaded by the same burn session, and dumped, erased and lit by the same
// maintenance code, as in the window; only the window's selection rules
// (list position, identity check, automatic download) are left out.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace tessell {

// Exit statuses of the one-camera commands.
constexpr int kCameraJobDone = 0;
constexpr int kCameraJobFailed = 1;
// Bad arguments, no camera services, another copy of the tool running, or
// several cameras attached and no --port.
constexpr int kCameraJobUsage = 2;
constexpr int kCameraJobNoCamera = 3;

// Whether `word` names one of these commands.
bool isCameraCommand(std::string_view word);

// Runs the command `verb` with the words after it. `terminal`: standard
// error and input reach a person (a progress bar is drawn, a question asked).
int runCameraCommand(std::string_view verb, const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err, std::istream& in, bool terminal);

} // namespace tessell
