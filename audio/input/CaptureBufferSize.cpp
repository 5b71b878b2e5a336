#include "audio/input/CaptureBufferSize.h"

namespace quillet {

uint32_t captureBufferFrames(OutputType type, uint32_t sampleRate, int framesPerSecond)
{
    uint32_t frames = 0;
    switch (type) {
    case OutputMp4:
    case OutputFlv:
        frames = static_cast<uint32_t>(2ull * sampleRate / 11025) * 1024;
        break;
    case OutputSwf:
        frames = sampleRate / static_cast<uint32_t>(framesPerSecond < 1 ? 1 : framesPerSecond);
        break;
    default:
        frames = sampleRate / 4;
        break;
    }
    return frames == 0 ? 1 : frames;
}

} // namespace quillet
