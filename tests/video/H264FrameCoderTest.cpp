// The recording's H.264 path as a frame tick runs it: grabber, cursor burn-in,
// conversion of only what changed and macroblock hints. Each decoded picture
// must match the picture the grabber handed over, block by block, so a change
// the hints or the partial conversion missed shows up as a damaged block.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/synthetic/SyntheticScreen.h"
#include "engine/outputs/H264FrameCoder.h"
#include "tests/video/H264TestSupport.h"
#include "video/ColorConvert.h"
#include "video/FlvAvcTags.h"

namespace quillet {
namespace {

using Bytes = std::vector<uint8_t>;

// Worst 16 x 16 luma block: coding noise on the flat and noisy fills stays
// well above; a block left showing an earlier picture falls far below.
constexpr double kMinBlockPsnr = 25.0;
constexpr double kMinPicturePsnr = 36.0;

double worst_block_psnr(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height)
{
    double worst = 99.0;
    Bytes ba(256), bb(256);
    for (int32_t by = 0; by + 16 <= height; by += 16)
        for (int32_t bx = 0; bx + 16 <= width; bx += 16) {
            for (int32_t y = 0; y < 16; ++y)
                for (int32_t x = 0; x < 16; ++x) {
                    ba[static_cast<size_t>(y * 16 + x)] = a[static_cast<size_t>(by + y) * width + bx + x];
                    bb[static_cast<size_t>(y * 16 + x)] = b[static_cast<size_t>(by + y) * width + bx + x];
                }
            worst = std::min(worst, testing::psnr(ba.data(), bb.data(), ba.size()));
        }
    return worst;
}

struct Screen {
    int32_t width, height;
};

class H264FrameCoderTest : public ::testing::TestWithParam<Screen> {};

TEST_P(H264FrameCoderTest, DecodedPicturesMatchTheGrabbedOnesWithOnlyChangesAnalysed)
{
    const Screen s = GetParam();
    SyntheticScreen screen(s.width, s.height, 32);
    // A desktop with some detail, so that a stale block is visible.
    std::mt19937 random(11);
    for (int i = 0; i < 60; ++i) {
        const int32_t x = static_cast<int32_t>(random() % static_cast<uint32_t>(s.width));
        const int32_t y = static_cast<int32_t>(random() % static_cast<uint32_t>(s.height));
        screen.fill(Rect{x, y, x + 120, y + 80}, random() & 0xFFFFFF);
    }
    CursorImage cursor;
    cursor.serial = 3;
    cursor.width = 16;
    cursor.height = 24;
    cursor.argb.assign(16 * 24, 0xFF000000);
    for (int i = 0; i < 16 * 24; i += 3)
        cursor.argb[static_cast<size_t>(i)] = 0xFFFFFFFF;
    screen.setCursor(cursor);
    screen.setPointer(s.width / 3, s.height / 3);

    uint64_t now = 100000;
    FrameGrabber grabber(screen, [&now] { return now; });
    ASSERT_EQ(grabber.init(Rect{}, 0, true), 1);
    CursorOverlay overlay(screen);
    overlay.setArea(grabber.captureArea());

    OutputOpenParams params;
    params.width = grabber.width();
    params.height = grabber.height();
    params.bitsPerPixel = 32;
    params.framesPerSecond = 15;
    H264FrameCoder coder;
    ASSERT_EQ(coder.open(params), 1);
    const size_t headerLength = coder.sequenceHeader();
    ASSERT_GT(headerLength, 20u);
    const Bytes record(coder.packet() + 16, coder.packet() + headerLength - 4);
    testing::TestH264Decoder decoder(record);
    ASSERT_TRUE(decoder.ok());

    const int32_t w = grabber.width(), h = grabber.height();
    std::vector<I420Picture> coded;
    std::vector<size_t> analysed;
    constexpr int kTicks = 10;
    for (int tick = 0; tick < kTicks; ++tick) {
        if (tick > 0) {
            // A small window repaints, a line of text appears, the pointer moves.
            const int32_t x = 40 + tick * 37, y = 60 + tick * 23;
            screen.fill(Rect{x, y, x + 90, y + 50}, random() & 0xFFFFFF);
            screen.fill(Rect{s.width - 200, 30 + tick * 3, s.width - 200 + 8 * tick, 33 + tick * 3}, 0x101010);
            screen.setPointer(s.width / 3 + tick * 29, s.height / 3 + tick * 11);
            now += 66;
        }
        ASSERT_EQ(grabber.capture(false), 1);
        VideoFrameJob job;
        job.grabber = &grabber;
        job.cursor = &overlay;
        job.cursorSerial = screen.cursorSerial();
        job.timestampMs = static_cast<uint32_t>(tick * 66);
        const size_t length = coder.encode(job);
        ASSERT_GT(length, kFlvAvcNalOffset + 4) << tick;
        analysed.push_back(coder.encoder().last_changed_macroblocks);
        ASSERT_TRUE(decoder.decode(coder.packet() + kFlvAvcNalOffset, length - kFlvAvcNalOffset - 4)) << tick;
        // The output picture still holds what was coded: the cursor leaves the
        // capture picture at once, the output only at the next tick.
        I420Picture reference;
        ASSERT_EQ(reference.allocate(w, h), 1);
        const ScreenFrame& frame = grabber.frame();
        ASSERT_EQ(convert_to_i420(frame.bits, PixelLayout::Bgra32, w, h, true, reference.planes()), 1);
        coded.push_back(std::move(reference));
    }
    ASSERT_TRUE(decoder.flush());
    EXPECT_EQ(decoder.errors, 0);
    ASSERT_EQ(decoder.pictures.size(), static_cast<size_t>(kTicks));
    const size_t total = coder.encoder().macroblocks();
    for (int i = 0; i < kTicks; ++i) {
        const testing::DecodedPicture& d = decoder.pictures[static_cast<size_t>(i)];
        ASSERT_EQ(d.width, w);
        ASSERT_EQ(d.height, h);
        const I420Picture& ref = coded[static_cast<size_t>(i)];
        const size_t luma = static_cast<size_t>(w) * h;
        EXPECT_GT(testing::psnr(d.y.data(), ref.y(), luma), kMinPicturePsnr) << "picture " << i;
        EXPECT_GT(worst_block_psnr(d.y.data(), ref.y(), w, h), kMinBlockPsnr) << "picture " << i;
        EXPECT_GT(testing::psnr(d.u.data(), ref.u(), luma / 4), kMinPicturePsnr) << "picture " << i;
        EXPECT_GT(testing::psnr(d.v.data(), ref.v(), luma / 4), kMinPicturePsnr) << "picture " << i;
        if (i == 0)
            EXPECT_EQ(analysed[0], total);
        else // the grabber merges the changes of one tile, so a tile or two at most
            EXPECT_LT(analysed[static_cast<size_t>(i)], total / 6) << "picture " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, H264FrameCoderTest,
                         ::testing::Values(Screen{1920, 1080}, Screen{1366, 768}, Screen{640, 480}),
                         [](const ::testing::TestParamInfo<Screen>& i) {
                             return std::to_string(i.param.width) + "x" + std::to_string(i.param.height);
                         });

} // namespace
} // namespace quillet
