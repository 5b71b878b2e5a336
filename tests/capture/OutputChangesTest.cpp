// The grabber's output changes tell the H.264 coder which parts of the output
// picture to convert again and which macroblocks to skip. A pixel that changes
// outside them would stay stale in the recording, so every changed pixel must
// lie inside one; and they must stay small, or nothing is saved.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/synthetic/SyntheticScreen.h"

namespace quillet {
namespace {

bool inside(const std::vector<Rect>& rects, int32_t x, int32_t y)
{
    for (const Rect& r : rects)
        if (r.right > r.left && x >= r.left && x <= r.right && y >= r.top && y <= r.bottom)
            return true;
    return false;
}

int64_t area(const std::vector<Rect>& rects)
{
    int64_t n = 0;
    for (const Rect& r : rects)
        n += int64_t{r.right - r.left + 1} * (r.bottom - r.top + 1);
    return n;
}

struct Case {
    int32_t sw, sh;
    uint8_t bpp;
};

class OutputChangesTest : public ::testing::TestWithParam<Case> {};

// Frame ticks as the MP4 and FLV coders run them: small changes all over the
// screen (edges included) and a cursor that moves every tick.
TEST_P(OutputChangesTest, EveryChangedPixelLiesInsideAReportedArea)
{
    const Case c = GetParam();
    SyntheticScreen screen(c.sw, c.sh, c.bpp);
    CursorImage cursor;
    cursor.serial = 5;
    cursor.width = 12;
    cursor.height = 18;
    cursor.argb.assign(12 * 18, 0xFFFFFFFF);
    screen.setCursor(cursor);
    screen.setPointer(c.sw / 2, c.sh / 2);
    uint64_t now = 100000;
    FrameGrabber g(screen, [&now] { return now; });
    ASSERT_EQ(g.init(Rect{}, 0, true), 1);
    CursorOverlay overlay(screen);
    overlay.setArea(g.captureArea());

    const int32_t w = g.width(), h = g.height();
    const size_t rowBytes = static_cast<size_t>(w) * (c.bpp / 8);
    std::vector<uint8_t> before;
    std::mt19937 random(7);
    for (int tick = 0; tick < 12; ++tick) {
        if (tick > 0) {
            for (int k = 0; k < 3; ++k) {
                const int32_t x = static_cast<int32_t>(random() % static_cast<uint32_t>(c.sw));
                const int32_t y = static_cast<int32_t>(random() % static_cast<uint32_t>(c.sh));
                screen.fill(Rect{x, y, x + 1 + static_cast<int32_t>(random() % 40), y + 1 + static_cast<int32_t>(random() % 30)},
                            random() & 0xFFFFFF);
            }
            screen.fill(Rect{c.sw - 3, c.sh - 2, c.sw, c.sh}, random() & 0xFFFFFF); // corner, 3 x 2
            screen.setPointer(static_cast<int32_t>(random() % static_cast<uint32_t>(c.sw)),
                              static_cast<int32_t>(random() % static_cast<uint32_t>(c.sh)));
            now += 40;
        }
        ASSERT_EQ(g.capture(false), 1);
        overlay.updateForBurnIn(screen.cursorSerial());
        ASSERT_EQ(overlay.burnIn(g), 1);
        ASSERT_EQ(g.scaleToOutput(), 1);
        const std::vector<Rect>& changes = g.outputChanges();
        const ScreenFrame& f = g.frame();
        if (tick == 0) {
            ASSERT_EQ(changes.size(), 1u);
            EXPECT_EQ(changes[0], (Rect{0, 0, w - 1, h - 1}));
        } else {
            int64_t changed = 0, outside = 0;
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* now_row = f.rowFromTop(y);
                const uint8_t* old_row = before.data() + static_cast<size_t>(y) * rowBytes;
                if (std::memcmp(now_row, old_row, rowBytes) == 0)
                    continue;
                for (int32_t x = 0; x < w; ++x) {
                    const size_t at = static_cast<size_t>(x) * (c.bpp / 8);
                    if (std::memcmp(now_row + at, old_row + at, c.bpp / 8) == 0)
                        continue;
                    ++changed;
                    if (!inside(changes, x, y)) {
                        ++outside;
                        ADD_FAILURE() << "tick " << tick << ": pixel " << x << "," << y << " changed unreported";
                        break;
                    }
                }
                if (outside > 3)
                    FAIL() << "giving up";
            }
            EXPECT_GT(changed, 0) << tick;
            // Five small changes and two cursor places: a sliver of the picture.
            EXPECT_LT(area(changes), int64_t{w} * h / 20) << tick;
            for (const Rect& r : changes)
                EXPECT_GT(r.right, r.left) << "a reader would skip this area";
        }
        before.resize(rowBytes * h);
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(before.data() + static_cast<size_t>(y) * rowBytes, f.rowFromTop(y), rowBytes);
        g.clearOutputChanges();
        ASSERT_EQ(overlay.restore(g), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, OutputChangesTest,
                         ::testing::Values(Case{1920, 1080, 32}, Case{2560, 1440, 32}, Case{1366, 768, 32},
                                           Case{1024, 768, 32}, Case{1920, 1080, 16}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                             return std::to_string(i.param.sw) + "x" + std::to_string(i.param.sh) + "_" +
                                 std::to_string(i.param.bpp);
                         });

TEST(OutputChanges, TooManyChangesBecomeTheWholePicture)
{
    SyntheticScreen screen(640, 480);
    FrameGrabber g(screen);
    ASSERT_EQ(g.init(Rect{}, 0, true), 1);
    ASSERT_EQ(g.capture(false), 1);
    ASSERT_EQ(g.scaleToOutput(), 1);
    g.clearOutputChanges();
    for (int i = 0; i < 100; ++i) {
        g.markCaptureChanged(Rect{i * 4, i * 4, i * 4 + 1, i * 4 + 1});
        ASSERT_EQ(g.scaleToOutput(), 1);
    }
    ASSERT_EQ(g.outputChanges().size(), 1u);
    EXPECT_EQ(g.outputChanges()[0], (Rect{0, 0, 639, 479}));
    g.release();
    EXPECT_TRUE(g.outputChanges().empty());
}

} // namespace
} // namespace quillet
