#pragma once
#include <cstddef>
#include <cstdint>

namespace quillet {

// Byte layouts of the FLV pieces the writer produces itself. All big-endian.

inline constexpr size_t kFlvFileHeaderSize = 13;   // header plus PreviousTagSize0
inline constexpr size_t kFlvTagHeaderSize = 11;
inline constexpr size_t kFlvMetaDataSize = 88;     // script tag with its PreviousTagSize
inline constexpr uint64_t kFlvMetaDataOffset = 13; // always right behind the file header
inline constexpr size_t kFlvAacHeaderTagSize = 19;
inline constexpr size_t kAdtsHeaderSize = 7;

enum FlvTagType : uint8_t { kFlvAudioTag = 8, kFlvVideoTag = 9, kFlvScriptTag = 18 };

// "FLV", version 1, audio and video present, header size 9, PreviousTagSize0.
void writeFlvFileHeader(uint8_t out[kFlvFileHeaderSize]);

// 11-byte tag header: type, 24-bit data size, timestamp bits 23..0, then bits
// 31..24 in the extended byte, stream ID 0.
void writeFlvTagHeader(uint8_t out[kFlvTagHeaderSize], uint8_t type, uint32_t data_size, uint32_t timestamp_ms);

// The onMetaData script tag: duration in whole seconds (ms / 1000, remainder
// dropped), width and height, as AMF0 doubles.
void writeFlvMetaData(uint8_t out[kFlvMetaDataSize], int width, int height, uint32_t duration_ms);

// AAC sequence header: AAC LC at 32000 Hz, one channel, or two when channels is 2.
void writeFlvAacHeaderTag(uint8_t out[kFlvAacHeaderTagSize], int channels);

// Checks that `tag` holds exactly one complete tag of the given type followed by
// its PreviousTagSize: the data size and the trailing size agree with len.
bool isCompleteFlvTag(const uint8_t* tag, size_t len, uint8_t type);

} // namespace quillet
