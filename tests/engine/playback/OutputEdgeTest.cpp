// Edges of the screen-codec outputs, read back through the player: a region
// too large for one record is coded in pieces that decode as the whole, and
// a recording the grabber scales keeps the cursor where it is on the picture.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/SessionLock.h"
#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/synthetic/SyntheticScreen.h"
#include "engine/outputs/AviOutput.h"
#include "engine/outputs/OwnRecordOutput.h"
#include "engine/playback/RecordingPlayer.h"
#include "engine/playback/RecordingSource.h"
#include "tests/engine/playback/PlaybackTestFiles.h"
#include "tests/video/screen/ScreenTestSupport.h"

namespace quillet {
namespace {

std::unique_ptr<MediaOutput> outputFor(const std::string& ext)
{
    if (ext == "avi")
        return std::make_unique<AviOutput>();
    return std::make_unique<OwnRecordOutput>();
}

// Codes the screen's current picture as frame `i` of an open output.
void codeFrame(MediaOutput& out, FrameGrabber& grabber, CursorOverlay& cursor, SyntheticScreen& screen, int i)
{
    static SessionLock lock;
    grabber.capture(false);
    VideoFrameJob job;
    job.grabber = &grabber;
    job.cursor = &cursor;
    job.cursorSerial = screen.cursorSerial();
    job.lock = &lock;
    job.framesCounted = static_cast<uint32_t>(i);
    job.keyFrame = i == 0;
    out.videoFrame(job);
}

class OutputEdge : public ::testing::TestWithParam<const char*> {};

TEST_P(OutputEdge, ARegionTooLargeForItsRecordIsCodedInPiecesThatDecodeAsTheWhole)
{
    // Every pixel one of 20 colours at random: few enough values for the
    // blocks to be stored, not DCT-coded, and too random to deflate, so a
    // key frame's tiles come out far larger than the 65500 bytes a record
    // holds.
    const int32_t w = 640, h = 480;
    SyntheticScreen screen(w, h, 32);
    std::mt19937 rng(3);
    uint32_t palette[20];
    for (uint32_t& c : palette)
        c = rng() & 0xFFFFFF;
    screen.fill(Rect{0, 0, w, h}, 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            screen.fillUnreported(Rect{x, y, x + 1, y + 1}, palette[rng() % 20]);
    FrameGrabber grabber(screen);
    ASSERT_EQ(grabber.init(Rect{}, FrameGrabber::kFlagLayeredWindows, true), 1);
    CursorOverlay cursor(screen);
    const std::string file = test::scratchPath(std::string("noise.") + GetParam());
    auto out = outputFor(GetParam());
    OutputOpenParams p;
    p.fileName = file;
    p.width = grabber.width();
    p.height = grabber.height();
    p.bitsPerPixel = 32;
    p.framesPerSecond = 5;
    const char* key = nullptr;
    ASSERT_EQ(out->open(p, &key), 1);
    // What each frame shows, as the screen stored it.
    std::vector<std::vector<uint8_t>> shown(2, std::vector<uint8_t>(size_t(w) * h * 4));
    auto keep = [&](int i) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t v = screen.pixel(x, y);
                std::memcpy(shown[size_t(i)].data() + (size_t(h - 1 - y) * w + x) * 4, &v, 4);
            }
    };
    codeFrame(*out, grabber, cursor, screen, 0);
    keep(0);
    screen.fill(Rect{100, 100, 164, 164}, 0x808080); // a small change after it
    codeFrame(*out, grabber, cursor, screen, 1);
    keep(1);
    ASSERT_EQ(out->close(2, 5), 1);

    RecordingSource src;
    ASSERT_EQ(src.open(file), 1);
    ASSERT_EQ(src.next(), RecordingSource::Frame);
    EXPECT_GT(src.frame().regions.size(), static_cast<size_t>(grabber.tileCount())) << "pieces, not skipped tiles";
    for (const SourceRegion& r : src.frame().regions)
        EXPECT_LE(r.size, 65500u);

    ScreenFrame expected;
    expected.width = w;
    expected.height = h;
    expected.bitsPerPixel = 32;
    expected.stride = w * 4;
    RecordingPlayer player;
    ASSERT_EQ(player.open(file), 1);
    PlayerFrame f;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(player.next(f), 1);
        EXPECT_TRUE(f.decoded);
        EXPECT_EQ(i == 0, f.key) << "nothing was lost, so the second frame needs no repair";
        expected.bits = shown[size_t(i)].data();
        const test::FrameCheck c = test::check_frame(expected, player.decodedPicture(), player.lossyBlocks());
        EXPECT_EQ(c.mismatchedBlocks, 0u) << i;
        EXPECT_EQ(c.lossyBlocks, 0u) << i;
    }
}

TEST_P(OutputEdge, AScaledRecordingKeepsTheCursorOnThePicture)
{
    // A 2560 × 1440 screen is recorded as 1920 × 1080: positions and the
    // cursor picture follow the output picture, in both file types.
    SyntheticScreen screen(2560, 1440, 32);
    screen.fill(Rect{0, 0, 2560, 1440}, 0x336699);
    CursorImage c;
    c.serial = 5;
    c.width = c.height = 32;
    c.hotX = c.hotY = 0;
    c.argb.assign(32 * 32, 0xFFFF0000u);
    screen.setCursor(c);
    screen.setPointer(1000, 700);
    FrameGrabber grabber(screen);
    ASSERT_EQ(grabber.init(Rect{}, FrameGrabber::kFlagLayeredWindows, true), 1);
    ASSERT_EQ(grabber.width(), 1920);
    CursorOverlay cursor(screen);
    cursor.setArea(grabber.captureArea());
    const std::string file = test::scratchPath(std::string("scaled.") + GetParam());
    auto out = outputFor(GetParam());
    OutputOpenParams p;
    p.fileName = file;
    p.width = grabber.width();
    p.height = grabber.height();
    p.bitsPerPixel = 32;
    p.framesPerSecond = 5;
    const char* key = nullptr;
    ASSERT_EQ(out->open(p, &key), 1);
    codeFrame(*out, grabber, cursor, screen, 0);
    ASSERT_EQ(out->close(1, 5), 1);

    RecordingPlayer player;
    ASSERT_EQ(player.open(file), 1);
    PlayerFrame f;
    ASSERT_EQ(player.next(f), 1);
    EXPECT_EQ(player.cursor().x(), 1000 * 1920 / 2560);
    EXPECT_EQ(player.cursor().y(), 700 * 1920 / 2560);
    // The picture shrank with the scale: red inside, the background past it.
    const int32_t side = 32 * 1920 / 2560;
    const uint8_t* in = f.picture->row_from_top(player.cursor().y() + side - 2) + (player.cursor().x() + side - 2) * 4;
    EXPECT_EQ(in[2], 255);
    const uint8_t* past = f.picture->row_from_top(player.cursor().y() + side + 1) + (player.cursor().x() + side + 1) * 4;
    EXPECT_LT(past[2], 128);
}

INSTANTIATE_TEST_SUITE_P(Outputs, OutputEdge, ::testing::Values("avi", "rec"));

} // namespace
} // namespace quillet
