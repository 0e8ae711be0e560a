#pragma once

// Runs the single-camera tool or the multi-camera station in its Qt window.

#include "app/window_runner.h"

namespace tessell::ui {

class QtWindowRunner final : public WindowRunner {
public:
    // The program's arguments, for the toolkit's own options.
    QtWindowRunner(int& argc, char** argv) : argc_(argc), argv_(argv) {}

    int runSingleCamera(const DialogServices& services, const StartupFlags& flags,
                        const QueryService::OpenServer& queries) override;
    int runMultiCamera(const MultiBurnServices& services) override;

private:
    int& argc_;
    char** argv_;
};

// Whether a window can be shown at all: a display to connect to, or a
// platform plugin (such as offscreen) chosen by the caller.
bool displayAvailable();

} // namespace tessell::ui
