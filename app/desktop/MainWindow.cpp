#include "app/desktop/MainWindow.h"

#include <QApplication>
#include <algorithm>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolButton>
#include <cstdint>
#include <ctime>

#include "app/core/AppPaths.h"
#include "app/core/Language.h"
#include "app/core/ProgramVersion.h"
#include "app/core/SettingsFile.h"
#include "app/desktop/CommandIds.h"
#include "app/desktop/Controls.h"
#include "app/desktop/FormatList.h"
#include "app/desktop/Icons.h"
#include "app/desktop/InstanceChannel.h"
#include "app/desktop/MainWindowLayout.h"
#include "app/desktop/MessageBoxes.h"
#include "app/desktop/OutputFiles.h"
#include "app/desktop/RepairOffer.h"
#include "app/desktop/ResourceTexts.h"
#include "app/desktop/SettingsWindow.h"
#include "app/desktop/TrayIcon.h"
#include "app/update/UpdateNotice.h"
#include "audio/input/AudioPlatform.h"
#include "capture/x11/X11Screen.h"
#include "engine/RecordSettings.h"
#include "engine/session/RecordingSession.h"
#include "engine/session/StatusText.h"

namespace quillet::desktop {
namespace {

// The status display is refreshed once a second while a recording exists.
constexpr int kStatusPeriodMs = 1000;
constexpr int kLevelMax = 32767;
// Item values of the first three format entries: their text colours.
constexpr int kFormatValues[3] = {14024, 16584, 255};

struct ToolTipKey {
    int control;
    const char* key;
};
// The first four carry their hotkey text.
constexpr ToolTipKey kToolTipKeys[] = {
    {kCmdStart, "ToolTip3"},        {kCmdPause, "ToolTip4"},       {kCmdStop, "ToolTip5"},
    {kCmdScreenPen, "ToolTip6"},    {kCmdSettingsMenu, "ToolTip8"}, {kCmdAboutButton, "ToolTip7"},
    {kCmdFolderMenu, "ToolTip1"},   {kCmdPlay, "ToolTip2"},
};

std::tm localNow()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

// The information box's font: a Chinese-capable sans face at 10 points.
QFont informationFont()
{
    QFont f;
    f.setFamilies({QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei"),
                   QStringLiteral("Noto Sans CJK SC"), QStringLiteral("DejaVu Sans")});
    f.setPointSize(10);
    return f;
}

} // namespace

MainWindow::MainWindow(const AppPaths& paths, SettingsFile& settings, Language& language, QWidget* parent)
    : QWidget(parent), paths_(paths), settings_(settings), language_(language), translator_(language),
      player_(paths.executableFolder), screen_(std::make_unique<X11Screen>()), soundInput_(createAudioInput()),
      host_(*this, language, this)
{
    setWindowTitle(QString::fromLatin1(kMainCaption));
    setWindowIcon(programIcon(kIconApp));
    setFixedSize(layout::kWindowWidth, layout::kWindowHeight);

    screen_->open(nullptr);
    AudioSystemInfo info;
    std::string soundError;
    queryAudioSystem(info, soundError);
    sources_.build(info);
    values_.load(settings_.store(), sources_.sourceCount());
    createSession();

    for (int i = 0; i < 4; ++i)
        hotkeyTexts_[i] = settings_.hotKeysOn() ? settings_.hotKey(i) : std::string();

    buildControls();
    formatList_->view()->setMinimumWidth(layout::kWindowWidth * 4 / 5);
    translate();
    buildToolTips();
    infoBox_->setFont(informationFont());

    tray_ = new TrayIcon(this);
    trayMenu_ = new QMenu(this);
    for (int id : {kCmdStart, kCmdPause, kCmdStop, kCmdScreenPen})
        addCommandItem(trayMenu_, id);
    trayMenu_->addSeparator();
    addCommandItem(trayMenu_, kCmdShowHide);
    addCommandItem(trayMenu_, kCmdExit);
    connect(trayMenu_, &QMenu::aboutToShow, this, &MainWindow::prepareTrayMenu);
    connect(trayMenu_, &QMenu::triggered, this, [this](QAction* a) { dispatchCommand(commandIdOf(a)); });
    prepareTrayMenu();
    tray_->setMenu(trayMenu_);
    tray_->setTip(fromUtf8(language_.lookupMessage("iconTxt")));
    tray_->setIcon(kIconApp);
    connect(tray_, &TrayIcon::callback, this, &MainWindow::trayCallback);

    formatList_->blockSignals(true);
    formatList_->setCurrentIndex(settings_.formatIndex());
    formatList_->blockSignals(false);
    showFormatInformation();

    const std::string folder = settings_.outputFolder();
    createFolder(folder);
    fileBox_->setText(fromUtf8(generatedFileName(folder, localNow(), formatIndex(), values_.qualityLevel)));

    for (int i = 0; i < 3; ++i)
        formatList_->setItemValue(i, kFormatValues[i]);

    statusTimer_.setInterval(kStatusPeriodMs);
    connect(&statusTimer_, &QTimer::timeout, this, &MainWindow::statusTick);
    setButtonsForState(RecordingSession::Stopped);

    // The update check: hidden, it asks once (when a host is configured) and
    // reports through the tray callback.
    notice_ = new UpdateNotice(this, UpdateConfig::fromSettings(settings_.store(), programVersionText()));
    connect(notice_, &UpdateNotice::trayCallback, this, &MainWindow::trayCallback);
    notice_->start();

    // Recordings an earlier run could not finish are offered for repair once
    // the window is up; commands arriving meanwhile wait for the answer.
    QTimer::singleShot(0, this, [this] {
        busy_ = true;
        offerRepairOfUnfinished(this, language_, settings_.outputFolder());
        busy_ = false;
        runDeferred();
    });
}

MainWindow::~MainWindow()
{
    if (session_) {
        session_->setExiting(true);
        session_.reset();
    }
}

void MainWindow::createSession()
{
    SessionEnvironment env;
    env.screen = screen_.get();
    env.soundInput = soundInput_.get();
    env.sources = sources_;
    env.lookbackCall = sources_.offersComputerSound() ? platformLookbackCall() : nullptr;
    session_ = std::make_unique<RecordingSession>(host_, std::move(env));
}

void MainWindow::refreshSoundSources()
{
    // Devices come and go; the list the settings index into is renewed
    // whenever the settings window opens (always while stopped).
    AudioSystemInfo info;
    std::string error;
    queryAudioSystem(info, error);
    AudioSourceList fresh;
    fresh.build(info);
    bool same = fresh.entries().size() == sources_.entries().size();
    for (size_t i = 0; same && i < fresh.entries().size(); ++i)
        same = fresh.entries()[i].device == sources_.entries()[i].device &&
               fresh.entries()[i].kind == sources_.entries()[i].kind;
    if (same)
        return;
    sources_ = fresh;
    values_.setSourceCount(sources_.sourceCount());
    createSession();
}

QToolButton* MainWindow::addButton(int id, int iconId, int x, int y, int w, int h)
{
    auto* b = new QToolButton(this);
    setControlId(b, id);
    if (const char* text = resourceText(kMainCaption, id))
        b->setText(QString::fromUtf8(text));
    b->setIcon(programIcon(iconId));
    b->setIconSize(QSize(layout::kIconSize, layout::kIconSize));
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setAutoRaise(false);
    b->setGeometry(x, y, w, h);
    buttons_[id] = b;
    const int command = id == kCmdAboutButton ? kCmdAbout : id;
    connect(b, &QToolButton::clicked, this, [this, command] { dispatchCommand(command); });
    return b;
}

void MainWindow::buildControls()
{
    using namespace layout;
    addButton(kCmdStart, kIconStart, kStart.x, kStart.y, kStart.w, kStart.h);
    addButton(kCmdPause, kIconPause, kPause.x, kPause.y, kPause.w, kPause.h);
    addButton(kCmdStop, kIconStop, kStop.x, kStop.y, kStop.w, kStop.h);
    addButton(kCmdScreenPen, kIconPen, kPen.x, kPen.y, kPen.w, kPen.h);
    addButton(kCmdSettingsMenu, kIconSettings, kSettings.x, kSettings.y, kSettings.w, kSettings.h);
    addButton(kCmdAboutButton, kIconAbout, kAbout.x, kAbout.y, kAbout.w, kAbout.h);
    addButton(kCmdLanguageMenu, language_.fileName() == Language::kChineseFile ? kIconChinese : kIconEnglish,
              kLanguage.x, kLanguage.y, kLanguage.w, kLanguage.h);
    addButton(kCmdFolderMenu, kIconFolder, kFolder.x, kFolder.y, kFolder.w, kFolder.h)->setIconSize(QSize(22, 22));
    addButton(kCmdPlay, kIconPlay, kPlay.x, kPlay.y, kPlay.w, kPlay.h)->setIconSize(QSize(22, 22));
    // The screen pen is not part of this program yet.
    buttons_[kCmdScreenPen]->setEnabled(false);

    elapsed_ = new QLabel(this);
    setControlId(elapsed_, 1006);
    elapsed_->setText(QString::fromUtf8(resourceText(kMainCaption, 1006)));
    elapsed_->setAlignment(Qt::AlignCenter);
    QFont big = elapsed_->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    elapsed_->setFont(big);
    elapsed_->setGeometry(kElapsed.x, kElapsed.y, kElapsed.w, kElapsed.h);

    level_ = new QProgressBar(this);
    setControlId(level_, 1030);
    level_->setRange(0, kLevelMax);
    level_->setValue(0);
    level_->setTextVisible(false);
    level_->setGeometry(kLevel.x, kLevel.y, kLevel.w, kLevel.h);

    formatList_ = new FormatList(this);
    setControlId(formatList_, 1031);
    formatList_->setGeometry(kFormatList.x, kFormatList.y, kFormatList.w, kFormatList.h);
    fillFormatList();
    connect(formatList_, &QComboBox::currentIndexChanged, this, &MainWindow::formatChanged);

    fileBox_ = new QLineEdit(this);
    setControlId(fileBox_, 1005);
    fileBox_->setReadOnly(true);
    fileBox_->setGeometry(kFileBox.x, kFileBox.y, kFileBox.w, kFileBox.h);
    QPalette green = fileBox_->palette();
    green.setColor(QPalette::Text, QColor(0, 128, 0));
    fileBox_->setPalette(green);

    infoBox_ = new QPlainTextEdit(this);
    setControlId(infoBox_, 1011);
    infoBox_->setReadOnly(true);
    infoBox_->setGeometry(kInfoBox.x, kInfoBox.y, kInfoBox.w, kInfoBox.h);
    infoBox_->setStyleSheet(
        QStringLiteral("QPlainTextEdit { color: rgb(239, 228, 176); background: rgb(51, 133, 200); }"));
}

void MainWindow::translate()
{
    // The section of this window is its resource caption, whatever the
    // previous language made of the title.
    setWindowTitle(QString::fromLatin1(kMainCaption));
    translator_.translateWindow(this);
}

void MainWindow::buildToolTips()
{
    int row = 0;
    for (const ToolTipKey& entry : kToolTipKeys) {
        QString tip = displayText(language_.lookupMessage(entry.key));
        if (row < 4)
            tip += QStringLiteral("(") + fromUtf8(hotkeyTexts_[row]) + QStringLiteral(")");
        buttons_[entry.control]->setToolTip(tip);
        ++row;
    }
}

void MainWindow::fillFormatList()
{
    const int selected = formatList_->currentIndex();
    formatList_->blockSignals(true);
    formatList_->clear();
    for (int i = 1; i <= 6; ++i)
        formatList_->addItem(displayText(language_.lookupMessage("Typ" + std::to_string(i))));
    for (int i = 0; i < 3; ++i)
        formatList_->setItemValue(i, kFormatValues[i]);
    formatList_->blockSignals(false);
    if (selected >= 0) {
        formatList_->blockSignals(true);
        formatList_->setCurrentIndex(selected);
        formatList_->blockSignals(false);
        formatChanged(selected);
    }
}

int MainWindow::formatIndex() const
{
    const int i = formatList_->currentIndex();
    return i < 0 ? 0 : i;
}

QString MainWindow::fileBoxText() const
{
    return fileBox_->text();
}

int MainWindow::recordingState() const
{
    return session_ ? session_->state() : RecordingSession::Stopped;
}

void MainWindow::formatChanged(int index)
{
    if (index < 0)
        return;
    settings_.setFormatIndex(index);
    showFormatInformation();
    fileBox_->setText(fromUtf8(correctExtension(fileBox_->text().toStdString(), index, values_.qualityLevel)));
    buttons_[kCmdStart]->setFocus();
}

void MainWindow::showFormatInformation()
{
    infoBox_->setPlainText(displayText(language_.lookupMessage("ginfo" + std::to_string(formatIndex()))));
}

void MainWindow::setButtonsForState(int state)
{
    const bool stopped = state == RecordingSession::Stopped;
    buttons_[kCmdStart]->setEnabled(state != RecordingSession::Recording);
    buttons_[kCmdPause]->setEnabled(state == RecordingSession::Recording);
    buttons_[kCmdStop]->setEnabled(!stopped);
    buttons_[kCmdFolderMenu]->setEnabled(stopped);
    buttons_[kCmdPlay]->setEnabled(stopped);
    formatList_->setEnabled(stopped);
}

void MainWindow::dispatchCommand(int commandId)
{
    if (busy_) {
        if (commandId == kCmdExit) {
            // Ending the program must not wait for the user to answer a box:
            // the box closes (cancelling a start), and the exit follows.
            if (session_)
                session_->setExiting(true);
            exiting_ = true;
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        }
        deferred_.push_back(commandId);
        return;
    }
    // Commands that change what the next recording is do nothing meanwhile.
    static constexpr int kStoppedOnly[] = {kCmdFolderMenu,   kCmdOpenFolder,       kCmdChangeFolder,
                                           kCmdWholeScreen,  kCmdDetailedSettings, kCmdRecordSound};
    if (recordingState() != RecordingSession::Stopped &&
        std::find(std::begin(kStoppedOnly), std::end(kStoppedOnly), commandId) != std::end(kStoppedOnly))
        return;
    switch (commandId) {
    case kCmdStart: startRecording(); break;
    case kCmdPause: session_->pause(); break;
    case kCmdStop: stopRecording(); break;
    case kCmdScreenPen: break; // the screen pen comes with the overlays
    case kCmdSettingsMenu: showSettingsMenu(); break;
    case kCmdFolderMenu: showFolderMenu(); break;
    case kCmdOpenFolder: openOutputFolder(); break;
    case kCmdChangeFolder: changeFolder(); break;
    case kCmdPlay: playChosenFile(); break;
    case kCmdAbout:
    case kCmdSystemAbout: showAbout(); break;
    case kCmdLanguageMenu: showLanguageMenu(); break;
    case kCmdChinese: switchLanguage(Language::kChineseFile); break;
    case kCmdEnglish: switchLanguage(Language::kDefaultFile); break;
    case kCmdShowHide: toggleShown(); break;
    case kCmdExit: exitProgram(); break;
    case kCmdWholeScreen: captureRect_ = Rect{}; break;
    case kCmdSelectArea:
    case kCmdSelectWindow: break; // area selection comes with the overlays
    case kCmdDetailedSettings: openSettingsWindow(); break;
    case kCmdRecordSound: toggleRecordSound(); break;
    case kCmdUseDefaultDevice: toggleDefaultDevice(); break;
    default: break;
    }
}

void MainWindow::runDeferred()
{
    if (busy_ || deferred_.empty())
        return;
    const int next = deferred_.front();
    deferred_.pop_front();
    dispatchCommand(next);
    if (!deferred_.empty())
        QTimer::singleShot(0, this, &MainWindow::runDeferred);
}

void MainWindow::instanceRequest(int request)
{
    if (request == InstanceChannel::kShowRequest)
        trayCallback(0, kTrayLeftDoubleClick);
    else
        dispatchCommand(request);
}

void MainWindow::trayCallback(int first, int second)
{
    if (first == kNoticeVideoThreadEnded) {
        if (session_)
            session_->onNotice(first, second);
        return;
    }
    if (first == kNoticeUpdate) {
        // (4445, 102), the page's request for an upgrade, needs nothing here.
        if (second == kNoticeUpdateRefresh)
            refreshAboutOffer();
        return;
    }
    if (first == kNoticeAreaChanged && second == kNoticeAreaChangedCode) {
        if (settingsWindow_)
            settingsWindow_->setRectangle(captureRect_);
        return;
    }
    if (second == kTrayLeftDoubleClick)
        showFromTray();
    // A right click opens the tray menu by itself (prepareTrayMenu).
}

void MainWindow::startRecording()
{
    const bool fresh = recordingState() == RecordingSession::Stopped;
    RecordSettings rs;
    rs.load(settings_.store(), sources_.sourceCount());
    rs.qualityLevel = values_.qualityLevel;
    // A stored rate the window never offers (only the settings window's OK
    // replaces it) is left to the recording parameters' own load rule rather
    // than cut into their byte.
    if (values_.framesPerSecond >= 1 && values_.framesPerSecond <= UINT8_MAX)
        rs.framesPerSecond = static_cast<uint8_t>(values_.framesPerSecond);
    rs.recordSound = values_.recordSound;
    rs.audioSourceIndex = sources_.clampIndex(values_.audioSourceIndex);
    rs.hideWhileRecording = values_.hideWhileRecording;
    rs.captureArea = captureRect_;
    rs.outputFileName = fileBox_->text().toStdString();
    rs.useDefaultDeviceInsteadOfLoopback = useDefaultDevice_;
    const std::string folder = settings_.outputFolder();
    if (fresh && !explicitFileChosen_)
        createFolder(folder);

    busy_ = true;
    session_->start(rs, formatList_->currentText().toStdString(), explicitFileChosen_, folder, formatIndex());
    busy_ = false;
    if (fresh) {
        explicitFileChosen_ = false;
        if (!session_->outputFileName().empty())
            fileBox_->setText(fromUtf8(session_->outputFileName()));
    }
    runDeferred();
}

void MainWindow::stopRecording()
{
    busy_ = true;
    session_->stop();
    busy_ = false;
    runDeferred();
}

void MainWindow::recordingStateChanged(int state)
{
    const int previous = lastState_;
    lastState_ = state;
    setButtonsForState(state);
    if (state == RecordingSession::Recording) {
        tray_->changeIcon(kTrayIconOdd);
        if (previous == RecordingSession::Stopped) {
            visibleBeforeRecording_ = isVisible();
            level_->setValue(0);
            elapsed_->setText(fromUtf8(elapsedText(0)));
            statusTimer_.start();
            if (values_.hideWhileRecording)
                hide();
        } else {
            hide(); // a resumed recording goes back to the tray
        }
        return;
    }
    if (state == RecordingSession::Paused) {
        tray_->changeIcon(kTrayIconEven);
        return;
    }
    statusTimer_.stop();
    level_->setValue(0);
    tray_->changeIcon(kIconApp);
    showFormatInformation();
    if (!exiting_)
        showFromTray();
}

void MainWindow::statusTick()
{
    if (session_)
        session_->onStatusTimer();
}

void MainWindow::showRecordingStatus(const std::string& elapsed, int trayIcon, int soundLevel)
{
    elapsed_->setText(fromUtf8(elapsed));
    tray_->changeIcon(trayIcon);
    level_->setValue(std::clamp(soundLevel, 0, kLevelMax));
    // Too few frames for the slots so far: say so while there is still time
    // to make the area smaller.
    const RecordingSession::Counters c = session_->counters();
    const int percent = slowCapturePercent(c.framesEncoded, c.framesCounted);
    QString info;
    if (percent >= 0)
        info = displayText(formatWithInt(language_.lookupMessage("FpsErr"), percent));
    info += displayText(language_.lookupMessage("ginfo" + std::to_string(formatIndex())));
    if (infoBox_->toPlainText() != info)
        infoBox_->setPlainText(info);
}

void MainWindow::soundBufferDone(AudioInput* input, AudioBuffer* buffer)
{
    if (session_)
        session_->onAudioChunk(input, buffer);
}

void MainWindow::soundFailed(AudioInput* input)
{
    if (session_)
        session_->onAudioFailed(input);
}

void MainWindow::playFinishedRecording(const std::string& fileName, bool imageFolder)
{
    if (imageFolder) {
        player_.openFolder(folderOfPath(fileName));
        return;
    }
    if (!player_.play(fileName))
        host_.showMessage("openErr", host_.messageText("openErr") + player_.playerPath());
}

void MainWindow::toggleShown()
{
    if (isVisible())
        hide();
    else
        showFromTray();
}

void MainWindow::showFromTray()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::exitProgram()
{
    closeGuard_ = false;
    exiting_ = true;
    session_->setExiting(true);
    if (recordingState() != RecordingSession::Stopped)
        stopRecording();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible())
            w->close();
    tray_->setIcon(0);
    hide();
    emit exitRequested();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!closeGuard_) {
        event->accept();
        return;
    }
    event->ignore();
    if (recordingState() != RecordingSession::Stopped) {
        hide(); // recording goes on in the tray
        return;
    }
    dispatchCommand(kCmdExit);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape would dismiss a dialog; this window stays.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace quillet::desktop
