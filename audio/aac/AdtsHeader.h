#pragma once
#include <cstdint>

namespace quillet {

// The 7-byte ADTS header (no CRC) that precedes every AAC frame we emit.
constexpr int kAdtsHeaderBytes = 7;
// The frame-length field is 13 bits wide and counts the header too.
constexpr int kAdtsMaxFrameBytes = 8191;

struct AdtsFields {
    int mpegId = 1;        // 1 = MPEG-2, 0 = MPEG-4 (only the one header bit differs)
    int objectType = 2;    // audio object type; written as objectType - 1 (2 = AAC LC -> profile 1)
    int sampleRate = 0;    // Hz; must be one of the standard frequency-index rates
    int channels = 0;      // 1..7, written as the channel configuration
    int frameBytes = 0;    // header plus raw data block, 7..8191
};

// Sampling-frequency index of an AAC rate (e.g. 32000 -> 5), or -1 for a rate
// that has no index.
int adtsFrequencyIndex(int sampleRate);

// Writes the header into out[0..6]: syncword 0xFFF, layer 0, protection absent,
// private/original/home/copyright bits 0, buffer fullness 0x7FF (variable rate),
// one raw data block. Returns 1, or 0 (and writes nothing) when a field does not
// fit its bit width or the rate has no index.
int writeAdtsHeader(uint8_t* out, const AdtsFields& fields);

} // namespace quillet
