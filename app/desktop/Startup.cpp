#include "app/desktop/Startup.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/core/AppPaths.h"
#include "app/core/Language.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/CommandIds.h"
#include "app/desktop/InstanceChannel.h"
#include "app/desktop/MainWindow.h"
#include "app/desktop/MessageBoxes.h"
#include "app/desktop/StartupCommand.h"
#include "app/desktop/StopSignals.h"

namespace quillet::desktop {
namespace {

bool haveDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

// Windows need the toolkit; the commands that only talk to another instance
// do not, so they also work without a display.
struct Gui {
    Gui(int& argc, char** argv) : app(argc, argv)
    {
        // The main window hides while recording; closing a box then must not
        // end the program.
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setApplicationName(QStringLiteral("quillet"));
        QApplication::setDesktopFileName(QStringLiteral("quillet"));
    }
    QApplication app;
};

int noDisplay()
{
    std::fprintf(stderr, "quillet: no display to show the window on (DISPLAY is not set); "
                         "quillet-cli records without one\n");
    return 1;
}

} // namespace

int runDesktopProgram(int argc, char** argv)
{
    const AppPaths paths = AppPaths::detect();
    paths.createSettingsFolder();
    SettingsFile settings(paths.settingsFile, paths.defaultOutputFolder);
    Language language(paths.languageFolder, paths.languageSelectionFile);
    language.load();

    std::vector<std::string> args(argv + 1, argv + argc);
    const StartupCommand command = parseStartupCommand(args);
    if (command.action == StartupAction::SetLanguage)
        return language.writeSelection(command.language) ? 0 : 1;

    InstanceChannel channel;
    channel.lock();
    const bool running = channel.findRunning() != 0;
    if (running) {
        channel.unlock(); // the other instance is there: nothing to claim
        switch (command.action) {
        case StartupAction::Run:
        case StartupAction::End:
        case StartupAction::Exit: return channel.send(commandForAction(command.action)) ? 0 : 1;
        case StartupAction::Remove: channel.send(commandForAction(command.action)); break;
        default: {
            if (!haveDisplay())
                return noDisplay();
            Gui gui(argc, argv);
            const QMessageBox::StandardButton answer = askUser(
                nullptr, QMessageBox::Question, displayText(language.lookupCaption("Repeate2", nullptr, "MSG")),
                displayText(language.lookupMessage("Repeate")), QMessageBox::Yes | QMessageBox::No,
                QMessageBox::Yes);
            if (answer == QMessageBox::Yes)
                channel.send(InstanceChannel::kShowRequest);
            return 0;
        }
        }
    }
    if (command.action == StartupAction::End || command.action == StartupAction::Exit)
        return 0;
    if (command.action == StartupAction::Remove) {
        channel.unlock();
        const int removed = settings.remove();
        if (!haveDisplay()) {
            std::printf("%s\n", displayText(language.lookupMessage("Removed")).toStdString().c_str());
            return removed ? 0 : 1;
        }
        Gui gui(argc, argv);
        showStandardMessage(nullptr, language, displayText(language.lookupMessage("Removed")));
        return removed ? 0 : 1;
    }

    if (!haveDisplay())
        return noDisplay();
    Gui gui(argc, argv);
    MainWindow window(paths, settings, language);
    if (!channel.listen())
        std::fprintf(stderr, "quillet: cannot create the instance marker in %s; a second start will not find "
                             "this one\n",
                     channel.socketPath().toLocal8Bit().constData());
    channel.unlock();
    QObject::connect(&channel, &InstanceChannel::requestReceived, &window, &MainWindow::instanceRequest);
    QObject::connect(&window, &MainWindow::exitRequested, &gui.app, [] { QApplication::quit(); });
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &window, [&window] { window.dispatchCommand(kCmdExit); });
    window.show();
    return gui.app.exec();
}

} // namespace quillet::desktop
