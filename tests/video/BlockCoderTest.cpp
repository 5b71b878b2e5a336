// Change tightening, the 24-bit region copy, lossless tiles and the 5-5-5
// expansion, over 16-, 24- and 32-bit frames.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/ScreenFrame.h"
#include "tests/video/ImageTestSupport.h"
#include "video/BlockCoder.h"

namespace quillet {
namespace {

// A bottom-up frame that owns its pixels.
struct TestFrame {
    std::vector<uint8_t> bits;
    ScreenFrame frame;

    TestFrame(int w, int h, int bpp, uint8_t fill = 0)
    {
        bits.assign(size_t(w) * h * (bpp / 8), fill);
        frame.width = w;
        frame.height = h;
        frame.bitsPerPixel = uint8_t(bpp);
        frame.bits = bits.data();
        frame.stride = w * (bpp / 8);
        frame.imageSize = uint32_t(bits.size());
    }
    uint8_t* at(int x, int y) { return frame.rowFromTop(y) + x * (frame.bitsPerPixel / 8); }
    void touch(int x, int y) { at(x, y)[0] ^= 0x08; }
};

class TightenByDepth : public ::testing::TestWithParam<int> {};

TEST_P(TightenByDepth, OnePixelShrinksToItsNeighbourhood)
{
    TestFrame f(640, 480, GetParam());
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Jpeg), 1);
    Rect r[1] = {{0, 0, 63, 63}};
    EXPECT_EQ(coder.tighten(f.frame, r, 1), 0); // a black frame against a zeroed previous frame
    f.touch(10, 20);
    r[0] = {0, 0, 63, 63};
    ASSERT_EQ(coder.tighten(f.frame, r, 1), 1);
    EXPECT_EQ(r[0], (Rect{10, 20, 12, 22}));
}

TEST_P(TightenByDepth, SideBySideBlocksMerge)
{
    TestFrame f(640, 480, GetParam());
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Jpeg), 1);
    for (int y = 0; y <= 15; ++y)
        for (int x = 0; x <= 15; ++x)
            f.touch(x, y);
    for (int y = 2; y <= 17; ++y)
        for (int x = 17; x <= 31; ++x)
            f.touch(x, y);
    Rect r[2] = {{0, 0, 15, 15}, {16, 0, 31, 31}};
    ASSERT_EQ(coder.tighten(f.frame, r, 2), 1);
    EXPECT_EQ(r[0], (Rect{0, 0, 33, 19}));
}

TEST_P(TightenByDepth, StackedBlocksMergeVertically)
{
    TestFrame f(128, 64, GetParam());
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Jpeg), 1);
    for (int y = 0; y <= 31; ++y)
        for (int x = 0; x <= 15; ++x)
            f.touch(x, y);
    f.touch(100, 50); // stays on its own
    Rect r[3] = {{0, 0, 15, 15}, {0, 16, 15, 31}, {96, 48, 111, 63}};
    ASSERT_EQ(coder.tighten(f.frame, r, 3), 2);
    EXPECT_EQ(r[0], (Rect{0, 0, 17, 33}));
    EXPECT_EQ(r[1], (Rect{100, 50, 102, 52}));
}

INSTANTIATE_TEST_SUITE_P(Depths, TightenByDepth, ::testing::Values(16, 24, 32));

TEST(Tighten, UnchangedRectanglesVanishButThePreviousFrameIsRefreshed)
{
    TestFrame f(64, 64, 32);
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Jpeg), 1);
    f.touch(40, 40);
    Rect r[2] = {{0, 0, 15, 15}, {BlockCoder::kDeleted, 0, 63, 63}};
    EXPECT_EQ(coder.tighten(f.frame, r, 2), 0);
    r[0] = {32, 32, 47, 47};
    EXPECT_EQ(coder.tighten(f.frame, r, 1), 0); // the change was taken in already
}

TEST(Tighten, LosslessModeSeesEveryPixelChangedFirst)
{
    TestFrame f(64, 32, 24, 0xFF);
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Lossless), 1);
    f.at(5, 7)[1] = 0xFE; // the only pixel that differs from all-0xFF bytes
    Rect r[1] = {{0, 0, 63, 31}};
    ASSERT_EQ(coder.tighten(f.frame, r, 1), 1);
    EXPECT_EQ(r[0], (Rect{5, 7, 7, 9}));

    TestFrame black(64, 32, 16);
    ASSERT_EQ(coder.init(black.frame, TileCoding::Lossless), 1);
    r[0] = {0, 0, 63, 31};
    ASSERT_EQ(coder.tighten(black.frame, r, 1), 1);
    EXPECT_EQ(r[0], (Rect{0, 0, 63, 31}));
}

// A change in the last column or row must not yield a rectangle that ends
// one past the frame, which an inclusive reader would overrun.
TEST(Tighten, ResultsStayInsideTheFrame)
{
    TestFrame f(64, 48, 32);
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Jpeg), 1);
    f.touch(63, 47);
    f.touch(62, 0);
    Rect r[2] = {{48, 32, 63, 47}, {48, 0, 63, 15}};
    ASSERT_EQ(coder.tighten(f.frame, r, 2), 2);
    EXPECT_EQ(r[0], (Rect{63, 47, 63, 47}));
    EXPECT_EQ(r[1], (Rect{62, 0, 63, 2}));
}

