#pragma once

// One QApplication for the window tests, on the offscreen platform so that
// no display is needed. It is made on first use and destroyed when the test
// program tears down, before Qt's own globals go.

#include <QApplication>

namespace tessell::testing {

QApplication& qtApplication();

// Runs the window's event queue for what is pending now.
void processEvents();

} // namespace tessell::testing
