#include "tests/qt/qt_app.h"

#include <gtest/gtest.h>
#include <memory>

namespace tessell::testing {

namespace {

std::unique_ptr<QApplication>& application() {
    static std::unique_ptr<QApplication> instance;
    return instance;
}

class QtTearDown final : public ::testing::Environment {
public:
    void TearDown() override { application().reset(); }
};

// GoogleTest owns registered environments.
[[maybe_unused]] ::testing::Environment* const kTearDown =
    ::testing::AddGlobalTestEnvironment(std::make_unique<QtTearDown>().release());

} // namespace

QApplication& qtApplication() {
    // The platform is chosen by argument, not by environment, so that
    // programs the tests start do not inherit it.
    static int argc = 3;
    static char name[] = "tessell_tests";
    static char option[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    if (!application())
        application() = std::make_unique<QApplication>(argc, argv);
    return *application();
}

void processEvents() {
    qtApplication();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace tessell::testing
