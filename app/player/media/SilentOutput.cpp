#include <algorithm>

#include "app/player/media/SoundOutput.h"

namespace quillet::player {

int SilentOutput::begin(int sampleRate, int)
{
    std::lock_guard<std::mutex> lock(mutex_);
    rate_ = sampleRate > 0 ? sampleRate : 1000;
    paused_ = true;
    written_ = 0;
    playedBefore_ = 0;
    return 1;
}

int SilentOutput::write(const int16_t*, size_t frames)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Clock::time_point now = Clock::now();
    // A run that had caught up with the writes waited: it goes on from here.
    if (!paused_ && playedLocked(now) >= written_) {
        playedBefore_ = written_;
        runStart_ = now;
    }
    written_ += int64_t(frames);
    return 1;
}

int64_t SilentOutput::playedLocked(Clock::time_point now) const
{
    if (paused_)
        return std::min(playedBefore_, written_);
    const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(now - runStart_).count();
    return std::min(written_, playedBefore_ + us * rate_ / 1000000);
}

int64_t SilentOutput::playedFrames()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return playedLocked(Clock::now());
}

int64_t SilentOutput::writtenFrames()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

void SilentOutput::setPaused(bool paused)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (paused == paused_)
        return;
    const Clock::time_point now = Clock::now();
    if (paused)
        playedBefore_ = playedLocked(now);
    else
        runStart_ = now;
    paused_ = paused;
}

} // namespace quillet::player
