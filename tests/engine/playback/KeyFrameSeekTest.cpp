// Key frames of the two screen-codec outputs, driven frame by frame: the AVI
// index flags them where the codec started afresh, and the player seeks to
// the key frame before any time and decodes from there exactly what was
// captured.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/playback/OwnRecordReader.h"
#include "engine/playback/RecordingPlayer.h"
#include "tests/engine/playback/KeyFrameRecording.h"
#include "tests/engine/playback/PlaybackTestFiles.h"
#include "tests/engine/session/SessionTestSupport.h"
#include "tests/video/screen/ScreenTestSupport.h"

namespace quillet {
namespace {

using test::isKey;
using test::KeyFrameRecording;
using test::kKeyFrameFps;
constexpr int kFrames = test::kKeyFrameFrames;
constexpr int kFps = kKeyFrameFps;

KeyFrameRecording write(const char* ext, bool (*keyAt)(int) = isKey)
{
    return test::writeKeyFrameRecording(ext, "keys", keyAt);
}

class KeyFrameSeek : public ::testing::TestWithParam<const char*> {};

TEST_P(KeyFrameSeek, SeekingDecodesFromTheKeyFrameBeforeTheTime)
{
    const KeyFrameRecording w = write(GetParam());
    RecordingPlayer player;
    ASSERT_EQ(player.open(w.file), 1) << player.error();
    ASSERT_EQ(player.index().size(), static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(player.index()[i].key, isKey(i)) << i;
        EXPECT_EQ(player.index()[i].tick, w.ticks[i]) << i;
    }
    // Times just before, at and after key frames, and far into a stretch.
    for (uint32_t ms : {0u, 1500u, 2000u, 2399u, 2400u, 9999u, 4700u, 300u}) {
        ASSERT_EQ(player.seek(ms), 1);
        size_t k = 0;
        for (int i = 0; i < kFrames; ++i)
            if (isKey(i) && w.ticks[i] * 1000 / kFps <= ms)
                k = static_cast<size_t>(i);
        PlayerFrame f;
        for (size_t i = k; i < k + 4 && i < w.frames.size(); ++i) {
            ASSERT_EQ(player.next(f), 1);
            EXPECT_EQ(f.index, i) << "seek to " << ms;
            EXPECT_EQ(f.timeMs, w.ticks[i] * 1000 / kFps);
            ASSERT_TRUE(f.decoded);
            const test::FrameCheck c = test::check_frame(w.frames[i], player.decodedPicture(), player.lossyBlocks());
            EXPECT_EQ(c.mismatchedBlocks, 0u) << "seek to " << ms << ", frame " << i;
            EXPECT_TRUE(player.cursor().hasPicture()) << "the key frame carries the cursor whole";
        }
    }
    EXPECT_TRUE(player.warnings().empty());
}

TEST(KeyFrameSeek, AviIndexFlagsSitOnTheCodecKeyFrames)
{
    if (std::system("ffprobe -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffprobe missing";
    const KeyFrameRecording w = write("avi");
    const std::string flags = test::commandOutput("ffprobe -v error -select_streams v:0 -show_entries packet=size,flags"
                                                  " -of csv=p=0 '" + w.file + "'");
    std::vector<bool> keys;
    size_t at = 0;
    while (at < flags.size()) {
        const size_t eol = flags.find('\n', at);
        const std::string line = flags.substr(at, eol - at);
        at = eol == std::string::npos ? flags.size() : eol + 1;
        if (!line.empty() && line[0] != '0')
            keys.push_back(line.find(",K") != std::string::npos);
    }
    ASSERT_EQ(keys.size(), static_cast<size_t>(kFrames));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(keys[i], isKey(i)) << i;
}

TEST(KeyFrameSeek, OwnFileIndexStopsWhenFullAndLeavesTheRecordsAlone)
{
    const KeyFrameRecording w = write("rec", [](int) { return true; });
    OwnRecordReader r;
    ASSERT_EQ(r.open(w.file), 1);
    // 37 entries fit between the formats and offset 218 without sound.
    ASSERT_EQ(r.head().keyFrameOffsets.size(), 37u);
    RecordingPlayer player;
    ASSERT_EQ(player.open(w.file), 1);
    ASSERT_EQ(player.index().size(), static_cast<size_t>(kFrames));
    for (size_t k = 0; k < 37; ++k)
        EXPECT_EQ(r.head().keyFrameOffsets[k], player.index()[k].offset) << k;
    EXPECT_EQ(player.info().keyFrames, static_cast<uint32_t>(kFrames));
    PlayerFrame f;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(player.next(f), 1);
        EXPECT_EQ(test::check_frame(w.frames[i], player.decodedPicture(), player.lossyBlocks()).mismatchedBlocks, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, KeyFrameSeek, ::testing::Values("avi", "rec"));

} // namespace
} // namespace quillet
