#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace quillet::player {

// Where the player's sound goes, and the clock it keeps: playback follows the
// sound that has been heard. Every stream starts at position 0; a seek starts
// a new one. Methods may be called from any thread.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    // Starts a new stream of 16-bit interleaved PCM, paused. Returns 1, or 0
    // with error().
    virtual int begin(int sampleRate, int channels) = 0;
    // Queues sample frames. Returns 0 when the output failed.
    virtual int write(const int16_t* pcm, size_t frames) = 0;
    // Sample frames of this stream heard so far (never more than written).
    virtual int64_t playedFrames() = 0;
    virtual int64_t writtenFrames() = 0;
    virtual void setPaused(bool paused) = 0;
    // No more sound follows: what is queued plays out even when it is shorter
    // than the output waits for before it starts.
    virtual void finish() = 0;
    virtual std::string error() const = 0;
};

// An output that plays nothing and runs on the monotonic clock: for
// recordings without sound and for machines without a sound server. Like a
// device, it never plays past what was written.
class SilentOutput : public SoundOutput {
public:
    using Clock = std::chrono::steady_clock;

    int begin(int sampleRate, int channels) override;
    int write(const int16_t* pcm, size_t frames) override;
    int64_t playedFrames() override;
    int64_t writtenFrames() override;
    void setPaused(bool paused) override;
    void finish() override {}
    std::string error() const override { return {}; }

private:
    int64_t playedLocked(Clock::time_point now) const;

    mutable std::mutex mutex_;
    int rate_ = 1000;
    bool paused_ = true;
    int64_t written_ = 0;
    int64_t playedBefore_ = 0; // frames played before the current run
    Clock::time_point runStart_{};
};

} // namespace quillet::player
