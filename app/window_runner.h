#pragma once

// The windows of the two tools, as the program's entry sees them. The window
// toolkit lives outside the core: the executable hands an implementation in
// (or none, in a build without windows).

#include "app/query_service.h"
#include "app/startup_flags.h"
#include "app/tessell_dlg.h"
#include "multi/tessell_multi_dlg.h"

namespace tessell {

class WindowRunner {
public:
    virtual ~WindowRunner() = default;
    // Runs the window until the tool ends; returns `exitCode` (-1 as given,
    // not yet reduced to a process status). `queries` opens the socket where
    // other processes ask the tool their questions.
    virtual int runSingleCamera(const DialogServices& services, const StartupFlags& flags,
                                const QueryService::OpenServer& queries) = 0;
    // Runs the multi-camera station's window until the operator closes it;
    // returns the process status: 0 once closed, 99 (nothing done) when no
    // window could be shown or the station cannot follow its cameras.
    virtual int runMultiCamera(const MultiBurnServices& services) = 0;
};

} // namespace tessell
