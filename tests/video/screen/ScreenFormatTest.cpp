// What the screen codec writes for the situations its format is made for
// (an unchanged region, a moved window, a full cache, video-like content),
// read back with the tests' own block-stream reader, and how a region that
// cannot be written leaves the codec.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "tests/video/screen/ScreenTestSupport.h"
#include "video/JpegTables.h"
#include "video/screen/ConvertedBlock.h"
#include "video/screen/RegionPieces.h"

namespace quillet::test {
namespace {

// A window of 48 x 32 pixels whose every 8x8 block looks different.
void drawWindow(TestFrame& f, int32_t x0, int32_t y0)
{
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 48; ++x) {
            const int block = (y / 8) * 6 + x / 8;
            const bool ink = ((x * 3 + y * 5 + block * 7) % 11) < 4;
            f.set(x0 + x, y0 + y, ink ? uint8_t(block * 9) : 240, ink ? 30 : 240, ink ? uint8_t(200 - block) : 240);
        }
}

std::string blockKey(const ScreenFrame& frame, int32_t x, int32_t y)
{
    uint8_t b[96];
    screen::convert_block(screen::block_source(frame), x, y, b);
    return std::string(reinterpret_cast<const char*>(b), 96);
}

// Independent random colours in every pixel.
void fillNoise(TestFrame& f, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < f.frame.height; ++y)
        for (int32_t x = 0; x < f.frame.width; ++x)
            f.set(x, y, uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
}

struct Coded {
    std::vector<uint8_t> bytes;
    ParsedRegion parsed;
};

Coded codeAndParse(ScreenCodec& codec, StreamTap& tap, const ScreenFrame& frame, const Rect& rect)
{
    Coded c;
    c.bytes.resize(codec.region_capacity(rect));
    c.bytes.resize(codec.code_region(frame, c.bytes.data(), c.bytes.size(), rect));
    EXPECT_GT(c.bytes.size(), 0u);
    EXPECT_TRUE(tap.parse(rect, frame.width, frame.height, c.bytes.data(), c.bytes.size(), c.parsed));
    return c;
}

TEST(ScreenFormat, AnUnchangedRegionCodedAgainIsOneHistoryByteABlock)
{
    TestFrame f(96, 64);
    f.fill(Rect{0, 0, 95, 63}, 60, 90, 130);
    drawWindow(f, 20, 12);
    ScreenCodec codec;
    ASSERT_EQ(codec.init(96, 64, 32), 1);
    StreamTap tap;
    const Rect all{0, 0, 95, 63};
    Coded first = codeAndParse(codec, tap, f.frame, all);
    Coded second = codeAndParse(codec, tap, f.frame, all);
    const size_t n = second.parsed.blocks.size();
    ASSERT_EQ(n, 12u * 8u);
    EXPECT_EQ(second.parsed.dctBytes, 0u);
    EXPECT_EQ(second.parsed.streamBytes, 2 + (n + 3) / 4 + n);
    // Every position's history got its first entry (index 0) from the first coding.
    for (const ParsedBlock& b : second.parsed.blocks) {
        EXPECT_EQ(b.code, 3) << b.x << "," << b.y;
        EXPECT_EQ(b.value, 0) << b.x << "," << b.y;
    }
    // The cache did not move: nothing new was stored.
    EXPECT_EQ(second.parsed.pos, first.parsed.pos + uint32_t(std::count_if(first.parsed.blocks.begin(), first.parsed.blocks.end(),
                                                                           [](const ParsedBlock& b) { return b.code == 0 || b.code == 2; })));
}

TEST(ScreenFormat, AMovedWindowIsCodedFromTheSlotsOfItsFirstAppearance)
{
    TestFrame before(128, 96), after(128, 96);
    before.fill(Rect{0, 0, 127, 95}, 60, 90, 130);
    after.fill(Rect{0, 0, 127, 95}, 60, 90, 130);
    drawWindow(before, 16, 16);
    drawWindow(after, 48, 40); // 32 right, 24 down: whole blocks
    ScreenCodec codec;
    ASSERT_EQ(codec.init(128, 96, 32), 1);
    StreamTap tap;
    const Rect all{0, 0, 127, 95};
    Coded first = codeAndParse(codec, tap, before.frame, all);

    // Slot of each new block's content, in storing order.
    std::map<std::string, int> slotOf;
    uint32_t next = first.parsed.pos;
    for (const ParsedBlock& b : first.parsed.blocks) {
        if (b.code == 0 || b.code == 2)
            slotOf.emplace(blockKey(before.frame, b.x, b.y), int(next++));
    }
    Coded moved = codeAndParse(codec, tap, after.frame, Rect{16, 16, 111, 79});
    int windowBlocks = 0;
    for (const ParsedBlock& b : moved.parsed.blocks) {
        if (b.x < 48 || b.x >= 96 || b.y < 40 || b.y >= 72)
            continue;
        ++windowBlocks;
        const auto it = slotOf.find(blockKey(after.frame, b.x, b.y));
        ASSERT_NE(it, slotOf.end());
        EXPECT_EQ(b.code, 1) << b.x << "," << b.y;
        EXPECT_EQ(b.value, it->second) << b.x << "," << b.y;
    }
    EXPECT_EQ(windowBlocks, 24);
}

// 64 x 32 pixels: 32 positions, so 32 cache slots.
TEST(ScreenFormat, BlocksOverwrittenInTheFullCacheAreStoredAgain)
{
    auto distinct = [](TestFrame& f, int seed) {
        for (int32_t y = 0; y < 32; ++y)
            for (int32_t x = 0; x < 64; ++x) {
                const int block = (y / 8) * 8 + x / 8;
                f.set(x, y, uint8_t(seed * 50 + block * 3), uint8_t((x % 8) * 20), uint8_t((y % 8) * 20 + seed));
            }
    };
    TestFrame a(64, 32), b(64, 32);
    distinct(a, 1);
    distinct(b, 2);
    ScreenCodec codec;
    ASSERT_EQ(codec.init(64, 32, 32), 1);
    ASSERT_EQ(codec.capacity(), 32u);
    ScreenDecoder decoder;
    ASSERT_EQ(decoder.init(64, 32), 1);
    StreamTap tap;
    const Rect all{0, 0, 63, 31};
    for (const TestFrame* f : {&a, &b, &a}) {
        Coded c = codeAndParse(codec, tap, f->frame, all);
        for (const ParsedBlock& blk : c.parsed.blocks)
            EXPECT_TRUE(blk.code == 0 || blk.code == 2) << "every block is new or its slot was reused, at " << blk.x << "," << blk.y;
        ASSERT_EQ(decoder.decode_region(all, c.bytes.data(), c.bytes.size()), 1) << decoder.last_error().reason;
        EXPECT_EQ(check_frame(f->frame, decoder.picture(), decoder.lossy_blocks()).mismatchedBlocks, 0u);
    }
    // Once more without a change: the history holds them again, apart from
    // the oldest slots, next in line for reuse (the left half, stored first).
    Coded again = codeAndParse(codec, tap, a.frame, Rect{32, 0, 63, 31});
    for (const ParsedBlock& blk : again.parsed.blocks)
        EXPECT_EQ(blk.code, 3);
}

TEST(ScreenFormat, SmallOrThinRectanglesAreNeverVideo)
{
    // Noise everywhere: any rectangle large enough counts as video.
    TestFrame f(400, 300);
    fillNoise(f, 5);
    ScreenCodec codec;
    ASSERT_EQ(codec.init(400, 300, 32), 1);
    const Rect thin{16, 16, 16 + 149, 16 + 8};    // 150 x 9
    const Rect small{16, 64, 16 + 99, 64 + 49};   // 100 x 50: w + h = 150
    const Rect big{0, 0, 159, 159};
    EXPECT_EQ(codec.natural_test(0, thin, f.frame), 0);
    EXPECT_EQ(codec.natural_test(1, small, f.frame), 0);
    codec.remember_rectangle(2, thin);
    EXPECT_EQ(codec.natural_test(2, thin, f.frame), 0) << "remembering does not make a thin rectangle video";
    EXPECT_EQ(codec.natural, 0);
    EXPECT_EQ(codec.natural_test(3, big, f.frame), 1);
    EXPECT_EQ(codec.remembered_rectangle(3), big);

    // A flat tile is not video, unless it is the rectangle the tile last had as video.
    TestFrame flat(400, 300);
    codec.natural = 0;
    EXPECT_EQ(codec.natural_test(4, big, flat.frame), 0);
    EXPECT_EQ(codec.natural_test(3, big, flat.frame), 1);
    codec.natural = 0;
    codec.remember_rectangle(3, Rect{});
    EXPECT_EQ(codec.natural_test(3, big, flat.frame), 0);
}

// A region that does not fit leaves the codec as it was: what follows is
// byte for byte what a codec that never tried would write.
TEST(ScreenFormat, ARegionThatDoesNotFitLeavesNoTrace)
{
    TestFrame f(256, 128);
    std::mt19937 rng(9);
    for (int32_t y = 0; y < 128; ++y)
        for (int32_t x = 0; x < 256; ++x) {
            const bool photo = x >= 128;
            const uint8_t v = uint8_t(photo ? rng() : ((x / 8 + y / 8) % 3) * 90);
            f.set(x, y, v, uint8_t(photo ? rng() : 40), uint8_t(255 - v));
        }
    ScreenCodec tried, fresh;
    ASSERT_EQ(tried.init(256, 128, 32), 1);
    ASSERT_EQ(fresh.init(256, 128, 32), 1);
    const Rect all{0, 0, 255, 127};
    std::vector<uint8_t> out(tried.region_capacity(all)), other(out.size());
    EXPECT_EQ(tried.code_region(f.frame, out.data(), 200, all), 0u);
    EXPECT_EQ(tried.code_region(f.frame, out.data(), 2000, all), 0u);
    for (const Rect& r : {Rect{0, 0, 127, 127}, Rect{128, 0, 255, 63}, Rect{0, 0, 255, 127}}) {
        const size_t a = tried.code_region(f.frame, out.data(), out.size(), r);
        const size_t b = fresh.code_region(f.frame, other.data(), other.size(), r);
        ASSERT_GT(a, 0u);
        ASSERT_EQ(a, b);
        EXPECT_EQ(std::memcmp(out.data(), other.data(), a), 0);
    }
}

TEST(ScreenFormat, ADctPartOverItsSixteenBitLengthFailsTheRegion)
{
    // 640 x 256 pixels of noise: DCT units far beyond 64 KiB.
    TestFrame f(640, 256);
    fillNoise(f, 13);
    ScreenCodec codec;
    ASSERT_EQ(codec.init(640, 256, 32), 1);
    ScreenDecoder decoder;
    ASSERT_EQ(decoder.init(640, 256), 1);
    const Rect all{0, 0, 639, 255};
    std::vector<uint8_t> out(codec.region_capacity(all));
    EXPECT_EQ(codec.code_region(f.frame, out.data(), out.size(), all), 0u);
    // In pieces they fit, and decode as if the failure never was.
    std::vector<uint8_t> buffer;
    int decoded = 0;
    const int pieces = code_region_pieces(codec, f.frame, all, 65500, buffer, [&](const Rect& r, const uint8_t* d, size_t n) {
        EXPECT_LE(n, 65500u);
        EXPECT_GT(size_t(d[0] | d[1] << 8), 2u);
        decoded += decoder.decode_region(r, d, n);
    });
    EXPECT_GT(pieces, 1);
    EXPECT_EQ(decoded, pieces) << decoder.last_error().reason;
    const FrameCheck check = check_frame(f.frame, decoder.picture(), decoder.lossy_blocks());
    EXPECT_EQ(check.exactBlocks, 0u);
    EXPECT_GT(check.lossyPsnr, 10.0); // noise survives the DCT only roughly
}

// A DCT unit whose samples vary only where the quantiser rounds everything
// away codes to a few bytes; it is kept as it is, not taken for no DCT data.
TEST(ScreenFormat, AVeryShortDctPartIsKept)
{
    TestFrame f(16, 16);
    // Grey blocks of high-frequency ripples: more than 24 distinct values,
    // yet every coefficient is below half its quantiser step.
    const double pi = std::acos(-1.0);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            double v = 128;
            for (int u = 4; u < 8; ++u)
                for (int w = 4; w < 8; ++w) {
                    const double entry = (kJpegLumaQuant[u * 8 + w] * 50 + 50) / 100;
                    const double sign = ((u * 3 + w * 5 + (x / 8) * 2 + y / 8) % 4) == 0 ? -1 : 1;
                    v += sign * 0.3 * entry / 4 * std::cos((2 * (y % 8) + 1) * u * pi / 16) *
                         std::cos((2 * (x % 8) + 1) * w * pi / 16);
                }
            const uint8_t g = uint8_t(std::lround(v));
            f.set(x, y, g, g, g);
        }
    ScreenCodec codec;
    ASSERT_EQ(codec.init(16, 16, 32), 1);
    StreamTap tap;
    const Rect all{0, 0, 15, 15};
    Coded c = codeAndParse(codec, tap, f.frame, all);
    ASSERT_EQ(c.parsed.blocks.size(), 4u);
    for (const ParsedBlock& b : c.parsed.blocks)
        ASSERT_EQ(b.code, 2);
    EXPECT_GT(c.parsed.dctBytes, 0u);
    EXPECT_LT(c.parsed.dctBytes, 5u);
    ScreenDecoder decoder;
    ASSERT_EQ(decoder.init(16, 16), 1);
    ASSERT_EQ(decoder.decode_region(all, c.bytes.data(), c.bytes.size()), 1) << decoder.last_error().reason;
    EXPECT_GT(check_frame(f.frame, decoder.picture(), decoder.lossy_blocks()).framePsnr, 30.0);
}

} // namespace
} // namespace quillet::test

