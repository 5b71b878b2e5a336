#pragma once
#include <QObject>
#include <QPointer>
#include <string>

#include "app/desktop/WorkerInbox.h"
#include "audio/input/AudioInput.h"
#include "engine/session/SessionHost.h"

class QWidget;

namespace quillet {
class Language;
}

namespace quillet::desktop {

// What the desktop's host hands on to the main window, always on the
// window's own thread.
class HostWindow {
public:
    virtual ~HostWindow() = default;
    virtual void dispatchCommand(int commandId) = 0;
    virtual void trayCallback(int first, int second) = 0;
    virtual void soundBufferDone(AudioInput* input, AudioBuffer* buffer) = 0;
    virtual void soundFailed(AudioInput* input) = 0;
    virtual void showRecordingStatus(const std::string& elapsed, int trayIcon, int soundLevel) = 0;
    virtual void recordingStateChanged(int state) = 0;
    virtual void playFinishedRecording(const std::string& fileName, bool imageFolder) = 0;
    // Owner of message boxes; null when there is none yet.
    virtual QWidget* messageOwner() = 0;
};

// The desktop program's side of the recording session. Requests from the
// engine's worker threads (posted commands, notices, filled sound buffers)
// go through the inbox to the window's thread; everything else runs there
// already.
class DesktopHost final : public QObject, public SessionHost, private AudioInputListener {
    Q_OBJECT
public:
    DesktopHost(HostWindow& window, const Language& language, QObject* parent = nullptr);

    void postCommand(int commandId) override;
    void postNotice(int wparam, int lparam) override;
    AudioInputListener* soundListener() override { return this; }
    std::string messageText(const char* key, const char* builtin = nullptr) override;
    void showMessage(const char* key, const std::string& text) override;
    ConfirmAnswer confirm(const std::string& text, const std::string& caption, ConfirmKind kind) override;
    void showCountdown() override;
    void showStatus(const std::string& elapsed, int trayIcon, int soundLevel) override;
    void stateChanged(int state) override;
    void playRecording(const std::string& fileName, bool imageFolder) override;

private:
    void audioBufferDone(AudioInput& input, AudioBuffer* buffer) override;
    void audioInputFailed(AudioInput& input) override;

    void handle(const WorkerInbox::Item& item);

    HostWindow& window_;
    const Language& language_;
    WorkerInbox* inbox_;
};

} // namespace quillet::desktop
