#include "audio/loopback/LoopbackConverter.h"

#include "base/ByteOrder.h"

namespace quillet {

namespace {

inline int32_t sampleAt(const uint8_t* p) { return static_cast<int16_t>(getLE16(p)); }

inline void putSample(uint8_t* p, int32_t v) { putLE16(p, static_cast<uint16_t>(v)); }

} // namespace

ConvertPass convertLoopbackPass(const uint8_t* src, size_t srcBytes, const PcmLayout& device,
                                const PcmLayout& requested, uint8_t* out, size_t outBytes, uint64_t phase)
{
    ConvertPass pass;
    const uint32_t c = requested.channels;
    const uint32_t d = device.channels;
    if ((c != 1 && c != 2) || requested.sampleRate == 0)
        return pass;
    if (device.bitsPerSample != 16 || (d != 1 && d != 2) || device.sampleRate == 0 || src == nullptr) {
        pass.bytesConsumed = srcBytes;
        return pass;
    }

    const size_t srcFrameBytes = 2 * d;
    const size_t outFrameBytes = 2 * c;
    const uint64_t srcFrames = srcBytes / srcFrameBytes;
    const uint64_t space = outBytes / outFrameBytes;
    const uint64_t rd = device.sampleRate;
    const uint64_t rq = requested.sampleRate;

    // pos: the next output frame's place in the source, in 1/rq frames.
    uint64_t pos = phase;
    uint64_t k = 0;
    for (;; ++k, pos += rd) {
        const uint64_t i = pos / rq;
        if (i >= srcFrames) {
            pass.bytesConsumed = srcBytes;
            pass.nextPhase = pos - srcFrames * rq;
            break;
        }
        if (k >= space) {
            pass.bytesConsumed = static_cast<size_t>(i) * srcFrameBytes;
            pass.nextPhase = pos - i * rq;
            break;
        }
        const uint8_t* s = src + i * srcFrameBytes;
        uint8_t* o = out + k * outFrameBytes;
        if (c == 1) {
            putSample(o, d == 1 ? sampleAt(s) : (sampleAt(s) + sampleAt(s + 2)) >> 1);
        } else {
            putSample(o, sampleAt(s));
            putSample(o + 2, d == 2 ? sampleAt(s + 2) : 0);
        }
    }
    pass.bytesWritten = static_cast<size_t>(k) * outFrameBytes;
    return pass;
}

} // namespace quillet