// Rectangles from a confused caller are clipped, not trusted.
TEST(Tighten, ClipsRectanglesToTheFrame)
{
    TestFrame f(64, 48, 16);
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Jpeg), 1);
    f.touch(60, 45);
    f.touch(0, 0);
    Rect r[3] = {{48, 32, 200, 300}, {-20, -20, 3, 3}, {500, 500, 600, 600}};
    ASSERT_EQ(coder.tighten(f.frame, r, 3), 2);
    EXPECT_EQ(r[0], (Rect{60, 45, 62, 47}));
    EXPECT_EQ(r[1], (Rect{0, 0, 2, 2}));

    TestFrame other(32, 48, 16);
    Rect s[1] = {{0, 0, 31, 47}};
    EXPECT_EQ(coder.tighten(other.frame, s, 1), 0); // not the geometry it was set up for
}

TEST(Tighten, FindsChangesInEveryByteOfAPixel)
{
    for (int bpp : {16, 24, 32}) {
        for (int byte = 0; byte < bpp / 8; ++byte) {
            TestFrame f(32, 16, bpp);
            BlockCoder coder;
            ASSERT_EQ(coder.init(f.frame, TileCoding::Jpeg), 1);
            f.at(9, 4)[byte] = 1;
            Rect r[1] = {{0, 0, 31, 15}};
            ASSERT_EQ(coder.tighten(f.frame, r, 1), 1) << bpp << "/" << byte;
            EXPECT_EQ(r[0], (Rect{9, 4, 11, 6})) << bpp << "/" << byte;
        }
    }
}

TEST(BlockCoder, InitRefusesPalettedFrames)
{
    TestFrame f(32, 16, 8);
    BlockCoder coder;
    EXPECT_EQ(coder.init(f.frame, TileCoding::Lossless), 0);
    EXPECT_FALSE(coder.ready());
    std::vector<uint8_t> out(1000);
    EXPECT_EQ(coder.code_lossless_tile(f.frame, out.data(), out.size(), Rect{0, 0, 3, 3}), 0u);
    EXPECT_EQ(coder.tileJpegQuality, 90);
    EXPECT_EQ(coder.work_buffer_size(), 0u);

    TestFrame g(32, 16, 32);
    ASSERT_EQ(coder.init(g.frame, TileCoding::Jpeg), 1);
    EXPECT_EQ(coder.work_buffer_size(), 64u * 64 * 3);
    EXPECT_EQ(coder.placedImageCount, 0);
}

TEST(ToBgr24, CopiesARegionBottomUpWithPaddedRows)
{
    for (int bpp : {16, 24, 32}) {
        TestFrame f(16, 8, bpp);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x) {
                uint8_t* p = f.at(x, y);
                if (bpp == 16) {
                    const uint16_t v = uint16_t((x << 10) | (y << 5) | 3 | 0x8000);
                    p[0] = uint8_t(v);
                    p[1] = uint8_t(v >> 8);
                } else {
                    p[0] = uint8_t(3 << 3);
                    p[1] = uint8_t(y << 3);
                    p[2] = uint8_t(x << 3);
                    if (bpp == 32)
                        p[3] = 0xEE;
                }
            }
        // Region x 2..6 (5 pixels, 15 bytes -> 16 with padding), rows 1..3.
        std::vector<uint8_t> out(BlockCoder::bgr24Size(5, 3) + 8, 0xA5);
        ASSERT_EQ(BlockCoder::bgr24Size(5, 3), 48u);
        BlockCoder coder;
        ASSERT_EQ(coder.to_bgr24(f.frame, out.data(), 48, 2, 1, 5, 3), 1) << bpp;
        for (int j = 0; j < 3; ++j) {
            const int y = 3 - j; // first stored row is the region's bottom
            for (int i = 0; i < 5; ++i) {
                const uint8_t* d = &out[size_t(j) * 16 + size_t(i) * 3];
                EXPECT_EQ(d[0], 3 << 3) << bpp;
                EXPECT_EQ(d[1], y << 3) << bpp;
                EXPECT_EQ(d[2], (2 + i) << 3) << bpp;
            }
            EXPECT_EQ(out[size_t(j) * 16 + 15], 0);
        }
        EXPECT_EQ(out[48], 0xA5);

        EXPECT_EQ(coder.to_bgr24(f.frame, out.data(), 47, 2, 1, 5, 3), 0);
        EXPECT_EQ(coder.to_bgr24(f.frame, out.data(), 48, 12, 1, 5, 3), 0);
        EXPECT_EQ(coder.to_bgr24(f.frame, out.data(), 48, -1, 1, 5, 3), 0);
        EXPECT_EQ(coder.to_bgr24(f.frame, out.data(), 48, 3, 3, 0, 2), 0);
    }
}

