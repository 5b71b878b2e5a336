#include "engine/session/FramePacing.h"

#include "base/MulDiv.h"

namespace quillet {

uint32_t framePeriodMs(int framesPerSecond)
{
    const uint32_t fps = framesPerSecond < 1 ? 1u : static_cast<uint32_t>(framesPerSecond);
    const uint32_t p = 1000u / fps;
    return p < kMinFramePeriodMs ? kMinFramePeriodMs : p;
}

VideoPacer::VideoPacer(int framesPerSecond, uint64_t nowMs)
    : period_(framePeriodMs(framesPerSecond)), wait_(period_), last_(nowMs - period_)
{
}

bool VideoPacer::due(uint64_t nowMs)
{
    const uint64_t since = nowMs - last_;
    if (since < wait_)
        return false;
    const uint64_t late = since - wait_;
    wait_ = (2 * late < period_) ? period_ - static_cast<uint32_t>(late) : period_;
    last_ = nowMs;
    lateness_ = late > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(late);
    return true;
}

int workingFrameRate(int storedFramesPerSecond, bool swf)
{
    int fps = storedFramesPerSecond < 1 ? 1 : storedFramesPerSecond;
    if (fps > kMaxFramesPerSecond)
        fps = kMaxFramesPerSecond;
    if (swf && fps > kSwfMaxFramesPerSecond)
        fps = kSwfMaxFramesPerSecond;
    return fps;
}

SlotDecision decideFrameSlots(uint64_t nowMs, int64_t startTickMs, uint32_t framesCounted, int framesPerSecond)
{
    SlotDecision d;
    const int fps = framesPerSecond < 1 ? 1 : framesPerSecond;
    int64_t elapsed = static_cast<int64_t>(nowMs) - startTickMs;
    if (elapsed < 0)
        elapsed = 0;
    // Elapsed time can exceed 32 bits only after weeks, but the rounding must
    // match the 32-bit helper used everywhere else.
    const int64_t due = static_cast<int64_t>(mulDivU64(static_cast<uint64_t>(elapsed), static_cast<uint64_t>(fps), 1000));
    if (due > static_cast<int64_t>(framesCounted) + static_cast<int64_t>(kFarBehindSeconds) * fps) {
        d.kind = SlotDecision::ReAnchor;
        d.newStartTick = static_cast<int64_t>(nowMs) - mulDiv(static_cast<int32_t>(framesCounted), 1000, fps);
        return d;
    }
    if (due <= static_cast<int64_t>(framesCounted))
        return d;
    d.kind = SlotDecision::Frame;
    d.target = static_cast<uint32_t>(due);
    return d;
}

bool isKeyFrame(const KeyFrameInputs& in)
{
    if (in.placedImageCount >= kKeyFrameImageLimit)
        return true;
    if (in.bytesSinceKey > kKeyFrameByteLimit)
        return true;
    if (in.framesSinceKey >= in.framesPerSecond * kKeyFrameMaxSeconds)
        return true;
    if (in.bytesSinceKey > 0 && in.bytesSinceKey <= kModerateBytesSinceKey)
        return false;
    return in.framesSinceKey >= in.framesPerSecond * kKeyFrameSeconds;
}

uint32_t frameTimestampMs(uint32_t framesCounted, int framesPerSecond)
{
    const uint32_t fps = framesPerSecond < 1 ? 1u : static_cast<uint32_t>(framesPerSecond);
    return static_cast<uint32_t>(static_cast<uint64_t>(framesCounted) * 1000u / fps);
}

} // namespace quillet
