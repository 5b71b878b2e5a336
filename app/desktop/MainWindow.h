#pragma once
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "app/desktop/DesktopHost.h"
#include "app/desktop/PlayerLauncher.h"
#include "app/desktop/SettingsValues.h"
#include "app/desktop/Translator.h"
#include "audio/input/AudioSourceList.h"
#include "engine/ScreenFrame.h"

class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QLabel;
class QToolButton;

namespace quillet {
struct AppPaths;
class AudioInput;
class Language;
class RecordingSession;
class SettingsFile;
class UpdateNotice;
class X11Screen;
}

namespace quillet::desktop {

class AboutWindow;
class FormatList;
class SettingsWindow;
class TrayIcon;

// The program's main window: the command buttons, the format list, the file
// box and the information box, the menus and the tray icon. It owns the
// recording session and is its host's window. Every command goes through
// dispatchCommand as its number, whatever its source.
class MainWindow : public QWidget, public HostWindow {
    Q_OBJECT
public:
    MainWindow(const AppPaths& paths, SettingsFile& settings, Language& language, QWidget* parent = nullptr);
    ~MainWindow() override;

    void dispatchCommand(int commandId) override;
    void trayCallback(int first, int second) override;
    // A request from a second start of the program.
    void instanceRequest(int request);

    // For tests: the session's state (3 stopped, 1 recording, 2 paused) and
    // what the window shows.
    int recordingState() const;
    QString fileBoxText() const;
    int formatIndex() const;
    const Rect& captureRect() const { return captureRect_; }
    QMenu* trayMenu() const { return trayMenu_; }
    // Builds the settings menu as it would show (for tests); the caller owns it.
    QMenu* buildSettingsMenu();
    int currentQualityLevel() const { return values_.qualityLevel; }

signals:
    // The program is to end (the exit command, or closing while stopped).
    void exitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // HostWindow
    void soundBufferDone(AudioInput* input, AudioBuffer* buffer) override;
    void soundFailed(AudioInput* input) override;
    void showRecordingStatus(const std::string& elapsed, int trayIcon, int soundLevel) override;
    void recordingStateChanged(int state) override;
    void playFinishedRecording(const std::string& fileName, bool imageFolder) override;
    QWidget* messageOwner() override { return this; }

    void buildControls();
    QToolButton* addButton(int id, int iconId, int x, int y, int w, int h);
    void translate();
    void buildToolTips();
    void fillFormatList();
    void formatChanged(int index);
    void showFormatInformation();
    void setButtonsForState(int state);
    void createSession();
    void refreshSoundSources();

    void startRecording();
    void stopRecording();
    void exitProgram();
    void toggleShown();
    void showFromTray();
    void prepareTrayMenu();
    void showSettingsMenu();
    void showFolderMenu();
    void openOutputFolder();
    void changeFolder();
    void playChosenFile();
    void showLanguageMenu();
    void switchLanguage(const char* fileName);
    void openSettingsWindow();
    void showAbout();
    void refreshAboutOffer();
    void toggleRecordSound();
    void toggleDefaultDevice();
    void statusTick();
    void runDeferred();
    std::string sourceText(int index) const;

    const AppPaths& paths_;
    SettingsFile& settings_;
    Language& language_;
    Translator translator_;
    PlayerLauncher player_;
    std::unique_ptr<X11Screen> screen_;
    std::unique_ptr<AudioInput> soundInput_;
    AudioSourceList sources_;
    DesktopHost host_;
    std::unique_ptr<RecordingSession> session_;

    SettingsValues values_;
    Rect captureRect_;
    bool useDefaultDevice_ = false;
    bool explicitFileChosen_ = false;
    bool closeGuard_ = true;
    bool exiting_ = false;
    int lastState_ = 3;
    bool visibleBeforeRecording_ = true;
    std::string hotkeyTexts_[4];

    // While the session runs start or stop (which show boxes and the
    // countdown), commands wait here and run afterwards in order.
    bool busy_ = false;
    std::deque<int> deferred_;

    std::map<int, QToolButton*> buttons_;
    FormatList* formatList_ = nullptr;
    QLineEdit* fileBox_ = nullptr;
    QPlainTextEdit* infoBox_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QProgressBar* level_ = nullptr;
    TrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QTimer statusTimer_;
    UpdateNotice* notice_ = nullptr;
    QPointer<AboutWindow> about_;
    QPointer<SettingsWindow> settingsWindow_;
};

} // namespace quillet::desktop
