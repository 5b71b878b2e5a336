#pragma once
#include <cstdint>

namespace quillet {

// One quality level (0..4) drives the audio format, the JPEG qualities and the
// video bit rates at once.
struct QualityLevelRow {
    uint32_t compressedBytesPerSecond;
    uint32_t audioSampleRate;
    uint16_t mp3BlockSize;
    uint16_t mp3CodecDelay;
    int jpegQualitySwfTiles;
    int jpegQualityImages; // 0 at level 4: images are PNG there
    int videoBitrateFactor;
};

constexpr int kQualityLevelCount = 5;
constexpr int kLosslessQualityLevel = 4; // tiles and still images switch to lossless coding

// The row of a level; levels outside 0..4 are clamped.
const QualityLevelRow& qualityLevelRow(int level);
int clampQualityLevel(int level);

// H.264 target bit rate in kbit/s: (width + height) * factor / 1120.
int h264BitrateKbps(int width, int height, int qualityLevel);
// WMV bit rate in bit/s: ((width + height) * factor / 560) * 1000.
int wmvBitrate(int width, int height, int qualityLevel);

} // namespace quillet
