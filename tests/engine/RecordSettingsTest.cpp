#include "engine/RecordSettings.h"

#include "base/ProfileStore.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillet {
namespace fs = std::filesystem;

class RecordSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = fs::temp_directory_path() / ("quillet_rs_" + std::to_string(::getpid()) + ".ini");
        fs::remove(path_);
    }
    void TearDown() override { fs::remove(path_); }
    ProfileStore store(const std::string& text)
    {
        std::ofstream(path_) << text;
        return ProfileStore(path_.string());
    }
    fs::path path_;
};

TEST_F(RecordSettingsTest, MissingFileGivesTheDefaults)
{
    RecordSettings s;
    s.load(ProfileStore(path_.string()), 3);
    EXPECT_EQ(s.qualityLevel, 2);
    EXPECT_EQ(s.framesPerSecond, 15);
    EXPECT_TRUE(s.recordSound);
    EXPECT_EQ(s.audioSourceIndex, 0);
    EXPECT_EQ(s.audioSourceCount, 3);
    EXPECT_FALSE(s.hideWhileRecording);
    EXPECT_TRUE(s.wholeScreen());
}

TEST_F(RecordSettingsTest, LoadClampsQualityAndSource)
{
    RecordSettings s;
    s.load(store("[screen]\naudio2=7\nfps=20\nmin=1\n[Quillet]\na=0\nad=9\n"), 3);
    EXPECT_EQ(s.qualityLevel, 4);
    EXPECT_EQ(s.framesPerSecond, 20) << "the frame rate is taken as stored";
    EXPECT_TRUE(s.hideWhileRecording);
    EXPECT_FALSE(s.recordSound);
    EXPECT_EQ(s.audioSourceIndex, 3) << "clamped to the count: loopback";

    s.load(store("[screen]\naudio2=-1\n[Quillet]\nad=-4\n"), 3);
    EXPECT_EQ(s.qualityLevel, 0);
    EXPECT_EQ(s.audioSourceIndex, 0);
}

TEST_F(RecordSettingsTest, SaveRoundTrips)
{
    RecordSettings a;
    a.qualityLevel = 3;
    a.framesPerSecond = 5;
    a.recordSound = false;
    a.audioSourceIndex = 2;
    a.hideWhileRecording = true;
    ProfileStore p(path_.string());
    ASSERT_TRUE(a.save(p));
    RecordSettings b;
    b.load(p, 4);
    EXPECT_EQ(b.qualityLevel, 3);
    EXPECT_EQ(b.framesPerSecond, 5);
    EXPECT_FALSE(b.recordSound);
    EXPECT_EQ(b.audioSourceIndex, 2);
    EXPECT_TRUE(b.hideWhileRecording);
}

TEST(FrameRateList, MapsBothWays)
{
    EXPECT_EQ(framesPerSecondForListIndex(0), 2);
    EXPECT_EQ(framesPerSecondForListIndex(3), 15);
    EXPECT_EQ(framesPerSecondForListIndex(4), 20);
    EXPECT_EQ(framesPerSecondForListIndex(6), 5);
    EXPECT_EQ(framesPerSecondForListIndex(-1), 2);
    EXPECT_EQ(listIndexForFramesPerSecond(10), 2);
    EXPECT_EQ(listIndexForFramesPerSecond(20), 0) << "any other rate shows the first entry";
}

} // namespace quillet
