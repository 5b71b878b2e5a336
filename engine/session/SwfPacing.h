#pragma once
#include <cstdint>

#include "engine/session/FramePacing.h"

namespace quillet {

// SWF with sound: stream sound is the clock the player follows, so once sound
// has been written the frame count follows it instead of the wall clock. A
// frame is shown when the sound has reached it (a = round(audioMs x fps /
// 1000) + 1 > framesCounted, target framesCounted + 1); otherwise the picture
// is coded but not shown (target = framesCounted, *held = true) and the
// caller counts it toward the next key frame.
SlotDecision swfSoundClockSlots(uint64_t audioMs, uint32_t framesCounted, int framesPerSecond, bool* held);

// Sound that stopped coming (a device that vanished, a stalled server) must
// not freeze the pictures: the sound clock rules only while some sound was
// written, the sound has not failed and the wall clock (elapsedMs since the
// start tick) is less than kSwfSoundStallMs ahead of it. The pull-back of
// the video clock keeps a flowing sound within 500 ms.
constexpr int64_t kSwfSoundStallMs = 2000;
bool swfSoundClockRules(uint64_t audioMs, int64_t elapsedMs, bool soundFailed);

} // namespace quillet
