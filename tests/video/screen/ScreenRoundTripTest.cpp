// Round trips through the screen codec: a scripted desktop recorded frame by
// frame and decoded at once, at every screen depth and at odd sizes.
#include <gtest/gtest.h>

#include "tests/video/screen/DesktopScene.h"
#include "tests/video/screen/ScreenTestSupport.h"

namespace quillet::test {
namespace {

struct Case {
    int32_t width;
    int32_t height;
    int bpp;
};

class ScreenRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(ScreenRoundTrip, EveryFrameDecodesToWhatWasCaptured)
{
    const Case c = GetParam();
    DesktopScene scene(c.width, c.height, c.bpp);
    Recorder rec(c.width, c.height, c.bpp);
    ASSERT_TRUE(rec.ok());
    for (int t = 0; t < 40; ++t)
        rec.frame(scene.draw(t), t);
    const RecordTotals& r = rec.totals();
    EXPECT_EQ(r.firstError, "");
    EXPECT_EQ(r.worst.mismatchedBlocks, 0u);
    EXPECT_GT(r.worst.lossyBlocks, 0u) << "the video-like picture should be coded lossily";
    EXPECT_GT(r.worst.lossyPsnr, 28.0);
    EXPECT_GT(r.worst.framePsnr, 30.0);
    std::printf("%dx%d@%d: %zu region bytes, %zu side bytes in %zu packets, natural frames %zu, lossy psnr %.1f, frame psnr %.1f\n",
                c.width, c.height, c.bpp, r.regionBytes, r.sideBytes, r.sidePackets, r.naturalFrames,
                r.worst.lossyPsnr, r.worst.framePsnr);
}

INSTANTIATE_TEST_SUITE_P(Depths, ScreenRoundTrip,
                         ::testing::Values(Case{640, 480, 32}, Case{320, 240, 32}, Case{320, 240, 24}, Case{320, 240, 16},
                                           Case{331, 203, 32}, Case{203, 331, 24}, Case{141, 77, 16}));

} // namespace
} // namespace quillet::test
