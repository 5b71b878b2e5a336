// The main window's menus and the windows it opens: tray menu, settings menu,
// folder menu, language menu, settings window and About window.
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

#include "app/core/AppPaths.h"
#include "app/core/Language.h"
#include "app/core/ProgramVersion.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/AboutWindow.h"
#include "app/desktop/CommandIds.h"
#include "app/desktop/Controls.h"
#include "app/desktop/FormatList.h"
#include "app/desktop/Icons.h"
#include "app/desktop/MainWindow.h"
#include "app/desktop/MessageBoxes.h"
#include "app/desktop/OutputFiles.h"
#include "app/desktop/ResourceTexts.h"
#include "app/desktop/SettingsWindow.h"
#include "app/desktop/TrayIcon.h"
#include "app/update/UpdateNotice.h"
#include "capture/x11/X11Screen.h"
#include "engine/SettingsKeys.h"
#include "engine/session/RecordingSession.h"

namespace quillet::desktop {
namespace {

// Filter of both file dialogs: all recording types, then each on its own.
const char* const kFileFilter =
    "All (*.avi *.flv *.swf *.wmv *.jpg *.mp4);;AVI (*.avi);;Flash (*.flv);;Flash (*.swf);;wmv (*.wmv);;"
    "Jpeg (*.jpg);;Mp4 (*.mp4)";
// The desktop's autostart entry for this program (what "start with the
// system" reflects).
constexpr const char* kAutostartEntry = "autostart/quillet.desktop";

QFileDialog::Options dialogOptions()
{
    // The toolkit's own dialog behaves the same on every desktop.
    return QFileDialog::DontUseNativeDialog;
}

QString autostartFile()
{
    QByteArray config = qgetenv("XDG_CONFIG_HOME");
    QString base = config.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : QString::fromLocal8Bit(config);
    return base + QStringLiteral("/") + QString::fromLatin1(kAutostartEntry);
}

} // namespace

std::string MainWindow::sourceText(int index) const
{
    if (index == 0)
        return language_.lookupMessage("audio1");
    if (sources_.isComputerSound(index))
        return language_.lookupMessage("audio2");
    if (index > 0 && index <= sources_.deviceCount())
        return sources_.entries()[static_cast<size_t>(index)].label;
    return {};
}

void MainWindow::prepareTrayMenu()
{
    const int state = recordingState();
    for (QAction* a : trayMenu_->actions()) {
        const int id = commandIdOf(a);
        if (id == 0)
            continue;
        if (const char* text = resourceMenuText(id))
            a->setText(QString::fromUtf8(text));
        a->setEnabled(true);
    }
    translator_.translateMenu(trayMenu_, "icon");
    const int hotkeyCommands[4] = {kCmdStart, kCmdPause, kCmdStop, kCmdScreenPen};
    for (int i = 0; i < 4; ++i) {
        QAction* a = findCommandItem(trayMenu_, hotkeyCommands[i]);
        if (a && !hotkeyTexts_[i].empty())
            a->setText(a->text() + QStringLiteral("(") + fromUtf8(hotkeyTexts_[i]) + QStringLiteral(")"));
    }
    if (state == RecordingSession::Paused)
        findCommandItem(trayMenu_, kCmdPause)->setEnabled(false);
    else if (state == RecordingSession::Recording)
        findCommandItem(trayMenu_, kCmdStart)->setEnabled(false);
    else {
        findCommandItem(trayMenu_, kCmdPause)->setEnabled(false);
        findCommandItem(trayMenu_, kCmdStop)->setEnabled(false);
    }
    // The screen pen is not part of this program yet.
    findCommandItem(trayMenu_, kCmdScreenPen)->setEnabled(false);
}

QMenu* MainWindow::buildSettingsMenu()
{
    auto* menu = new QMenu(this);
    menu->setToolTipsVisible(true);
    addCommandItem(menu, kCmdDetailedSettings);
    menu->addSeparator();
    for (int id : {kCmdWholeScreen, kCmdSelectWindow, kCmdSelectArea, kCmdRecordSound, kCmdUseDefaultDevice})
        addCommandItem(menu, id)->setCheckable(true);
    findCommandItem(menu, kCmdDetailedSettings)->setCheckable(false);
    translator_.translateMenu(menu, "setmenu");

    // Area and window selection are not part of this program yet; a typed
    // rectangle (settings window) is an area.
    const QString later = displayText(language_.lookupMessage("later1"));
    for (int id : {kCmdSelectWindow, kCmdSelectArea}) {
        QAction* a = findCommandItem(menu, id);
        a->setEnabled(false);
        a->setToolTip(later);
    }
    const bool wholeScreen = captureRect_.right == captureRect_.left;
    findCommandItem(menu, wholeScreen ? kCmdWholeScreen : kCmdSelectArea)->setChecked(true);

    QAction* sound = findCommandItem(menu, kCmdRecordSound);
    const std::string source = sourceText(values_.audioSourceIndex);
    if (!source.empty())
        sound->setText(displayText(language_.lookupMessage("audio3") + source));
    QAction* useDefault = findCommandItem(menu, kCmdUseDefaultDevice);
    const bool stopped = recordingState() == RecordingSession::Stopped;
    if (values_.recordSound) {
        sound->setChecked(true);
        if (!sources_.isComputerSound(values_.audioSourceIndex))
            menu->removeAction(useDefault);
        else if (!stopped && session_->counters().soundFailed)
            useDefault->setEnabled(false);
        else
            useDefault->setChecked(useDefaultDevice_);
    } else {
        menu->removeAction(useDefault);
    }
    if (!stopped) {
        QAction* settingsItem = findCommandItem(menu, kCmdDetailedSettings);
        settingsItem->setText(displayText(language_.lookupMessage("stop1")));
        for (int id : {kCmdWholeScreen, kCmdSelectArea, kCmdSelectWindow, kCmdRecordSound, kCmdDetailedSettings})
            findCommandItem(menu, id)->setEnabled(false);
    }
    return menu;
}

void MainWindow::showSettingsMenu()
{
    QMenu* menu = buildSettingsMenu();
    QAction* chosen = menu->exec(QCursor::pos());
    const int id = chosen ? commandIdOf(chosen) : 0;
    menu->deleteLater();
    if (id != 0)
        dispatchCommand(id);
}

void MainWindow::showFolderMenu()
{
    QMenu menu(this);
    addCommandItem(&menu, kCmdOpenFolder);
    addCommandItem(&menu, kCmdChangeFolder);
    translator_.translateMenu(&menu, "path");
    QAction* chosen = menu.exec(QCursor::pos());
    if (chosen)
        dispatchCommand(commandIdOf(chosen));
}

void MainWindow::openOutputFolder()
{
    const std::string folder = folderOfPath(fileBox_->text().toStdString());
    if (!folder.empty())
        player_.openFolder(folder);
}

void MainWindow::changeFolder()
{
    const QString chosen = QFileDialog::getSaveFileName(this, QString(), fileBox_->text(),
                                                        QString::fromLatin1(kFileFilter), nullptr, dialogOptions());
    if (chosen.isEmpty())
        return;
    const std::string path = chosen.toStdString();
    const std::string folder = folderOfPath(path);
    if (!folder.empty()) {
        if (folderWriteTest(folder))
            settings_.setOutputFolder(folder);
        else
            showStandardMessage(this, language_, displayText(language_.lookupMessage("ErrFilePath")));
    }
    // Also after a failed test: the next recording is tried there, and its
    // failure names the file.
    fileBox_->setText(chosen);
    explicitFileChosen_ = true;
    const int index = formatIndexForExtension(extensionOfPath(path));
    if (index >= 0 && index != formatList_->currentIndex())
        formatList_->setCurrentIndex(index); // runs the format change
}

void MainWindow::playChosenFile()
{
    const QString file = QFileDialog::getOpenFileName(this, QString(), fileBox_->text(),
                                                      QString::fromLatin1(kFileFilter), nullptr, dialogOptions());
    if (!file.isEmpty())
        player_.play(file.toStdString());
}

void MainWindow::showLanguageMenu()
{
    QMenu menu(this);
    QAction* chinese = addCommandItem(&menu, kCmdChinese);
    QAction* english = addCommandItem(&menu, kCmdEnglish);
    translator_.translateMenu(&menu, "lanmenu");
    chinese->setCheckable(true);
    english->setCheckable(true);
    (language_.fileName() == Language::kChineseFile ? chinese : english)->setChecked(true);
    QAction* chosen = menu.exec(QCursor::pos());
    if (chosen)
        dispatchCommand(commandIdOf(chosen));
}

void MainWindow::switchLanguage(const char* fileName)
{
    if (language_.fileName() == fileName)
        return;
    language_.switchTo(fileName);
    buttons_[kCmdLanguageMenu]->setIcon(
        programIcon(language_.fileName() == Language::kChineseFile ? kIconChinese : kIconEnglish));
    translate();
    fillFormatList();
    buildToolTips();
    tray_->setTip(fromUtf8(language_.lookupMessage("iconTxt")));
    update();
}

void MainWindow::openSettingsWindow()
{
    refreshSoundSources();
    SettingsContext context;
    context.screenWidth = screen_->logicalWidth();
    context.screenHeight = screen_->logicalHeight();
    context.bitsPerPixel = screen_->bitsPerPixel() ? screen_->bitsPerPixel() : 32;
    context.largeSize = !extensionOfPath(fileBox_->text().toStdString()).empty();
    for (const AudioSourceEntry& e : sources_.entries())
        if (e.kind == AudioSourceKind::Device)
            context.deviceNames.push_back(e.label);
    context.computerSound = sources_.offersComputerSound();
    context.autostartFile = autostartFile().toStdString();

    SettingsWindow window(language_, settings_, values_, context, captureRect_, this);
    settingsWindow_ = &window;
    const int result = window.exec();
    settingsWindow_ = nullptr;
    if (result != QDialog::Accepted)
        return;
    // What the user typed is what gets recorded.
    captureRect_ = window.rectangle();
    fileBox_->setText(
        fromUtf8(correctExtension(fileBox_->text().toStdString(), formatIndex(), values_.qualityLevel)));
}

void MainWindow::showAbout()
{
    if (about_) {
        about_->raise();
        return;
    }
    AboutWindow window(language_, programVersionText(), this);
    about_ = &window;
    refreshAboutOffer();
    connect(&window, &AboutWindow::updateButtonPressed, this, [this, &window] {
        if (notice_ && notice_->acceptOffer())
            window.accept();
    });
    window.exec();
    about_ = nullptr;
}

void MainWindow::refreshAboutOffer()
{
    if (!about_ || !notice_)
        return;
    const UpdateOffer offer = notice_->aboutOffer(language_);
    if (offer.offered)
        about_->setUpdateText(offer.buttonText);
}

void MainWindow::toggleRecordSound()
{
    values_.recordSound = !values_.recordSound;
    settings_.store().writeInt(keys::kQuillet, keys::kRecordSound, values_.recordSound ? 1 : 0);
}

void MainWindow::toggleDefaultDevice()
{
    useDefaultDevice_ = !useDefaultDevice_;
    session_->setUseDefaultDevice(useDefaultDevice_);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event)
{
    // The window's own menu: the About entry a title-bar menu would carry.
    QMenu menu(this);
    QAction* about = menu.addAction(
        displayText(language_.lookupText("quillet", "About", "关于 Quillet(A)...")));
    about->setData(static_cast<int>(kCmdSystemAbout));
    if (menu.exec(event->globalPos()) == about)
        dispatchCommand(kCmdSystemAbout);
}

} // namespace quillet::desktop
