#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/AudioFormats.h"

namespace quillet {

// The 18-byte little-endian wave format record (format tag, channels, rate,
// bytes per second, block align, bits per sample, extra size) in which the
// computer-sound entry takes its requested format and reports the device's.
struct WaveFormatRecord {
    static constexpr size_t kSize = 18;
    static constexpr uint16_t kPcm = 1;

    uint16_t formatTag = kPcm;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t avgBytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;

    void write(uint8_t* out) const;
    static WaveFormatRecord read(const uint8_t* in);
    static WaveFormatRecord fromCapture(const CaptureAudioFormat& format);
    // 16-bit PCM with 1 or 2 channels and a rate above 0: what the
    // computer-sound source can deliver.
    bool isPcm16MonoOrStereo() const;
};

} // namespace quillet
