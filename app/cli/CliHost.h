#pragma once
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "audio/input/AudioBufferMailbox.h"
#include "engine/session/SessionHost.h"

namespace quillet {
class Language;
}

namespace quillet::cli {

// The command-line stand-in for the main window: messages and questions go to
// the terminal, posted commands and sound buffers queue up for the main loop.
class CliHost final : public SessionHost {
public:
    // autoYes answers the start confirmation; countdown shows five seconds.
    // interrupted, when set, cuts the countdown short.
    CliHost(const Language& language, bool autoYes, bool countdown, const std::atomic<bool>* interrupted);

    void postCommand(int commandId) override;
    void postNotice(int wparam, int lparam) override;
    AudioInputListener* soundListener() override { return &mailbox_; }
    std::string messageText(const char* key, const char* builtin = nullptr) override;
    void showMessage(const char* key, const std::string& text) override;
    ConfirmAnswer confirm(const std::string& text, const std::string& caption, ConfirmKind kind) override;
    void showCountdown() override;
    // A stop signal during the countdown cancels the recording.
    bool countdownCancelled() override { return interrupted_ && interrupted_->load(); }
    void showStatus(const std::string& elapsed, int trayIcon, int soundLevel) override;
    void stateChanged(int state) override;
    void playRecording(const std::string&, bool) override {}

    // Main-loop side: the oldest posted command, if any.
    int takeCommand(int* commandId);
    AudioBufferMailbox& mailbox() { return mailbox_; }
    // Keys of the messages shown so far, space-separated (for the exit code).
    const std::string& shownKeys() const { return shownKeys_; }
    void endStatusLine();

private:
    const Language& language_;
    bool autoYes_;
    bool countdown_;
    const std::atomic<bool>* interrupted_;
    AudioBufferMailbox mailbox_;
    std::mutex mutex_;
    std::deque<int> commands_;
    std::string shownKeys_;
    bool statusOnTty_;
    bool statusLineOpen_ = false;
};

} // namespace quillet::cli
