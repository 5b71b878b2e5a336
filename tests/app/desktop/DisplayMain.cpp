#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

// Real windows on the test desktop (scripts/test-env.sh); skipped without one.
int main(int argc, char** argv)
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display || !std::getenv("QUILLET_TEST_ENV")) {
        std::fprintf(stderr, "no test desktop (run inside scripts/test-env.sh); skipped\n");
        return 77;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
