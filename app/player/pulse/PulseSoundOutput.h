#pragma once
#include <cstdint>
#include <string>

#include "app/player/media/SoundOutput.h"
#include "audio/pulse/PulseConnection.h"

namespace quillet::player {

// The player's sound through PulseAudio: one playback stream per begin(),
// to the default sink (or $PULSE_SINK). The stream's own timing, which counts
// what the sink has played out, is the clock.
class PulseSoundOutput : public SoundOutput {
public:
    // How much the sound server keeps queued, and how much it waits for
    // before it starts to play.
    static constexpr int kTargetBufferMs = 200;
    static constexpr int kStartBufferMs = 60;

    PulseSoundOutput() = default;
    ~PulseSoundOutput() override;

    // Returns 1, or 0 with error().
    int connect();

    int begin(int sampleRate, int channels) override;
    int write(const int16_t* pcm, size_t frames) override;
    int64_t playedFrames() override;
    int64_t writtenFrames() override;
    void setPaused(bool paused) override;
    void finish() override;
    std::string error() const override { return error_; }

private:
    void dropStreamLocked();
    bool streamReadyLocked() const;

    PulseConnection pulse_;
    pa_stream* stream_ = nullptr;
    int rate_ = 0;
    int channels_ = 0;
    int64_t written_ = 0;
    int64_t lastPlayed_ = 0;
    bool paused_ = true;
    bool finished_ = false;
    std::string error_;
};

} // namespace quillet::player
