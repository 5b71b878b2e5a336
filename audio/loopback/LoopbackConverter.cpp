#include "audio/loopback/LoopbackConverter.h"

#include "base/ByteOrder.h"

namespace quillet {

namespace {

inline int32_t sampleAt(const uint8_t* p) { return static_cast<int16_t>(getLE16(p)); }

inline void putSample(uint8_t* p, int32_t v) { putLE16(p, static_cast<uint16_t>(v)); }

} // namespace

ConvertPass convertLoopbackPass(const uint8_t* src, size_t srcBytes, const PcmLayout& device,
                                const PcmLayout& requested, uint8_t* out, size_t outBytes)
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

    uint64_t k = 0;
    uint64_t lastUsed = 0;
    for (;; ++k) {
        const uint64_t i = k * rd / rq;
        if (i >= srcFrames) {
            pass.bytesConsumed = srcBytes;
            break;
        }
        if (k >= space) {
            pass.bytesConsumed = static_cast<size_t>(lastUsed) * srcFrameBytes;
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
        lastUsed = i;
    }
    pass.bytesWritten = static_cast<size_t>(k) * outFrameBytes;
    return pass;
}

} // namespace quillet
