#include "ui/win32/win32_window_runner.h"

#include "app/dialog_preview.h"
#include "app/exit_codes.h"
#include "app/preview_sources.h"
#include "app/query_service.h"
#include "ui/win32/multi_burn_window.h"
#include "ui/win32/preview_window.h"
#include "ui/win32/tessell_window.h"
#include "ui/win32/win32_dialog_thread.h"

#include <cstdio>
#include <memory>

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
                     "tessell: the single-camera window is not available: it cannot be created "
                     "(error %lu); run unattended with -f PATH, -s PATH or -silent\n",
                     GetLastError());
        return kExitNothingFinished;
    }
    std::unique_ptr<preview::FrameSources> sources = processFrameSources();
    if (!sources) // a machine whose cameras cannot be streamed: the Preview box says so
        sources = std::make_unique<preview::NoFrameSources>();
    PreviewWindow previewWindow;
    preview::PreviewDlg engine(*sources, previewWindow);
    previewWindow.attach(&engine);
    DialogPreview preview(engine, *sources, window, [&previewWindow](bool visible) {
        ShowWindow(previewWindow.handle(), visible ? SW_SHOWNOACTIVATE : SW_HIDE);
    });

    const int exitCode = runSingleCameraController(
        services, flags, queries, window, thread, preview, dialog,
        [&window] { ShowWindow(window.handle(), SW_SHOWNORMAL); },
        [&window] { window.runMessageLoop(); });
    previewWindow.attach(nullptr);
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
                     "tessell: the multi-camera window is not available: it cannot be created "
                     "(error %lu); `tessell burn` runs the station without one\n",
                     GetLastError());
        return kExitNothingFinished;
    }
    return runMultiCameraController(
        services, window, thread, dialog, [&window] { ShowWindow(window.handle(), SW_SHOWNORMAL); },
        [&window] { window.runMessageLoop(); });
}

} // namespace tessell::win32
