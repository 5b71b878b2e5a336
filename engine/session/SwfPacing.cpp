#include "engine/session/SwfPacing.h"

#include "base/MulDiv.h"

namespace quillet {

SlotDecision swfSoundClockSlots(uint64_t audioMs, uint32_t framesCounted, int framesPerSecond, bool* held)
{
    const uint64_t fps = framesPerSecond < 1 ? 1u : static_cast<uint64_t>(framesPerSecond);
    const uint64_t a = mulDivU64(audioMs, fps, 1000) + 1;
    SlotDecision d;
    d.kind = SlotDecision::Frame;
    *held = a <= framesCounted;
    d.target = *held ? framesCounted : framesCounted + 1;
    return d;
}

bool swfSoundClockRules(uint64_t audioMs, int64_t elapsedMs, bool soundFailed)
{
    return audioMs > 0 && !soundFailed && elapsedMs < static_cast<int64_t>(audioMs) + kSwfSoundStallMs;
}

} // namespace quillet
