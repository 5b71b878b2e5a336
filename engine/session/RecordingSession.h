#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/input/AudioSourceList.h"
#include "audio/loopback/LookbackCall.h"
#include "base/SessionLock.h"
#include "engine/AudioFormats.h"
#include "engine/OutputType.h"
#include "engine/RecordSettings.h"
#include "engine/outputs/MediaOutput.h"
#include "engine/session/SessionClock.h"
#include "engine/session/SessionHost.h"
#include "engine/session/TickTrace.h"
#include "engine/session/WorkerThread.h"

namespace quillet {

class AudioEncoder;
class AudioInput;
struct AudioBuffer;
class CursorOverlay;
class FrameGrabber;
class ScreenSource;

// Makes the writer of an output type; null when the type has no writer yet.
using MediaOutputFactory = std::function<std::unique_ptr<MediaOutput>(OutputType)>;

// What the host hands the session once: the platform's screen and sound.
struct SessionEnvironment {
    ScreenSource* screen = nullptr;          // required for recording
    AudioInput* soundInput = nullptr;        // null: sound cannot be recorded
    AudioSourceList sources;                 // the source list the settings index into
    LookbackCallFn lookbackCall = nullptr;   // computer-sound entry, null when absent
    SessionClock* clock = nullptr;           // null: the steady clock
    MediaOutputFactory outputFactory;        // empty: createMediaOutput
    // false: no video thread; the caller drives frameTick() itself (tests
    // that script the screen between ticks).
    bool runVideoThread = true;
    // Non-empty: each recording's ticks are written to this file at stop
    // (see TickTrace).
    std::string tickTracePath;
};

// The recording controller: turns a RecordSettings snapshot into a running
// recording (start), pauses and resumes it, and finalises the file (stop).
//
// Threads: start, pause, stop, onAudioChunk (device buffers), onStatusTimer
// and onNotice run on the host's thread. The video thread runs the frame tick;
// the computer-sound thread (only when the device failed) runs onAudioChunk
// for its own chunks. `lock_` guards every writer call and the shared clocks.
class RecordingSession {
public:
    enum State : uint8_t { Recording = 1, Paused = 2, Stopped = 3 };

    // Message key (and built-in text) used when the chosen type has no writer.
    static constexpr const char* kTypeUnavailableKey = "typeErr";
    static constexpr const char* kTypeUnavailableText = "暂不支持录制这种格式, 请选择 MP4, FLV, AVI, SWF, WMV 或图片 (jpg/png).";

    RecordingSession(SessionHost& host, SessionEnvironment env);
    ~RecordingSession();
    RecordingSession(const RecordingSession&) = delete;
    RecordingSession& operator=(const RecordingSession&) = delete;

    // The start command (1000): starts a new recording, or resumes from pause.
    // Returns 1 when recording afterwards. formatName is the format list's text
    // shown in the confirmation; explicitFile says the user chose the file (else
    // a dated name is built in outputFolder with the extension of formatIndex).
    int start(const RecordSettings& settings, const std::string& formatName, bool explicitFile,
              const std::string& outputFolder, int formatIndex);
    int pause();
    // The stop command (1002). Returns 1 when a recording was finalised.
    int stop();
    // Set when the program is closing: stop then shows no end message.
    void setExiting(bool exiting) { exiting_ = exiting; }
    // The recorded area follows a window that moved: its top-left corner goes
    // to (left, top), its size stays. Ignored without a recording.
    void moveCaptureArea(int32_t left, int32_t top);
    // Command 32784 during a recording: the default device instead of the computer's sound.
    void setUseDefaultDevice(bool on) { useDefaultDeviceInsteadOfLoopback_ = on; }

    // A filled buffer from the sound device (host's thread, in arrival order).
    void onAudioChunk(AudioInput* input, AudioBuffer* buffer);
    // The sound device stopped delivering.
    void onAudioFailed(AudioInput* input);
    // The sound server moved the recording to another device (the default
    // device was removed); device names the new one.
    void onAudioMoved(AudioInput* input, const std::string& device);
    // Timer 100, once a second while a recording exists.
    void onStatusTimer();
    // Message 1127 from the engine's threads.
    void onNotice(int wparam, int lparam);

    // The state (3 stopped, 1 recording, 2 paused). Any thread.
    State state() const { return state_.load(); }

    // Counters, for the host and tests (read under the lock).
    struct Counters {
        uint32_t framesCounted = 0;
        uint32_t framesEncoded = 0;
        uint32_t keyFrameCount = 0;
        uint64_t audioMs = 0;
        uint64_t audioBytes = 0;
        int64_t startTick = 0;
        int framesPerSecond = 0;
        int soundLevel = 0;
        bool soundFailed = false;
        bool outputFailed = false;
    };
    Counters counters();
    OutputType outputType() const { return outputType_; }
    const std::string& outputFileName() const { return fileName_; }
    // Stop waits that ran past their limit since construction.
    int stopWaitOverruns() const { return stopWaitOverruns_; }
    // The last start() was given up by the user: the confirmation was refused
    // or the countdown interrupted (SessionHost::countdownCancelled). No file
    // was left behind.
    bool lastStartCancelled() const { return lastStartCancelled_; }
    // The last stop could not collect a worker stuck in a call that never
    // returns (a frozen X server): the file was finalised from what the writer
    // had, and the worker and everything it may still touch were let go. The
    // host must then end the process soon, without closing the screen source
    // (its server would hold the close as it holds the worker).
    bool abandonedWorkers() const { return abandoned_.load(); }
    // The end message of the last stop ("" when none was composed).
    const std::string& lastEndMessage() const { return lastEndMessage_; }

