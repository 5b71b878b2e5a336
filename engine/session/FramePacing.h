#pragma once
#include <cstdint>

namespace quillet {

// Frame pacing of the video thread and the frame tick. Time is counted in frame
// slots: framesCounted / framesPerSecond is the media time, the wall clock only
// decides when a slot is due. All times are milliseconds of one monotonic clock.

// Shortest frame period: at most 25 frames per second are attempted.
constexpr uint32_t kMinFramePeriodMs = 40;
// A frame never covers more slots than this (the writers repeat it).
constexpr uint32_t kMaxAdvance = 200;
// Lag beyond this many seconds of slots is forgotten instead of caught up.
constexpr uint32_t kFarBehindSeconds = 3;

// 1000 / fps (integer division), at least kMinFramePeriodMs; fps 0 counts as 1.
uint32_t framePeriodMs(int framesPerSecond);

// The video thread's wake-up rule. A tick that starts late by less than half a
// period shortens the next wait by the lateness; a later one is followed by a
// full period. The first call to due() fires at once.
class VideoPacer {
public:
    VideoPacer(int framesPerSecond, uint64_t nowMs);

    // True when a tick is due at nowMs; the pacer then moves on to the next one.
    bool due(uint64_t nowMs);
    uint32_t periodMs() const { return period_; }
    uint32_t waitMs() const { return wait_; }
    // When the next tick is due: the thread sleeps until then.
    uint64_t nextDueMs() const { return last_ + wait_; }
    // How late the tick that due() last let through started (ms).
    uint32_t lastLatenessMs() const { return lateness_; }

private:
    uint32_t period_;
    uint32_t wait_;
    uint64_t last_;
    uint32_t lateness_ = 0;
};

// The frame rate a recording really runs at: the stored rate (below 1 counts
// as 1) held to the 40-ms period, so 26 to 30 run as 25, and SWF's own cap of 12.
constexpr int kMaxFramesPerSecond = 1000 / kMinFramePeriodMs;
constexpr int kSwfMaxFramesPerSecond = 12;
int workingFrameRate(int storedFramesPerSecond, bool swf);

// What one frame tick does with the clock (decided under the session lock).
struct SlotDecision {
    enum Kind {
        NoFrame,  // no new slot is due
        ReAnchor, // far behind: startTick moved, no frame this tick
        Frame,    // code one frame covering `advance` slots
    };
    Kind kind = NoFrame;
    uint32_t target = 0;       // frame count after this frame
    int64_t newStartTick = 0;  // ReAnchor only
};

// due = round(elapsed * fps / 1000). More than three seconds of slots behind
// re-anchors startTick at the current count; otherwise a frame is due when
// due > framesCounted.
SlotDecision decideFrameSlots(uint64_t nowMs, int64_t startTickMs, uint32_t framesCounted, int framesPerSecond);

// The key-frame decision, in order: the placed-image depth limit (300), more
// than 5 MiB since the last key, five minutes of frames; no key after a
// moderate amount (1..512000 bytes); otherwise after twenty seconds of frames.
struct KeyFrameInputs {
    uint32_t placedImageCount = 0;
    uint32_t bytesSinceKey = 0;
    int32_t framesSinceKey = 0; // already advanced by this frame's slots
    int framesPerSecond = 15;
};
bool isKeyFrame(const KeyFrameInputs& in);

constexpr uint32_t kKeyFrameImageLimit = 300;
constexpr uint32_t kKeyFrameByteLimit = 0x500000;      // 5 MiB
constexpr uint32_t kModerateBytesSinceKey = 512000;
constexpr int kKeyFrameMaxSeconds = 300;
constexpr int kKeyFrameSeconds = 20;

// Elapsed media time of a frame count, as the writers' timestamps use it:
// framesCounted * 1000 / fps (unsigned integer division).
uint32_t frameTimestampMs(uint32_t framesCounted, int framesPerSecond);

} // namespace quillet
