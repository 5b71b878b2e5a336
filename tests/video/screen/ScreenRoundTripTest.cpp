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
    EXPECT_EQ(r.failedRegions, 0u);
    EXPECT_EQ(r.worst.mismatchedBlocks, 0u);
    EXPECT_GT(r.worst.lossyBlocks, 0u) << "the video-like picture should be coded lossily";
    // DCT and H.264 units next to sharp window edges ring; misplaced or
    // mis-transformed units fall far below these.
    EXPECT_GT(r.worst.lossyPsnr, 24.0);
    EXPECT_GT(r.worst.framePsnr, 30.0);
    if (c.width >= 640) {
        EXPECT_GT(r.sidePackets, 0u) << "the video-like picture should travel as H.264 side data";
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, ScreenRoundTrip,
                         ::testing::Values(Case{640, 480, 32}, Case{320, 240, 32}, Case{320, 240, 24}, Case{320, 240, 16},
                                           Case{331, 203, 32}, Case{203, 331, 24}, Case{141, 77, 16}));

} // namespace
} // namespace quillet::test

namespace quillet::test {
namespace {

// One key-frame region of the whole scene, and its block stream.
struct KeyRegion {
    ScreenFrame frame;
    Rect rect;
    std::vector<uint8_t> bytes;
    ParsedRegion parsed;
};

KeyRegion codeKeyRegion(DesktopScene& scene)
{
    KeyRegion k;
    k.frame = scene.draw(0);
    k.rect = Rect{0, 0, scene.width() - 1, scene.height() - 1};
    ScreenCodec coder;
    EXPECT_EQ(coder.init(scene.width(), scene.height(), k.frame.bitsPerPixel), 1);
    k.bytes.resize(coder.region_capacity(k.rect));
    k.bytes.resize(coder.code_region(k.frame, k.bytes.data(), k.bytes.size(), k.rect));
    StreamTap tap;
    EXPECT_TRUE(tap.parse(k.rect, scene.width(), scene.height(), k.bytes.data(), k.bytes.size(), k.parsed));
    return k;
}

// The region again, with its block stream replaced.
std::vector<uint8_t> withStream(const KeyRegion& k, const std::vector<uint8_t>& stream)
{
    const std::vector<uint8_t> dct(k.bytes.begin() + 2, k.bytes.begin() + 2 + ptrdiff_t(k.parsed.dctBytes));
    return craft_region(stream, dct);
}

size_t mismatches(const KeyRegion& k, const std::vector<uint8_t>& region, bool* decoded)
{
    ScreenDecoder decoder;
    EXPECT_EQ(decoder.init(k.frame.width, k.frame.height), 1);
    *decoded = decoder.decode_region(k.rect, region.data(), region.size()) == 1;
    return check_frame(k.frame, decoder.picture(), decoder.lossy_blocks()).mismatchedBlocks;
}

TEST(ScreenRoundTripCheck, OneChangedSampleOrBlockCodeIsCaught)
{
    DesktopScene scene(160, 96, 32, SceneParts{true, false, true, false});
    const KeyRegion k = codeKeyRegion(scene);
    ASSERT_GT(k.bytes.size(), 0u);
    bool decoded = false;
    ASSERT_EQ(mismatches(k, withStream(k, k.parsed.stream), &decoded), 0u);
    ASSERT_TRUE(decoded);

    // The first raw block and where its samples are.
    size_t payload = 2 + (k.parsed.blocks.size() + 3) / 4;
    size_t rawIndex = 0;
    for (; rawIndex < k.parsed.blocks.size() && k.parsed.blocks[rawIndex].code != 0; ++rawIndex)
        payload += k.parsed.blocks[rawIndex].code == 1 ? 2 : k.parsed.blocks[rawIndex].code == 3 ? 1 : 0;
    ASSERT_LT(rawIndex, k.parsed.blocks.size());

    std::vector<uint8_t> sample = k.parsed.stream;
    sample[payload + 9] ^= 0x10; // one Y sample of that block (and of every later copy of it)
    EXPECT_GE(mismatches(k, withStream(k, sample), &decoded), 1u);
    EXPECT_TRUE(decoded);

    // Its code turned from raw into a history reference: rejected, or at least wrong.
    std::vector<uint8_t> code = k.parsed.stream;
    code[2 + rawIndex / 4] |= uint8_t(3 << (6 - 2 * (rawIndex % 4)));
    const size_t wrong = mismatches(k, withStream(k, code), &decoded);
    EXPECT_TRUE(!decoded || wrong > 0);
}

} // namespace
} // namespace quillet::test
