#pragma once
#include <cstddef>
#include <cstdint>

#include "audio/aac/AdtsHeader.h"
#include "base/MulDiv.h"

namespace quillet {

// Sound is the master clock. These helpers hold the arithmetic of the sound
// path so that it can be checked without devices: media time from PCM byte
// counts, the pull-back of the video clock, the AAC unit walk, the level meter
// and the computer-sound clock.

// Video may run this far ahead of the sound before its clock is pulled back.
constexpr int64_t kAudioPullBackMs = 500;

// Milliseconds of sound in byteCount bytes at bytesPerSecond.
inline uint64_t audioMsForBytes(uint64_t byteCount, uint32_t bytesPerSecond)
{
    return mulDivU64(1000, byteCount, bytesPerSecond);
}

// The pull-back rule: when the video clock's elapsed time (now - startTick)
// exceeds audioMs by more than 500 ms, startTick moves so that the elapsed time
// equals audioMs. Returns the (possibly unchanged) start tick.
int64_t pullBackStartTick(uint64_t nowMs, int64_t startTickMs, uint64_t audioMs);

// The loudest positive value among samples 0, 2, 4, ... of 16-bit PCM (every
// second sample: the left channel of stereo sound), at least 0.
int soundLevel(const uint8_t* pcm, size_t bytes);

// Walks the AAC encoder's output: units of a 16-bit little-endian length L and
// L bytes of an ADTS frame (7-byte header first). Calls fn(rawFrame, rawLength)
// with the frame after its header for each unit. A unit that is shorter than
// its header or runs past the end stops the walk (nothing after it is
// trusted). Returns the number of units handed to fn.
template <typename Fn>
int forEachAacUnit(const uint8_t* data, size_t length, Fn&& fn)
{
    constexpr size_t kAdtsHeader = kAdtsHeaderBytes;
    size_t pos = 0;
    int units = 0;
    while (pos + 2 <= length) {
        const size_t unit = static_cast<size_t>(data[pos]) | static_cast<size_t>(data[pos + 1]) << 8;
        pos += 2;
        if (unit < kAdtsHeader || unit > length - pos)
            break;
        fn(data + pos + kAdtsHeader, unit - kAdtsHeader);
        pos += unit;
        ++units;
    }
    return units;
}

// The clock of the computer-sound thread: it paces itself on the tick count and
// the byte rate. Call poll() at every wake-up; it returns true when one chunk is
// due now (at most one per wake-up). sleepAfterMs() tells how long to sleep
// before the next poll.
class LoopbackPacer {
public:
    // chunkFrames sample frames per chunk at sampleRate; bytesPerSecond and
    // blockAlign of the capture format.
    LoopbackPacer(uint32_t chunkFrames, uint32_t sampleRate, uint32_t bytesPerSecond, uint32_t blockAlign,
                  uint64_t nowMs);

    bool poll(uint64_t nowMs);
    // After a poll: 10 ms while waiting, half the next wait when it exceeds 20 ms,
    // otherwise 0 (poll again at once).
    uint32_t sleepAfterMs() const { return sleepAfter_; }
    uint32_t chunkBytes() const { return chunkBytes_; }
    uint32_t periodMs() const { return period_; }
    uint64_t deliveredBytes() const { return delivered_; }

private:
    uint32_t period_;
    uint32_t chunkBytes_;
    uint32_t bytesPerSecond_;
    uint32_t wait_;
    uint64_t accumulated_ = 0;
    uint64_t delivered_ = 0;
    uint64_t last_;
    uint32_t sleepAfter_ = 0;
};

} // namespace quillet