    // Exposed for the video thread and tests. Returns the frame slots the
    // tick's frame covered, 0 when it produced none.
    uint32_t frameTick();

private:
    int fail(const char* key, const char* builtin = nullptr, const std::string& detail = {});
    void releaseAll();
    // Countdown interrupted: the file is closed and removed, nothing stays.
    int cancelStart();
    // Stop for a worker that did not end within its wait (see abandonedWorkers).
    void abandonStuckWorkers();
    // The end message, or the message that nothing was written.
    void showEnd(uint32_t encoded, uint32_t counted, int usedRate, int writtenFiles, const std::string& firstFile,
                 const std::string& lastFile);
    // Encodes PCM and hands its output to the writer, advancing the sound
    // clock; pulls the video clock back when allowed (rules of the sound path).
    void encodeAndStore(uint8_t* pcm, uint32_t bytes, uint64_t now, bool pullBack);
    // Bytes of silence that put the first sound stored at its real time; 0 for
    // every later buffer. Called with lock_ held.
    uint64_t lateStartSilenceBytes(uint64_t now, uint32_t bytes) const;
    void videoThreadMain();
    void loopbackThreadMain();
    void handleChunk(uint8_t* data, uint32_t bytes, bool fromDevice);
    // Hands the AAC records in audioOutBuffer_ to the writer, each stamped by
    // the sound clock it advances. Called with lock_ held.
    void storeAacRecords(int compressed);
    // At stop: what the sound encoder still holds goes into the file.
    void flushSound();
    void requestStopFromWorker();

    SessionHost& host_;
    SessionEnvironment env_;
    SessionClock* clock_;

    std::atomic<State> state_{Stopped};
    bool exiting_ = false;
    int framesPerSecond_ = 15;
    int storedFramesPerSecond_ = 15;
    OutputType outputType_ = OutputMp4;
    int qualityLevel_ = 2;
    bool recordSound_ = false;
    bool soundFailed_ = false;
    bool loopbackActive_ = false; // the computer-sound entry is in use this recording
    std::atomic<bool> useDefaultDeviceInsteadOfLoopback_{false};
    std::string fileName_;
    bool mainWindowVisible_ = true;

    // Shared with the worker threads; guarded by lock_.
    SessionLock lock_;
    int64_t startTick_ = 0;
    uint32_t framesCounted_ = 0;
    uint32_t framesEncoded_ = 0;
    int32_t framesSinceKey_ = 0;
    uint32_t bytesSinceKey_ = 0;
    uint32_t keyFrameCount_ = 0;
    struct SoundClock {
        uint64_t audioBytes = 0;     // PCM bytes accounted in the sound track
        uint64_t audioMs = 0;        // its play time
        uint64_t lastFrameEndMs = 0; // end of the previous AAC frame
        uint32_t bytesPerSecond = 1;
        uint16_t channels = 1;
    } sound_;
    std::atomic<int> soundLevel_{0};

    AudioTargetFormat target_;
    CaptureAudioFormat capture_;
    uint32_t chunkFrames_ = 0;
    std::vector<uint8_t> audioOutBuffer_;
    std::vector<uint8_t> scratch_;
    std::vector<uint32_t> aacEnd_;      // per AAC record of one buffer
    std::atomic<bool> soundFed_{false}; // the encoder has been given sound since start
    std::vector<uint32_t> aacDuration_;

    std::unique_ptr<FrameGrabber> grabber_;
    std::unique_ptr<CursorOverlay> cursor_;
    uint64_t cursorSerial_ = 0; // video thread only
    std::unique_ptr<AudioEncoder> compressor_;
    std::unique_ptr<MediaOutput> output_;
    bool soundInputOpen_ = false;

    // Why the recording ended or lost a part, beyond the user's stop.
    enum class EndCause : uint8_t { None, ScreenLost };
    std::atomic<EndCause> endCause_{EndCause::None};
    std::atomic<bool> soundEnded_{false}; // the device went away during the recording
    std::string soundDeviceLabel_;       // the device as the user knows it
    std::atomic<bool> abandoned_{false};
    bool lastStartCancelled_ = false;

    WakeSignal wake_; // cuts the video thread's sleep short at stop and pause
    TickTrace trace_;
    WorkerThread videoThread_;
    WorkerThread loopbackThread_;
    std::atomic<bool> videoThreadHeld_{false};
    int stopWaitOverruns_ = 0;
    std::string lastEndMessage_;
};

} // namespace quillet
