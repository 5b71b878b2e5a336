#include "engine/AudioFormats.h"

#include <gtest/gtest.h>
#include <vector>

namespace quillet {

TEST(AudioTargetFormat, RecordIsTheLittleEndianLayer3Layout)
{
    AudioTargetFormat f = buildAudioTargetFormat(1, OutputAvi);
    uint8_t rec[AudioTargetFormat::kRecordSize];
    f.serialize(rec);
    const std::vector<uint8_t> expected = {
        0x55, 0x00,             // format tag 85
        0x01, 0x00,             // mono
        0x11, 0x2B, 0x00, 0x00, // 11025 Hz
        0xD0, 0x07, 0x00, 0x00, // 2000 bytes/s
        0x01, 0x00,             // block align
        0x10, 0x00,             // 16 bits
        0x0C, 0x00,             // 12 extra bytes
        0x01, 0x00,             // MP3 id
        0x02, 0x00, 0x00, 0x00, // flags
        0x68, 0x00,             // block size 104
        0x01, 0x00,             // frames per block
        0x71, 0x05,             // codec delay 1393
    };
    EXPECT_EQ(std::vector<uint8_t>(rec, rec + sizeof rec), expected);
}

struct Expect {
    int level;
    OutputType type;
    uint32_t rate;
    uint16_t channels;
    uint32_t avg;
    uint16_t blockSize;
    uint16_t delay;
};

TEST(AudioTargetFormat, AdjustedPerOutputType)
{
    const Expect cases[] = {
        // the table as it is for AVI and the own record file
        {0, OutputAvi, 8000, 1, 1000, 72, 1393},
        {2, OutputOwnRecord, 16000, 1, 3000, 108, 0},
        {4, OutputAvi, 16000, 1, 7000, 252, 1393},
        // MP4 and FLV: 32 kHz, at least 2000 bytes/s, stereo from 5000
        {0, OutputMp4, 32000, 1, 2000, 72, 1393},
        {2, OutputFlv, 32000, 1, 3000, 108, 0},
        {3, OutputMp4, 32000, 2, 5000, 180, 0},
        {4, OutputFlv, 32000, 2, 7000, 252, 1393},
        // SWF sound always at level 1
        {4, OutputSwf, 11025, 1, 2000, 104, 1393},
        {0, OutputSwf, 11025, 1, 2000, 104, 1393},
        // WMV: 22050 Hz mono, at most 3000 bytes/s from level 2 up
        {1, OutputWmv, 11025, 1, 2000, 104, 1393},
        {2, OutputWmv, 22050, 1, 3000, 108, 0},
        {4, OutputWmv, 22050, 1, 3000, 252, 1393},
    };
    for (const Expect& e : cases) {
        SCOPED_TRACE(testing::Message() << "level " << e.level << " type " << e.type);
        const AudioTargetFormat f = buildAudioTargetFormat(e.level, e.type);
        EXPECT_EQ(f.sampleRate, e.rate);
        EXPECT_EQ(f.channels, e.channels);
        EXPECT_EQ(f.avgBytesPerSecond, e.avg);
        EXPECT_EQ(f.mp3BlockSize, e.blockSize);
        EXPECT_EQ(f.mp3CodecDelay, e.delay);
        EXPECT_EQ(f.formatTag, 85);
        EXPECT_EQ(f.blockAlign, 1);
    }
}

TEST(CaptureAudioFormat, DerivedFromTheTargetAndPicksTheCoder)
{
    const CaptureAudioFormat stereo = captureFormatFor(buildAudioTargetFormat(3, OutputMp4));
    EXPECT_EQ(stereo.channels, 2);
    EXPECT_EQ(stereo.blockAlign, 4);
    EXPECT_EQ(stereo.avgBytesPerSecond, 128000u);
    EXPECT_TRUE(stereo.usesAac());

    const CaptureAudioFormat low = captureFormatFor(buildAudioTargetFormat(0, OutputAvi));
    EXPECT_EQ(low.sampleRate, 8000u);
    EXPECT_EQ(low.blockAlign, 2);
    EXPECT_EQ(low.avgBytesPerSecond, 16000u);
    EXPECT_FALSE(low.usesAac());
    EXPECT_FALSE(captureFormatFor(buildAudioTargetFormat(4, OutputWmv)).usesAac());
}

} // namespace quillet
