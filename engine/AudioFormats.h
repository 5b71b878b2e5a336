#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/OutputType.h"

namespace quillet {

// The compressed audio target, laid out as an MPEG Layer-3 wave format record
// (a wave format header plus the 12-byte MP3 extension). Rebuilt from the
// quality level at every start, then adjusted for the output type.
struct AudioTargetFormat {
    uint16_t formatTag = 85; // MPEG Layer-3
    uint16_t channels = 1;
    uint32_t sampleRate = 0;
    uint32_t avgBytesPerSecond = 0;
    uint16_t blockAlign = 1;
    uint16_t bitsPerSample = 16;
    uint16_t extraSize = 12;
    uint16_t mp3Id = 1;
    uint32_t mp3Flags = 2;
    uint16_t mp3BlockSize = 0;
    uint16_t mp3FramesPerBlock = 1;
    uint16_t mp3CodecDelay = 0;

    static constexpr size_t kRecordSize = 30;
    // Writes the little-endian record; out must hold kRecordSize bytes.
    void serialize(uint8_t* out) const;
};

// 16-bit signed little-endian PCM in which sound is captured.
struct CaptureAudioFormat {
    uint16_t channels = 1;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 16;
    uint16_t blockAlign = 2;
    uint32_t avgBytesPerSecond = 0;

    // 32000 Hz and above are coded as AAC, lower rates as MP3.
    bool usesAac() const { return sampleRate >= 32000; }
};

// The table row of the level, with the adjustments of the output type:
// MP4/FLV 32000 Hz (stereo from 5000 bytes/s, at least 2000 bytes/s), SWF at
// level 1, WMV 22050 Hz mono at no more than 3000 bytes/s from level 2 up.
AudioTargetFormat buildAudioTargetFormat(int qualityLevel, OutputType type);
CaptureAudioFormat captureFormatFor(const AudioTargetFormat& target);

} // namespace quillet
