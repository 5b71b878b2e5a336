#include <gtest/gtest.h>

#include "base/ByteOrder.h"
#include "engine/session/OwnRecordHeader.h"

namespace quillet {
namespace {

TEST(OwnRecordHeader, LayoutWithoutSound)
{
    OwnRecordHeader h;
    h.build(640, 480, 15, nullptr);
    const uint8_t* b = h.bytes();
    EXPECT_EQ(b[0], 'K');
    EXPECT_EQ(b[1], 'R');
    EXPECT_EQ(getLE16(b + 2), 218u);
    EXPECT_EQ(b[4], 15);
    EXPECT_EQ(b[6], 0);
    EXPECT_EQ(getLE16(b + 12), 20u);
    EXPECT_EQ(getLE16(b + 14), 64u);
    // The bitmap block.
    EXPECT_EQ(getLE32(b + 20), 40u);
    EXPECT_EQ(getLE32(b + 24), 640u);
    EXPECT_EQ(getLE32(b + 28), 480u);
    EXPECT_EQ(getLE16(b + 32), 1u);
    EXPECT_EQ(getLE16(b + 34), 16u);
    EXPECT_EQ(getLE32(b + 36), 22u);
    EXPECT_EQ(getLE32(b + 40), 640u * 480u * 2u);
    EXPECT_EQ(h.indexCapacity(), 37u);
    h.setDuration(151, 15);
    EXPECT_EQ(getLE32(b + 8), 10066u);
}

TEST(OwnRecordHeader, LayoutWithSoundCarriesTheTargetFormat)
{
    AudioTargetFormat f = buildAudioTargetFormat(2, OutputOwnRecord);
    OwnRecordHeader h;
    h.build(320, 240, 10, &f);
    const uint8_t* b = h.bytes();
    EXPECT_EQ(b[6], 1);
    EXPECT_EQ(getLE16(b + 14), 94u);
    EXPECT_EQ(getLE16(b + 64), 85u); // MPEG Layer-3
    EXPECT_EQ(getLE32(b + 68), 16000u);
    EXPECT_EQ(getLE16(b + 80), 12u); // extra size
    EXPECT_EQ(h.indexCapacity(), 30u);
}

TEST(OwnRecordHeader, IndexNeverReachesTheRecords)
{
    for (bool sound : {false, true}) {
        AudioTargetFormat f = buildAudioTargetFormat(1, OutputOwnRecord);
        OwnRecordHeader h;
        h.build(64, 64, 5, sound ? &f : nullptr);
        const uint32_t cap = h.indexCapacity();
        for (uint32_t k = 1; k <= cap; ++k)
            ASSERT_EQ(h.setKeyFrameOffset(k, 1000 + k), 1);
        EXPECT_EQ(h.setKeyFrameOffset(cap + 1, 5), 0);
        EXPECT_EQ(h.setKeyFrameOffset(0, 5), 0);
        // Entry k sits at formatEnd + 4k; the slot right after the formats stays free.
        EXPECT_EQ(getLE32(h.bytes() + h.formatEnd()), 0u);
        EXPECT_EQ(getLE32(h.bytes() + h.formatEnd() + 4 * cap), 1000 + cap);
        EXPECT_LE(h.formatEnd() + 4u * cap + 4u, 218u);
    }
}

} // namespace
} // namespace quillet
