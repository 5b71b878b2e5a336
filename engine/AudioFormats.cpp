#include "engine/AudioFormats.h"

#include "base/ByteOrder.h"
#include "engine/QualityLevel.h"

namespace quillet {

void AudioTargetFormat::serialize(uint8_t* out) const
{
    putLE16(out + 0, formatTag);
    putLE16(out + 2, channels);
    putLE32(out + 4, sampleRate);
    putLE32(out + 8, avgBytesPerSecond);
    putLE16(out + 12, blockAlign);
    putLE16(out + 14, bitsPerSample);
    putLE16(out + 16, extraSize);
    putLE16(out + 18, mp3Id);
    putLE32(out + 20, mp3Flags);
    putLE16(out + 24, mp3BlockSize);
    putLE16(out + 26, mp3FramesPerBlock);
    putLE16(out + 28, mp3CodecDelay);
}

AudioTargetFormat buildAudioTargetFormat(int qualityLevel, OutputType type)
{
    const int level = (type == OutputSwf) ? 1 : qualityLevel;
    const QualityLevelRow& row = qualityLevelRow(level);
    AudioTargetFormat f;
    f.sampleRate = row.audioSampleRate;
    f.avgBytesPerSecond = row.compressedBytesPerSecond;
    f.mp3BlockSize = row.mp3BlockSize;
    f.mp3CodecDelay = row.mp3CodecDelay;

    switch (type) {
    case OutputMp4:
    case OutputFlv:
        if (f.avgBytesPerSecond < 2000)
            f.avgBytesPerSecond = 2000;
        f.sampleRate = 32000;
        f.channels = f.avgBytesPerSecond >= 5000 ? 2 : 1;
        break;
    case OutputWmv:
        if (f.avgBytesPerSecond == 3000) {
            f.sampleRate = 22050;
            f.channels = 1;
        } else if (f.avgBytesPerSecond == 5000 || f.avgBytesPerSecond == 7000) {
            f.sampleRate = 22050;
            f.channels = 1;
            f.avgBytesPerSecond = 3000;
        }
        break;
    default:
        break;
    }
    return f;
}

CaptureAudioFormat captureFormatFor(const AudioTargetFormat& target)
{
    CaptureAudioFormat c;
    c.channels = target.channels;
    c.sampleRate = target.sampleRate;
    c.bitsPerSample = 16;
    c.blockAlign = static_cast<uint16_t>(c.channels * 2);
    c.avgBytesPerSecond = c.blockAlign * c.sampleRate;
    return c;
}

} // namespace quillet
