#pragma once
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/core/AppPaths.h"

namespace quillet::desktop::testing {

// Set by the test program's main when the test desktop is there.
extern bool g_haveDesktop;
#define QUILLET_NEEDS_DESKTOP()                                                                                      \
    if (!::quillet::desktop::testing::g_haveDesktop)                                                                 \
    GTEST_SKIP() << "needs the test desktop (run under scripts/test-env.sh)"

// A private program folder for one test: its own settings file, output
// folder and a copy of the shipped language files (a language switch then
// writes its own sel.ini).
struct ProgramFolder {
    ProgramFolder();
    ~ProgramFolder();
    void writeSettings(const std::string& text) const;
    std::string readSettings() const;

    std::filesystem::path root;
    AppPaths paths;
};

// Answers the next message box that opens within timeoutMs: records its text
// and closes it with the given answer (Cancel by default). Returns at once;
// the answer happens from the event loop, and stops with the watch.
class BoxWatch {
public:
    BoxWatch();
    ~BoxWatch();
    void answerNext(int timeoutMs = 3000, int answer = QMessageBox::Cancel);

    QString text;
    bool seen = false;

private:
    std::unique_ptr<QTimer> poll_;
    QElapsedTimer clock_;
};

// Runs the event loop until done() or the time is up; returns done().
bool spinUntil(const std::function<bool()>& done, int timeoutMs);

} // namespace quillet::desktop::testing
