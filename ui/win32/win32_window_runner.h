#pragma once

// Runs the single-camera tool or the multi-camera station in its Win32 window.

#include "app/window_runner.h"

namespace tessell::win32 {

class Win32WindowRunner final : public WindowRunner {
public:
    int runSingleCamera(const DialogServices& services, const StartupFlags& flags,
                        const QueryService::OpenServer& queries) override;
    int runMultiCamera(const MultiBurnServices& services) override;
};

} // namespace tessell::win32
