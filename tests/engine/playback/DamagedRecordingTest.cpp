// Recordings damaged after the fact: cut anywhere, region data overwritten,
// sizes that lie. The player never reads outside its data, names the file
// and the offset of what it could not use, and pictures are right again from
// the next key frame on.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "engine/playback/RecordingConverter.h"
#include "engine/playback/RecordingPlayer.h"
#include "engine/playback/RecordingSource.h"
#include "tests/engine/playback/KeyFrameRecording.h"
#include "tests/engine/playback/PlaybackTestFiles.h"
#include "tests/video/screen/ScreenTestSupport.h"

namespace quillet {
namespace {

using test::Bytes;

int playAll(RecordingPlayer& p)
{
    PlayerFrame f;
    int n = 0;
    while (p.next(f))
        ++n;
    p.finishSound();
    std::vector<int16_t> pcm;
    p.takeSound(pcm);
    return n;
}

class DamagedRecording : public ::testing::TestWithParam<const char*> {};

TEST_P(DamagedRecording, ACutFilePlaysToItsLastWholeFrame)
{
    const test::KeyFrameRecording w = test::writeKeyFrameRecording(GetParam(), "cut-src");
    const Bytes whole = test::readBytes(w.file);
    const std::string cut = test::scratchPath(std::string("cut-play.") + GetParam());
    int opened = 0;
    for (size_t n = 0; n < whole.size(); n += whole.size() / 97 + 1) {
        test::writeBytes(cut, Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
        RecordingPlayer p;
        if (!p.open(cut)) {
            EXPECT_NE(p.error().find(cut), std::string::npos) << p.error();
            continue;
        }
        ++opened;
        EXPECT_EQ(playAll(p), static_cast<int>(p.info().frames));
        if (p.info().damaged) {
            EXPECT_NE(p.info().damage.find("offset"), std::string::npos) << p.info().damage;
        }
        EXPECT_LE(p.info().frames, w.frames.size());
    }
    EXPECT_GT(opened, 80);
}

TEST_P(DamagedRecording, DamagedRegionsAreNamedAndHealAtTheNextKeyFrame)
{
    const test::KeyFrameRecording w = test::writeKeyFrameRecording(GetParam(), "heal-src");
    // Overwrite the coded bytes of a region of frame 9 (key frames at 0, 7,
    // 14, ...): the frames up to 14 cannot be decoded.
    RecordingSource src;
    ASSERT_EQ(src.open(w.file), 1);
    SourceRegion region;
    uint64_t frameAt = 0;
    for (int item, i = 0; (item = src.next()) != RecordingSource::End;) {
        if (item == RecordingSource::Frame && i++ == 9) {
            ASSERT_FALSE(src.frame().regions.empty());
            region = src.frame().regions[0];
            frameAt = src.frame().offset;
        }
    }
    ASSERT_GT(region.size, 8u);
    Bytes bad = test::readBytes(w.file);
    for (size_t k = 2; k < region.size; ++k)
        bad[region.fileOffset + k] = static_cast<uint8_t>(0xA5 ^ k);
    const std::string path = test::scratchPath(std::string("heal.") + GetParam());
    test::writeBytes(path, bad);

    RecordingPlayer p;
    ASSERT_EQ(p.open(path), 1);
    PlayerFrame f;
    for (int i = 0; i < static_cast<int>(w.frames.size()); ++i) {
        ASSERT_EQ(p.next(f), 1);
        if (i < 9 || i >= 14) {
            EXPECT_TRUE(f.decoded) << i;
            EXPECT_EQ(test::check_frame(w.frames[i], p.decodedPicture(), p.lossyBlocks()).mismatchedBlocks, 0u) << i;
        } else {
            EXPECT_FALSE(f.decoded) << i << ": waits for the key frame";
        }
    }
    ASSERT_FALSE(p.warnings().empty());
    EXPECT_NE(p.warnings()[0].find(path), std::string::npos) << p.warnings()[0];
    EXPECT_NE(p.warnings()[0].find("offset " + std::to_string(frameAt)), std::string::npos) << p.warnings()[0];
    EXPECT_NE(p.warnings()[0].find("offset " + std::to_string(region.fileOffset)), std::string::npos);

    // Converting keeps going too, and says what it met.
    RecordingConverter conv;
    ConvertReport report;
    std::string error;
    ASSERT_EQ(conv.toMp4(path, path + ".mp4", {}, &report, &error), 1) << error;
    EXPECT_EQ(report.frames, w.frames.size());
    EXPECT_FALSE(report.warnings.empty());
}

TEST_P(DamagedRecording, RandomDamageNeverReadsOutOfBounds)
{
    const test::KeyFrameRecording w = test::writeKeyFrameRecording(GetParam(), "random-src");
    const Bytes whole = test::readBytes(w.file);
    const std::string path = test::scratchPath(std::string("random.") + GetParam());
    std::mt19937 rng(5);
    for (int round = 0; round < 60; ++round) {
        Bytes b = whole;
        for (int k = 0; k < 1 + round % 8; ++k) {
            const size_t at = rng() % b.size();
            if (round % 3 == 0 && at + 2 <= b.size())
                putLE16(b.data() + at, 0xFFF0 + (rng() & 0xF)); // a length that lies
            else
                b[at] = static_cast<uint8_t>(rng());
        }
        test::writeBytes(path, b);
        RecordingPlayer p;
        if (p.open(path))
            playAll(p); // ASan builds check every access
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, DamagedRecording, ::testing::Values("avi", "rec"));

} // namespace
} // namespace quillet
