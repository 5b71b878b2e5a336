#include "audio/input/WaveFormatRecord.h"

#include "base/ByteOrder.h"

namespace quillet {

void WaveFormatRecord::write(uint8_t* out) const
{
    putLE16(out + 0, formatTag);
    putLE16(out + 2, channels);
    putLE32(out + 4, sampleRate);
    putLE32(out + 8, avgBytesPerSecond);
    putLE16(out + 12, blockAlign);
    putLE16(out + 14, bitsPerSample);
    putLE16(out + 16, extraSize);
}

WaveFormatRecord WaveFormatRecord::read(const uint8_t* in)
{
    WaveFormatRecord r;
    r.formatTag = getLE16(in + 0);
    r.channels = getLE16(in + 2);
    r.sampleRate = getLE32(in + 4);
    r.avgBytesPerSecond = getLE32(in + 8);
    r.blockAlign = getLE16(in + 12);
    r.bitsPerSample = getLE16(in + 14);
    r.extraSize = getLE16(in + 16);
    return r;
}

WaveFormatRecord WaveFormatRecord::fromCapture(const CaptureAudioFormat& format)
{
    WaveFormatRecord r;
    r.channels = format.channels;
    r.sampleRate = format.sampleRate;
    r.avgBytesPerSecond = format.avgBytesPerSecond;
    r.blockAlign = format.blockAlign;
    r.bitsPerSample = format.bitsPerSample;
    return r;
}

bool WaveFormatRecord::isPcm16MonoOrStereo() const
{
    return formatTag == kPcm && bitsPerSample == 16 && (channels == 1 || channels == 2) && sampleRate > 0;
}

} // namespace quillet
