#pragma once

// The windows of the two tools, as the program's entry sees them. The window
// toolkit lives outside the core: the executable hands an implementation in
// (or none, in a build without windows).

#include "app/dialog_preview.h"
#include "app/exit_codes.h"
#include "app/query_service.h"
#include "app/startup_flags.h"
#include "app/tessell_dlg.h"
#include "multi/tessell_multi_dlg.h"

#include <cstdio>

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

// The single-camera controller in a toolkit's window, once the window, its
// dialog thread and the preview exist: the controller is bound to the window
// and to `timerTarget` (where the thread's timers go), answers the questions
// of other processes while it runs, and the window is shown (unless the run
// is unattended) and its loop run until the tool ends. Returns the exit code.
// `Window` is the toolkit's view of CTessellDlg: attach, ended, exitCode.
template <typename Window, typename Show, typename RunLoop>
int runSingleCameraController(const DialogServices& services, const StartupFlags& flags,
                              const QueryService::OpenServer& queries, Window& window,
                              DialogThread& thread, DialogPreview& preview,
                              CTessellDlg*& timerTarget, Show show, RunLoop runLoop) {
    CTessellDlg controller(services, window, thread, flags, preview);
    timerTarget = &controller;
    window.attach(&controller);
    QueryService questions(
        [&controller](ToolQuestion question) { return answerToolQuestion(question, controller); },
        thread, queries);
    if (!questions.serving())
        std::fprintf(stderr, "tessell: not answering questions of other processes: %s\n",
                     questions.error().c_str());

    // With notifications unavailable the window still comes up, empty and inert.
    controller.OnInitDialog();
    if (!window.ended()) {
        if (!controller.flags().silentMode && !controller.flags().cmdLineMode)
            show();
        runLoop();
    }
    const int exitCode = window.ended() ? window.exitCode() : controller.exitCode();
    window.attach(nullptr);
    timerTarget = nullptr;
    return exitCode;
}

// The multi-camera station in a toolkit's window, as above: the controller
// bound to the window and to `timerTarget`, the window shown and its loop run
// until the operator closes it (status 0). A station that cannot follow plug
// events does not run: it says so and gives 99.
template <typename Window, typename Show, typename RunLoop>
int runMultiCameraController(const MultiBurnServices& services, Window& window,
                             DialogThread& thread, Tessell_MultiDlg*& timerTarget, Show show,
                             RunLoop runLoop) {
    int status = 0;
    Tessell_MultiDlg controller(services, thread, window);
    timerTarget = &controller;
    window.attach(&controller);
    if (controller.OnInitDialog()) {
        show();
        runLoop();
    } else {
        // An empty window that never sees a camera arrive would look like a
        // station waiting for cameras.
        constexpr const char* kNoNotifications =
            "Camera plug-ins and plug-outs cannot be followed: the station does not run.";
        std::fprintf(stderr, "tessell: %s\n", kNoNotifications);
        window.showError(kNoNotifications, "Error");
        status = kExitNothingFinished;
    }
    window.attach(nullptr);
    timerTarget = nullptr;
    return status;
}

} // namespace tessell
