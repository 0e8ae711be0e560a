#pragma once

namespace tessell {

// The whole program: sub-commands, options, the chosen tool. Returns the
// process status.
int runTool(int argc, char** argv);

} // namespace tessell
