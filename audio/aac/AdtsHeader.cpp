#include "audio/aac/AdtsHeader.h"

namespace quillet {
namespace {
constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                          22050, 16000, 12000, 11025, 8000,  7350};
// 0x7FF in the fullness field tells decoders the stream is variable-rate.
constexpr uint32_t kVariableRateFullness = 0x7FF;
} // namespace

int adtsFrequencyIndex(int sampleRate)
{
    for (int i = 0; i < int(sizeof(kRates) / sizeof(kRates[0])); ++i)
        if (kRates[i] == sampleRate)
            return i;
    return -1;
}

int writeAdtsHeader(uint8_t* out, const AdtsFields& f)
{
    const int freqIndex = adtsFrequencyIndex(f.sampleRate);
    if (freqIndex < 0 || (f.mpegId != 0 && f.mpegId != 1) || f.objectType < 1 || f.objectType > 4 ||
        f.channels < 1 || f.channels > 7 || f.frameBytes < kAdtsHeaderBytes || f.frameBytes > kAdtsMaxFrameBytes)
        return 0;

    const uint32_t profile = uint32_t(f.objectType - 1);
    const uint32_t channelConfig = uint32_t(f.channels);
    const uint32_t length = uint32_t(f.frameBytes);
    out[0] = 0xFF;                                                     // syncword high 8 bits
    out[1] = uint8_t(0xF0 | (f.mpegId << 3) | (0 << 1) | 1);           // syncword, ID, layer 0, no CRC
    out[2] = uint8_t(profile << 6 | uint32_t(freqIndex) << 2 | (channelConfig >> 2)); // private bit 0
    out[3] = uint8_t((channelConfig & 3) << 6 | (length >> 11));       // original, home, copyright bits 0
    out[4] = uint8_t(length >> 3);
    out[5] = uint8_t((length & 7) << 5 | kVariableRateFullness >> 6);
    out[6] = uint8_t((kVariableRateFullness & 0x3F) << 2 | 0);         // raw data blocks - 1 = 0
    return 1;
}

} // namespace quillet
