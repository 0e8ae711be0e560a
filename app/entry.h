#pragma once

namespace tessell {

class WindowRunner;

// The whole program: sub-commands, options, the chosen tool. Returns the
// process status. `windows` shows the single-camera window; without it only
// unattended runs are possible.
int runTool(int argc, char** argv, WindowRunner* windows = nullptr);

} // namespace tessell
