#include "engine/session/AudioPacing.h"

namespace quillet {

int64_t pullBackStartTick(uint64_t nowMs, int64_t startTickMs, uint64_t audioMs)
{
    const int64_t elapsed = static_cast<int64_t>(nowMs) - startTickMs;
    if (elapsed > static_cast<int64_t>(audioMs) + kAudioPullBackMs)
        return static_cast<int64_t>(nowMs) - static_cast<int64_t>(audioMs);
    return startTickMs;
}

int soundLevel(const uint8_t* pcm, size_t bytes)
{
    int level = 0;
    if (pcm == nullptr)
        return 0;
    for (size_t i = 0; i + 1 < bytes; i += 4) {
        const int v = static_cast<int16_t>(static_cast<uint16_t>(pcm[i] | pcm[i + 1] << 8));
        if (v > level)
            level = v;
    }
    return level;
}

// Shortest wake-up period of the computer-sound clock (ms).
constexpr uint32_t kLoopbackMinPeriodMs = 40;

LoopbackPacer::LoopbackPacer(uint32_t chunkFrames, uint32_t sampleRate, uint32_t bytesPerSecond,
                             uint32_t blockAlign, uint64_t nowMs)
    : period_(sampleRate ? static_cast<uint32_t>(uint64_t(chunkFrames) * 1000 / sampleRate) : 0),
      chunkBytes_(chunkFrames * blockAlign), bytesPerSecond_(bytesPerSecond), last_(nowMs)
{
    if (period_ < kLoopbackMinPeriodMs)
        period_ = kLoopbackMinPeriodMs;
    wait_ = period_;
}

bool LoopbackPacer::poll(uint64_t nowMs)
{
    uint64_t e = nowMs - last_;
    if (e < wait_) {
        sleepAfter_ = 10;
        return false;
    }
    const uint64_t late = e - wait_;
    if (2 * late < period_) {
        wait_ = period_ - static_cast<uint32_t>(late);
    } else {
        e = period_; // a long stall is not made up with a burst of chunks
        wait_ = period_;
    }
    accumulated_ += e;
    last_ = nowMs;
    bool deliver = false;
    if (mulDivU64(bytesPerSecond_, accumulated_, 1000) > delivered_) {
        delivered_ += chunkBytes_;
        deliver = true;
    }
    sleepAfter_ = wait_ > 20 ? wait_ / 2 : 0;
    return deliver;
}

} // namespace quillet
