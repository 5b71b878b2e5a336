#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <memory>

#include "tests/app/desktop/WindowTestSupport.h"

namespace quillet::desktop::testing {
bool g_haveDesktop = false;
}

// Real windows on the test desktop (scripts/test-env.sh); each test skips
// itself without one.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const char* display = std::getenv("DISPLAY");
    std::unique_ptr<QApplication> app;
    if (display && *display && std::getenv("QUILLET_TEST_ENV")) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        quillet::desktop::testing::g_haveDesktop = true;
    }
    return RUN_ALL_TESTS();
}