TEST(LosslessTile, OneWhitePixel)
{
    for (int bpp : {16, 24, 32}) {
        TestFrame f(16, 16, bpp, 0xFF);
        if (bpp == 16)
            for (size_t i = 1; i < f.bits.size(); i += 2)
                f.bits[i] = 0x7F; // 0x7FFF: the brightest 5-5-5 white expands to F8
        BlockCoder coder;
        ASSERT_EQ(coder.init(f.frame, TileCoding::Lossless), 1);
        std::vector<uint8_t> out(1000);
        const size_t n = coder.code_lossless_tile(f.frame, out.data(), out.size(), Rect{3, 4, 3, 4});
        ASSERT_GT(n, 0u);
        std::vector<uint8_t> raw;
        ASSERT_TRUE(test::inflateAll(out.data(), n, raw));
        const uint8_t c = bpp == 16 ? 0xF8 : 0xFF;
        EXPECT_EQ(raw, (std::vector<uint8_t>{0xFF, c, c, c})) << bpp;
    }
}

TEST(LosslessTile, RowsTopDownAsAlphaRedGreenBlue)
{
    TestFrame f(32, 16, 32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            uint8_t* p = f.at(x, y);
            p[0] = uint8_t(x);     // blue
            p[1] = uint8_t(y);     // green
            p[2] = uint8_t(x + y); // red
        }
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Lossless), 1);
    std::vector<uint8_t> out(4000);
    const size_t n = coder.code_lossless_tile(f.frame, out.data(), out.size(), Rect{4, 2, 9, 5});
    ASSERT_GT(n, 0u);
    std::vector<uint8_t> raw;
    ASSERT_TRUE(test::inflateAll(out.data(), n, raw));
    ASSERT_EQ(raw.size(), 6u * 4 * 4);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 6; ++i) {
            const uint8_t* p = &raw[size_t(j * 6 + i) * 4];
            EXPECT_EQ(p[0], 0xFF);
            EXPECT_EQ(p[1], 4 + i + 2 + j);
            EXPECT_EQ(p[2], 2 + j);
            EXPECT_EQ(p[3], 4 + i);
        }
    // Each tile is a stream of its own: a second call gives the same bytes.
    std::vector<uint8_t> again(4000);
    ASSERT_EQ(coder.code_lossless_tile(f.frame, again.data(), again.size(), Rect{4, 2, 9, 5}), n);
    EXPECT_EQ(std::memcmp(out.data(), again.data(), n), 0);
}

TEST(LosslessTile, FailsCleanlyWhenItDoesNotFit)
{
    TestFrame f(64, 64, 24);
    const test::Bgr24Image noise = test::makeNoise(64, 64, 3);
    std::memcpy(f.bits.data(), noise.bytes.data(), f.bits.size());
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Lossless), 1);
    std::vector<uint8_t> out(64 * 64 * 4 + 1000, 0xA5);
    const size_t n = coder.code_lossless_tile(f.frame, out.data(), out.size(), Rect{0, 0, 63, 63});
    ASSERT_GT(n, 0u);
    for (size_t cap : {size_t(0), size_t(10), n / 2, n - 1}) {
        std::fill(out.begin(), out.end(), 0xA5);
        EXPECT_EQ(coder.code_lossless_tile(f.frame, out.data(), cap, Rect{0, 0, 63, 63}), 0u) << cap;
        for (size_t i = cap; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xA5) << cap;
    }
    EXPECT_EQ(coder.code_lossless_tile(f.frame, out.data(), out.size(), Rect{60, 60, 64, 63}), 0u);

    BlockCoder jpegMode;
    ASSERT_EQ(jpegMode.init(f.frame, TileCoding::Jpeg), 1);
    EXPECT_EQ(jpegMode.code_lossless_tile(f.frame, out.data(), out.size(), Rect{0, 0, 3, 3}), 0u);
    BlockCoder fresh;
    EXPECT_EQ(fresh.code_lossless_tile(f.frame, out.data(), out.size(), Rect{0, 0, 3, 3}), 0u);
}

TEST(Expand555, PrimariesAndWhite)
{
    TestFrame f(16, 16, 16);
    const uint16_t values[3] = {0x7FFF, 0x001F, 0x7C00};
    for (int i = 0; i < 3; ++i) {
        f.bits[size_t(i) * 2] = uint8_t(values[i]);
        f.bits[size_t(i) * 2 + 1] = uint8_t(values[i] >> 8);
    }
    BlockCoder coder;
    ASSERT_EQ(coder.init(f.frame, TileCoding::Jpeg), 1);
    const uint8_t* out = coder.expand_rgb555(f.frame);
    ASSERT_NE(out, nullptr);
    const uint8_t expect[3][3] = {{0xF8, 0xF8, 0xF8}, {0xF8, 0x00, 0x00}, {0x00, 0x00, 0xF8}};
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(out[i * 4 + c], expect[i][c]) << i << "/" << c;

    TestFrame deep(16, 16, 32);
    ASSERT_EQ(coder.init(deep.frame, TileCoding::Jpeg), 1);
    EXPECT_EQ(coder.expand_rgb555(deep.frame), nullptr);
}

} // namespace
} // namespace quillet
