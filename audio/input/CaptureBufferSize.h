#pragma once
#include <cstdint>

#include "engine/OutputType.h"

namespace quillet {

// Sample frames per capture buffer for an output type at a capture rate:
// MP4 and FLV a whole number of 1024-frame AAC frames (floor(2r/11025) x 1024,
// 5120 at 32000 Hz), SWF one video frame's worth (r / frame rate), all others
// a quarter second (r / 4). Integer divisions throughout; a frame rate below 1
// counts as 1, and a result of 0 (absurdly low rates) becomes 1 so a buffer
// always holds something.
uint32_t captureBufferFrames(OutputType type, uint32_t sampleRate, int framesPerSecond);

} // namespace quillet
