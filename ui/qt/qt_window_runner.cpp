#include "ui/qt/qt_window_runner.h"

#include "app/dialog_preview.h"
#include "app/exit_codes.h"
#include "app/preview_sources.h"
#include "app/query_service.h"
#include "preview/preview_dlg.h"
#include "ui/qt/multi_burn_window.h"
#include "ui/qt/preview_window.h"
#include "ui/qt/qt_dialog_thread.h"
#include "ui/qt/tessell_window.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace tessell::ui {

namespace {

bool setAndNotEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

bool displayAvailable() {
    return setAndNotEmpty("DISPLAY") || setAndNotEmpty("WAYLAND_DISPLAY") ||
           setAndNotEmpty("QT_QPA_PLATFORM");
}

int QtWindowRunner::runSingleCamera(const DialogServices& services, const StartupFlags& flags,
                                    const QueryService::OpenServer& queries) {
    // Without a display the toolkit would abort the process; say why instead.
    if (!displayAvailable()) {
        std::fputs("tessell: the single-camera window is not available: no display (DISPLAY and "
                   "WAYLAND_DISPLAY are not set); run unattended with -f PATH, -s PATH or "
                   "-silent\n",
                   stderr);
        return kExitNothingFinished;
    }
    QApplication application(argc_, argv_);
    TessellWindow window;

    const std::unique_ptr<preview::FrameSources> sources = processFrameSources();
    PreviewWidget previewWindow;
    preview::PreviewDlg engine(*sources, previewWindow);
    previewWindow.attach(&engine);
    DialogPreview preview(engine, *sources, window,
                          [&previewWindow](bool visible) { previewWindow.setVisible(visible); });

    CTessellDlg* dialog = nullptr;
    QtDialogThread thread(window, [&dialog](int id) {
        if (dialog)
            dialog->OnTimer(id);
    });
    QObject::connect(&window, &TessellWindow::toolEnded, &application,
                     [&application] { QTimer::singleShot(0, &application, &QApplication::quit); });

    const int exitCode = runSingleCameraController(
        services, flags, queries, window, thread, preview, dialog, [&window] { window.show(); },
        [&application] { application.exec(); });
    previewWindow.attach(nullptr);
    return exitCode;
}

int QtWindowRunner::runMultiCamera(const MultiBurnServices& services) {
    if (!displayAvailable()) {
        std::fputs("tessell: the multi-camera window needs a display (DISPLAY and WAYLAND_DISPLAY "
                   "are not set); `tessell burn` runs the station without one\n",
                   stderr);
        return kExitNothingFinished;
    }
    QApplication application(argc_, argv_);
    MultiBurnWindow window;
    Tessell_MultiDlg* dialog = nullptr;
    QtDialogThread thread(window, [&dialog](int id) {
        if (dialog)
            dialog->OnTimer(id);
    });
    QObject::connect(&window, &MultiBurnWindow::windowClosed, &application,
                     [&application] { QTimer::singleShot(0, &application, &QApplication::quit); });

    return runMultiCameraController(
        services, window, thread, dialog, [&window] { window.show(); },
        [&application] { application.exec(); });
}

} // namespace tessell::ui
