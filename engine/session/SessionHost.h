#pragma once
#include <string>

#include "engine/ScreenFrame.h"

namespace quillet {

class AudioInputListener;

// Command identifiers posted to the main window.
enum SessionCommand : int {
    kCommandStart = 1000, // start, or resume from pause
    kCommandPause = 1001,
    kCommandStop = 1002,
};

// Engine notices travel as message 1127 with two parameters.
constexpr int kNoticeMessage = 1127;
constexpr int kNoticeVideoThreadEnded = 4444; // parameters (4444, 0)

enum class ConfirmKind { OkCancel, YesNoCancel, YesNo };
enum class ConfirmAnswer { Yes, No, Cancel }; // OK reads as Yes

// What the recording session needs from "the main window". The engine never
// depends on a GUI: the desktop window implements this, and so does the
// command-line recorder.
//
// Threads: postCommand and postNotice may be called from any thread (the video
// thread posts the stop command when a limit is reached); they only queue the
// request for the host's own thread and return at once. Every other call comes
// from the host's thread, inside start(), pause(), stop() or onStatusTimer().
class SessionHost {
public:
    virtual ~SessionHost() = default;

    virtual void postCommand(int commandId) = 0;
    virtual void postNotice(int wparam, int lparam) = 0;

    // The listener that hands each filled sound buffer to the host's thread,
    // where the host calls RecordingSession::onAudioChunk in arrival order.
    virtual AudioInputListener* soundListener() = 0;

    // The active language's text of a "MSG" key, with the built-in text as
    // fallback (builtin may be null: the program's own table then applies).
    virtual std::string messageText(const char* key, const char* builtin = nullptr) = 0;
    // A message box with the standard caption. key names the message.
    virtual void showMessage(const char* key, const std::string& text) = 0;
    virtual ConfirmAnswer confirm(const std::string& text, const std::string& caption, ConfirmKind kind) = 0;
    // The modal countdown before recording; returns when it has closed.
    virtual void showCountdown() = 0;
    // The area a new recording reads (screen pixels, exclusive right and
    // bottom; empty for the whole screen), as adjusted to the coders' sizes,
    // before the countdown. The frame shown around the area moves there.
    virtual void recordingAreaChosen(const Rect& area) { (void)area; }
    // After showCountdown: the user interrupted it (Ctrl+C, Escape), so the
    // recording must not start. The session then removes the file it opened.
    virtual bool countdownCancelled() { return false; }

    // Status while a recording exists (once a second, and at state changes):
    // elapsed text, tray icon id, and the latest sound level (0..32767).
    virtual void showStatus(const std::string& elapsed, int trayIcon, int soundLevel) = 0;
    // The session's state changed: 3 stopped, 1 recording, 2 paused.
    virtual void stateChanged(int state) = 0;
    // The user accepted the offer to play the finished recording (for image
    // output: to open the folder of the numbered files).
    virtual void playRecording(const std::string& fileName, bool imageFolder) = 0;
};

} // namespace quillet
