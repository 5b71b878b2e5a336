// quillet-player: plays the recordings Quillet makes, the AVI files of its
// own screen codec and its record files included.
//
//   quillet-player [--fit] [--paused] [--control] [FILE | FOLDER]
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/core/AppPaths.h"
#include "app/core/Language.h"
#include "app/player/ControlChannel.h"
#include "app/player/PlayerTexts.h"
#include "app/player/PlayerWindow.h"
#include "app/player/media/MediaReaders.h"
#include "app/player/media/PlaybackEngine.h"
#include "app/player/pulse/PulseSoundOutput.h"

namespace {

using namespace quillet;
using namespace quillet::player;

const char kUsage[] =
    "usage: quillet-player [--fit] [--paused] [--control] [FILE | FOLDER]\n"
    "  Plays a recording: MP4, FLV, WMV, AVI (Quillet screen codec), a Quillet record file,\n"
    "  or a folder (or one file) of numbered JPEG or PNG images.\n"
    "  --fit      fit the picture to the window instead of showing it at its size\n"
    "  --paused   open without starting to play\n"
    "  --control  take commands on standard input and report on standard output\n";

// The player lives in "Player/" beside the recorder and shares its languages.
std::string programFolder()
{
    std::string own = executableFolder();
    std::string parent = own.substr(0, own.size() > 1 ? own.size() - 1 : 0);
    parent = parent.substr(0, parent.rfind('/') + 1);
    std::error_code ec;
    if (!parent.empty() && std::filesystem::is_directory(parent + "Language", ec))
        return parent;
    return own;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillet-player"));
    PlayerOptions options;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--fit") == 0) {
            options.fitted = true;
        } else if (std::strcmp(a, "--paused") == 0) {
            options.startPaused = true;
        } else if (std::strcmp(a, "--control") == 0) {
            options.control = true;
        } else if (a[0] == '-' && a[1] == '-') {
            std::fprintf(stderr, "quillet-player: unknown option %s\n%s", a, kUsage);
            return 2;
        } else if (file.empty()) {
            file = a;
        } else {
            std::fprintf(stderr, "quillet-player: one recording at a time\n%s", kUsage);
            return 2;
        }
    }

    AppPaths paths = AppPaths::detect();
    paths.useLanguagesOf(programFolder());
    Language language(paths.languageFolder, paths.languageSelectionFile);
    language.load();
    const PlayerTexts texts(language);

    if (file.empty()) {
        if (options.control) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        file = QFileDialog::getOpenFileName(nullptr, texts.text("OpenTitle")).toStdString();
        if (file.empty())
            return 0;
    }

    OpenedMedia media;
    std::string error;
    if (!openMedia(file, media, error)) {
        std::fprintf(stderr, "quillet-player: %s\n", error.c_str());
        if (options.control)
            ControlChannel::emitEvent(QStringLiteral("error ") + QString::fromStdString(error));
        else
            QMessageBox::critical(nullptr, texts.text("Title"),
                                  texts.text("OpenErr") + QLatin1Char('\n') + QString::fromStdString(error));
        return 1;
    }
    std::unique_ptr<SoundOutput> sound;
    if (media.sound) {
        auto pulse = std::make_unique<PulseSoundOutput>();
        if (pulse->connect())
            sound = std::move(pulse);
        else
            media.notes.push_back(texts.text("NoSound").toStdString() + " " + pulse->error());
    }
    PlayerWindow window(std::make_unique<PlaybackEngine>(std::move(media), std::move(sound)), texts, options);
    window.show();
    window.start();
    return app.exec();
}
