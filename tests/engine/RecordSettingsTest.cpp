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

TEST_F(RecordSettingsTest, UnusableFrameRatesGiveTheDefaultAndSaySo)
{
    // Each of these used to wrap through a byte (1000 -> 232, -1 -> 255) or
    // silently become another rate.
    for (const char* bad : {"1000", "-1", "0", "31", "abc", "15fps", ""}) {
        RecordSettings s;
        SettingRepairs repairs;
        s.load(store(std::string("[screen]\nfps=") + bad + "\n"), 3, &repairs);
        EXPECT_EQ(s.framesPerSecond, 15) << bad;
        ASSERT_EQ(repairs.size(), 1u) << bad;
        EXPECT_EQ(repairs[0].key, "fps");
        EXPECT_EQ(repairs[0].stored, bad);
        EXPECT_EQ(repairs[0].replacement, "15");
    }
    for (int good : {1, 2, 25, 30}) {
        RecordSettings s;
        SettingRepairs repairs;
        s.load(store("[screen]\nfps= " + std::to_string(good) + "\n"), 3, &repairs);
        EXPECT_EQ(s.framesPerSecond, good);
        EXPECT_TRUE(repairs.empty()) << good;
    }
    // Clamped values are reported with what is used; a missing key is no damage.
    RecordSettings s;
    SettingRepairs repairs;
    s.load(store("[screen]\naudio2=7\n[Quillet]\nad=9\n"), 3, &repairs);
    ASSERT_EQ(repairs.size(), 2u);
    EXPECT_EQ(repairs[0].key + "=" + repairs[0].stored + ">" + repairs[0].replacement, "audio2=7>4");
    EXPECT_EQ(repairs[1].key + "=" + repairs[1].stored + ">" + repairs[1].replacement, "ad=9>3");
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
