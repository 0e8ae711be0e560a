#pragma once

// One QApplication for the window tests, on the offscreen platform so that
// no display is needed.

#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>

namespace tessell::testing {

inline QApplication& qtApplication() {
    static int argc = 1;
    static char name[] = "tessell_tests";
    static char* argv[] = {name, nullptr};
    static const bool offscreen = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return true;
    }();
    static QApplication application(argc, argv);
    (void)offscreen;
    return application;
}

// Runs the window's event queue for what is pending now.
inline void processEvents() {
    qtApplication();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace tessell::testing
