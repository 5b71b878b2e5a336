// Key frames of the two screen-codec outputs, driven frame by frame: the AVI
// index flags them where the codec started afresh, and the player seeks to
// the key frame before any time and decodes from there exactly what was
// captured.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/SessionLock.h"
#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/synthetic/SyntheticScreen.h"
#include "engine/outputs/AviOutput.h"
#include "engine/outputs/OwnRecordOutput.h"
#include "engine/playback/OwnRecordReader.h"
#include "engine/playback/RecordingPlayer.h"
#include "tests/engine/playback/PlaybackScene.h"
#include "tests/engine/playback/PlaybackTestFiles.h"
#include "tests/engine/session/SessionTestSupport.h"
#include "tests/video/screen/ScreenTestSupport.h"

namespace quillet {
namespace {

constexpr int kFrames = 40;
constexpr int kFps = 5;

bool isKey(int i) { return i % 7 == 0 || i == 30; }
uint32_t ticksOf(int i) { return i % 4 == 1 ? 2 : 1; }

struct Written {
    std::string file;
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<ScreenFrame> frames;
    std::vector<uint32_t> ticks; // at which each frame shows
};

Written write(const char* ext, bool (*keyAt)(int) = isKey)
{
    Written w;
    w.file = test::scratchPath(std::string("keys.") + ext);
    SyntheticScreen screen(400, 272, 32);
    const Rect area{0, 0, 400, 272};
    test::PlaybackScene scene(screen, area);
    scene.paint(0);
    FrameGrabber grabber(screen);
    EXPECT_EQ(grabber.init(Rect{}, FrameGrabber::kFlagLayeredWindows, true), 1);
    CursorOverlay cursor(screen);
    cursor.setArea(grabber.captureArea());
    std::unique_ptr<MediaOutput> out;
    if (std::string(ext) == "avi")
        out = std::make_unique<AviOutput>();
    else
        out = std::make_unique<OwnRecordOutput>();
    OutputOpenParams p;
    p.fileName = w.file;
    p.width = grabber.width();
    p.height = grabber.height();
    p.bitsPerPixel = grabber.bitsPerPixel();
    p.framesPerSecond = kFps;
    const char* key = nullptr;
    EXPECT_EQ(out->open(p, &key), 1);
    SessionLock lock;
    uint32_t counted = 0;
    for (int i = 0; i < kFrames; ++i) {
        scene.paint(i);
        grabber.capture(false);
        VideoFrameJob job;
        job.grabber = &grabber;
        job.cursor = &cursor;
        job.cursorSerial = screen.cursorSerial();
        job.lock = &lock;
        job.framesCounted = counted;
        job.advance = ticksOf(i);
        job.keyFrame = keyAt(i);
        out->videoFrame(job);
        EXPECT_TRUE(job.produced);
        w.pictures.emplace_back();
        w.frames.emplace_back();
        scene.capture(w.frames.back(), w.pictures.back());
        w.ticks.push_back(counted);
        counted += job.advance;
    }
    for (size_t i = 0; i < w.frames.size(); ++i)
        w.frames[i].bits = w.pictures[i].data();
    EXPECT_EQ(out->close(counted, kFps), 1);
    EXPECT_FALSE(out->failed());
    return w;
}

class KeyFrameSeek : public ::testing::TestWithParam<const char*> {};

TEST_P(KeyFrameSeek, SeekingDecodesFromTheKeyFrameBeforeTheTime)
{
    const Written w = write(GetParam());
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
    const Written w = write("avi");
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
    const Written w = write("rec", [](int) { return true; });
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
