#include "tests/app/desktop/WindowTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace quillet::desktop::testing {
namespace fs = std::filesystem;

ProgramFolder::ProgramFolder()
{
    static int serial = 0;
    root = fs::temp_directory_path() / ("quillet_win_" + std::to_string(::getpid()) + "_" + std::to_string(++serial));
    fs::remove_all(root);
    fs::create_directories(root / "bin" / "Language");
    for (const char* f : {"english.ini", "chinese.ini"})
        fs::copy_file(fs::path(QUILLET_LANGUAGE_SOURCE_DIR) / f, root / "bin" / "Language" / f);
    paths.executableFolder = (root / "bin").string() + "/";
    paths.documentsFolder = (root / "Documents").string() + "/";
    paths.videosFolder = (root / "Videos").string() + "/";
    paths.settingsFolder = paths.documentsFolder + "OrvikClass/";
    paths.settingsFile = paths.settingsFolder + "Data.ini";
    paths.languageFolder = paths.executableFolder + "Language/";
    paths.languageSelectionFile = paths.languageFolder + "sel.ini";
    paths.defaultOutputFolder = paths.videosFolder + "Screen/";
    paths.createSettingsFolder();
}

ProgramFolder::~ProgramFolder()
{
    fs::remove_all(root);
}

void ProgramFolder::writeSettings(const std::string& text) const
{
    std::ofstream(paths.settingsFile) << text;
}

std::string ProgramFolder::readSettings() const
{
    std::ifstream in(paths.settingsFile);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

BoxWatch::BoxWatch() : poll_(std::make_unique<QTimer>()) {}

BoxWatch::~BoxWatch() = default;

void BoxWatch::answerNext(int timeoutMs, int answer)
{
    clock_.start();
    QObject::disconnect(poll_.get(), nullptr, nullptr, nullptr);
    QObject::connect(poll_.get(), &QTimer::timeout, [this, timeoutMs, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box) {
            seen = true;
            text = box->text();
            box->done(answer);
        }
        if (box || clock_.elapsed() > timeoutMs)
            poll_->stop();
    });
    poll_->start(30);
}

bool spinUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

} // namespace quillet::desktop::testing
