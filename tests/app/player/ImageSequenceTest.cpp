// Which numbered images make up an image recording, and when each shows.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/player/media/ImageSequence.h"

namespace quillet::player {
namespace {

namespace fs = std::filesystem;

class ImageSequenceTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/quillet-images-XXXXXX";
        dir_ = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // An (empty) file with its modification time in ms.
    std::string put(const std::string& name, int64_t ms)
    {
        const std::string p = dir_ + "/" + name;
        std::ofstream(p) << "x";
        const timespec when{time_t(ms / 1000), long(ms % 1000) * 1000000};
        const timespec both[2] = {when, when};
        utimensat(AT_FDCWD, p.c_str(), both, 0);
        return p;
    }

    std::string dir_;
};

TEST_F(ImageSequenceTest, FindsTheSequenceAPathNames)
{
    const int64_t t0 = 1700000000000;
    for (int i = 0; i < 4; ++i)
        put("12-08-10_22_33_" + std::string(i < 10 ? "00" : "0") + std::to_string(i) + ".jpg", t0 + i * 200);
    for (int i = 0; i < 3; ++i)
        put("12-08-10_23_00_00" + std::to_string(i) + ".png", t0 + 60000 + i * 500);
    put("notes.txt", t0);
    put("12-08-10_22_33_x01.jpg", t0);

    ImageSequence s;
    ASSERT_TRUE(findImageSequence(dir_, s));
    EXPECT_EQ(s.baseName, "12-08-10_23_00") << "a folder plays its latest recording";
    EXPECT_EQ(s.files.size(), 3u);
    EXPECT_EQ(s.otherSequences, 1);

    ASSERT_TRUE(findImageSequence(dir_ + "/12-08-10_22_33_002.jpg", s));
    EXPECT_EQ(s.baseName, "12-08-10_22_33");
    ASSERT_EQ(s.files.size(), 4u);
    EXPECT_EQ(fs::path(s.files[3]).filename(), "12-08-10_22_33_003.jpg");
    ASSERT_TRUE(findImageSequence(dir_ + "/12-08-10_22_33.jpg", s)) << "the recording's own name";
    EXPECT_EQ(s.files.size(), 4u);
    ASSERT_TRUE(findImageSequence(dir_ + "/12-08-10_22_33.png", s))
        << "named .png, recorded below the lossless level as JPEG files";
    EXPECT_EQ(s.extension, "jpg");
    EXPECT_FALSE(findImageSequence(dir_ + "/notes.txt", s));
    EXPECT_FALSE(findImageSequence(dir_ + "/missing", s));
}

TEST_F(ImageSequenceTest, NumbersPastNineHundredNinetyNineSortByValue)
{
    put("r_999.png", 1000);
    put("r_1000.png", 2000);
    put("r_010.png", 500);
    ImageSequence s;
    ASSERT_TRUE(findImageSequence(dir_, s));
    ASSERT_EQ(s.files.size(), 3u);
    EXPECT_EQ(fs::path(s.files[0]).filename(), "r_010.png");
    EXPECT_EQ(fs::path(s.files[2]).filename(), "r_1000.png");
    EXPECT_TRUE(s.timed);
    EXPECT_EQ(s.startMs, (std::vector<int64_t>{0, 500, 1500}));
    EXPECT_EQ(s.durationMs, 1500 + ImageSequence::kUntimedImageMs);
}

TEST(ImageSequenceTimes, FilesThatLostTheirTimesShowOneASecond)
{
    ImageSequence s;
    s.files = {"a", "b", "c"};
    timeImageSequence(s, {5, 5, 5});
    EXPECT_FALSE(s.timed);
    EXPECT_EQ(s.startMs, (std::vector<int64_t>{0, 1000, 2000}));
    timeImageSequence(s, {3000000000, 1000000000, 4000000000});
    EXPECT_FALSE(s.timed) << "times going backwards are not the recording's";
    timeImageSequence(s, {1000000000, 1250000000, 3000000000});
    EXPECT_TRUE(s.timed);
    EXPECT_EQ(s.startMs, (std::vector<int64_t>{0, 250, 2000}));
}

} // namespace
} // namespace quillet::player