namespace quillet::test {
namespace {

TEST(ScreenFormat, SetUpRefusesWhatTheCodecDoesNotCode)
{
    ScreenCodec codec;
    EXPECT_EQ(codec.init(320, 240, 32, ScreenCodec::kCodeMode, ScreenCodec::kSwfCodecDepth), 0)
        << "the SWF block path is not built";
    EXPECT_FALSE(codec.ready());
    EXPECT_EQ(codec.init(320, 240, 8), 0);
    EXPECT_EQ(codec.init(0, 240, 32), 0);
    TestFrame f(320, 240);
    std::vector<uint8_t> out(1 << 16);
    EXPECT_EQ(codec.code_region(f.frame, out.data(), out.size(), Rect{0, 0, 15, 15}), 0u);

    // A decoding codec does not code, and a coding one does not decode.
    ASSERT_EQ(codec.init(320, 240, 32, ScreenCodec::kDecodeMode), 1);
    EXPECT_EQ(codec.code_region(f.frame, out.data(), out.size(), Rect{0, 0, 15, 15}), 0u);
    ASSERT_EQ(codec.init(320, 240, 32, ScreenCodec::kCodeMode), 1);
    const size_t n = codec.code_region(f.frame, out.data(), out.size(), Rect{0, 0, 15, 15});
    ASSERT_GT(n, 0u);
    ScreenPicture picture;
    picture.allocate(320, 240);
    EXPECT_EQ(codec.decode_region(Rect{0, 0, 15, 15}, out.data(), n, picture), 0);
    EXPECT_EQ(int(codec.last_error().part), int(ScreenDataPart::Call));
}

TEST(ScreenFormat, FiveSixFiveFramesKeepTheirSixthGreenBit)
{
    // Two greens that differ only in the low bit of a 6-bit field.
    TestFrame f(16, 8, 16);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const uint16_t v = uint16_t((x < 8 ? 40 : 41) << 5);
            std::memcpy(f.bits.data() + size_t(7 - y) * 32 + size_t(x) * 2, &v, 2);
        }
    ScreenCodec codec;
    codec.set_16bit_layout(Pixel16Layout::Rgb565);
    ASSERT_EQ(codec.init(16, 8, 16), 1);
    StreamTap tap;
    Coded c = codeAndParse(codec, tap, f.frame, Rect{0, 0, 15, 7});
    ASSERT_EQ(c.parsed.blocks.size(), 2u);
    EXPECT_EQ(c.parsed.blocks[0].code, 0);
    EXPECT_EQ(c.parsed.blocks[1].code, 0) << "as 5-5-5 both blocks would look alike";
    ScreenDecoder decoder;
    ASSERT_EQ(decoder.init(16, 8), 1);
    ASSERT_EQ(decoder.decode_region(Rect{0, 0, 15, 7}, c.bytes.data(), c.bytes.size()), 1);
    EXPECT_NEAR(decoder.picture().row_from_top(0)[1], 160, 2);     // green 40 << 2
    EXPECT_NEAR(decoder.picture().row_from_top(0)[8 * 4 + 1], 164, 2); // green 41 << 2
}

} // namespace
} // namespace quillet::test
