#include "ui/win32/win32_window_runner.h"

#include "app/exit_codes.h"
#include "app/preview_control.h"
#include "app/query_service.h"
#include "ui/win32/multi_burn_window.h"
#include "ui/win32/tessell_window.h"
#include "ui/win32/win32_dialog_thread.h"

#include <cstdio>

namespace tessell::win32 {

int Win32WindowRunner::runSingleCamera(const DialogServices& services, const StartupFlags& flags,
                                       const QueryService::OpenServer& queries) {
    TessellWindow window;
    CTessellDlg* dialog = nullptr;
    Win32DialogThread thread([&dialog](int id) {
        if (dialog)
            dialog->OnTimer(id);
    });
    if (!window.handle() || !thread.ready()) {
        std::fprintf(stderr,
                     "tessell: the single-camera window cannot be created (error %lu); "
                     "run unattended with -f PATH, -s PATH or -silent\n",
                     GetLastError());
        return kExitNothingFinished;
    }
    // This build shows no live picture: the Preview box says so in the log.
    UnavailablePreview preview;

    int exitCode = kExitNothingFinished;
    {
        CTessellDlg controller(services, window, thread, flags, preview);
        dialog = &controller;
        window.attach(&controller);
        QueryService questions(
            [&controller](ToolQuestion question) {
                return answerToolQuestion(question, controller);
            },
            thread, queries);
        if (!questions.serving())
            std::fprintf(stderr, "tessell: not answering questions of other processes: %s\n",
                         questions.error().c_str());

        // With notifications unavailable the window still comes up, empty and inert.
        controller.OnInitDialog();
        if (!window.ended()) {
            if (!controller.flags().silentMode && !controller.flags().cmdLineMode)
                ShowWindow(window.handle(), SW_SHOWNORMAL);
            window.runMessageLoop();
        }
        exitCode = window.ended() ? window.exitCode() : controller.exitCode();
        window.attach(nullptr);
        dialog = nullptr;
    }
    return exitCode;
}

int Win32WindowRunner::runMultiCamera(const MultiBurnServices& services) {
    MultiBurnWindow window;
    Tessell_MultiDlg* dialog = nullptr;
    Win32DialogThread thread([&dialog](int id) {
        if (dialog)
            dialog->OnTimer(id);
    });
    if (!window.handle() || !thread.ready()) {
        std::fprintf(stderr,
                     "tessell: the multi-camera window cannot be created (error %lu); `tessell "
                     "burn` runs the station without one\n",
                     GetLastError());
        return kExitNothingFinished;
    }
    // The operator closing the window is the station's normal end.
    int status = 0;
    {
        Tessell_MultiDlg controller(services, thread, window);
        dialog = &controller;
        window.attach(&controller);
        if (controller.OnInitDialog()) {
            ShowWindow(window.handle(), SW_SHOWNORMAL);
            window.runMessageLoop();
        } else {
            // An empty window that never sees a camera arrive would look
            // like a station waiting for cameras.
            constexpr const char* kNoNotifications =
                "Camera plug-ins and plug-outs cannot be followed: the station does not run.";
            std::fprintf(stderr, "tessell: %s\n", kNoNotifications);
            window.showError(kNoNotifications, "Error");
            status = kExitNothingFinished;
        }
        window.attach(nullptr);
        dialog = nullptr;
    }
    return status;
}

} // namespace tessell::win32
