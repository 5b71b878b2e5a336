#include "engine/OutputType.h"
#include "engine/QualityLevel.h"

#include <gtest/gtest.h>

namespace quillet {

TEST(OutputType, ChosenFromTheLastExtensionIgnoringCase)
{
    EXPECT_EQ(outputTypeForFileName("/home/u/Videos/Screen/a.MP4"), OutputMp4);
    EXPECT_EQ(outputTypeForFileName("a.avi"), OutputAvi);
    EXPECT_EQ(outputTypeForFileName("a.Flv"), OutputFlv);
    EXPECT_EQ(outputTypeForFileName("a.swf"), OutputSwf);
    EXPECT_EQ(outputTypeForFileName("a.wmv"), OutputWmv);
    EXPECT_EQ(outputTypeForFileName("a.jpg"), OutputImages);
    EXPECT_EQ(outputTypeForFileName("a.png"), OutputImages);
    EXPECT_EQ(outputTypeForFileName("clip.mp4.mp3"), OutputOwnRecord);
    EXPECT_EQ(outputTypeForFileName("noextension"), OutputOwnRecord);
    EXPECT_EQ(outputTypeForFileName(".mp4"), OutputOwnRecord) << "a leading only dot is no extension";
    EXPECT_EQ(outputTypeForFileName("x.mp4."), OutputOwnRecord);
    EXPECT_EQ(outputTypeForFileName(""), OutputOwnRecord);
}

TEST(OutputType, FormatListMapsIndexToExtension)
{
    const char* expected[] = {"mp4", "flv", "avi", "wmv", "swf", "jpg"};
    for (int i = 0; i < kFormatCount; ++i)
        EXPECT_STREQ(formatExtension(i, 2), expected[i]);
    EXPECT_STREQ(formatExtension(5, 4), "png");
    EXPECT_STREQ(formatExtension(0, 4), "mp4");
    EXPECT_STREQ(formatExtension(17, 0), "mp4");
    EXPECT_STREQ(formatExtension(-1, 0), "mp4");
}

TEST(OutputType, ReplacingTheExtensionKeepsTheNameUpToTheLastDot)
{
    EXPECT_EQ(replaceExtension("/v/12-09-10_40_00.avi", "mp4"), "/v/12-09-10_40_00.mp4");
    EXPECT_EQ(replaceExtension("my.clip.final.avi", "flv"), "my.clip.final.flv");
    EXPECT_EQ(replaceExtension("name", "png"), "name.png");
    EXPECT_EQ(replaceExtension("name.", "swf"), "name.swf");
}

TEST(QualityLevel, BitRatesFollowTheFactor)
{
    EXPECT_EQ(h264BitrateKbps(1920, 1088, 2), (1920 + 1088) * 150 / 1120);
    EXPECT_EQ(h264BitrateKbps(640, 480, 0), 50);
    // Integer division happens before the multiplication by 1000.
    EXPECT_EQ(wmvBitrate(1024, 768, 1), (1792 * 100 / 560) * 1000);
    EXPECT_EQ(wmvBitrate(1024, 768, 1), 320000);
    EXPECT_EQ(wmvBitrate(1920, 1080, 2), 803000);
    EXPECT_EQ(qualityLevelRow(9).videoBitrateFactor, 400) << "levels are clamped";
    EXPECT_EQ(qualityLevelRow(-3).videoBitrateFactor, 50);
}

} // namespace quillet
