#include "app/entry.h"
#include "platform/system.h"

#if defined(TESSELL_GUI)
#include "ui/qt/qt_window_runner.h"
#elif defined(TESSELL_WIN32_UI)
#include "ui/win32/win32_window_runner.h"
#endif

int main(int argc, char** argv) {
    tessell::platform::ignoreBrokenPipes();
    tessell::platform::binaryStandardStreams();
#ifdef TESSELL_GUI
    tessell::ui::QtWindowRunner windows(argc, argv);
    return tessell::runTool(argc, argv, &windows);
#elif defined(TESSELL_WIN32_UI)
    tessell::win32::Win32WindowRunner windows;
    return tessell::runTool(argc, argv, &windows);
#else
    return tessell::runTool(argc, argv);
#endif
}
