#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "video/ColorConvert.h"

namespace quillet {
namespace {

struct Bgr {
    uint8_t b, g, r;
};

// A bottom-up packed frame whose pixel at upright (x, y) is set by the caller.
struct Frame {
    Frame(PixelLayout l, int32_t w, int32_t h) : layout(l), width(w), height(h), bpp(bytes_per_pixel(l))
    {
        bytes.assign(static_cast<size_t>(w) * h * bpp, 0);
    }
    uint8_t* at(int32_t x, int32_t y) { return bytes.data() + (static_cast<size_t>(height - 1 - y) * width + x) * bpp; }
    void set(int32_t x, int32_t y, Bgr c)
    {
        uint8_t* p = at(x, y);
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    }
    void fill(Bgr c)
    {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                set(x, y, c);
    }
    PixelLayout layout;
    int32_t width, height, bpp;
    std::vector<uint8_t> bytes;
};

I420Picture convert(Frame& f, bool bottom_up = true)
{
    I420Picture pic;
    EXPECT_EQ(pic.allocate(f.width, f.height), 1);
    EXPECT_EQ(convert_to_i420(f.bytes.data(), f.layout, f.width, f.height, bottom_up, pic.planes()), 1);
    return pic;
}

class I420ConvertTest : public ::testing::TestWithParam<PixelLayout> {};

TEST_P(I420ConvertTest, PrimaryColoursGiveStudioRangeValues)
{
    struct Case {
        Bgr colour;
        uint8_t y, u, v;
    };
    const Case cases[] = {
        {{255, 255, 255}, 235, 128, 128}, // white
        {{0, 0, 0}, 16, 128, 128},        // black
        {{0, 0, 255}, 81, 90, 239},       // red
        {{255, 0, 0}, 40, 239, 110},      // blue
        {{0, 255, 0}, 144, 54, 34},       // green
    };
    for (const Case& c : cases) {
        Frame f(GetParam(), 2, 2);
        f.fill(c.colour);
        const I420Picture pic = convert(f);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(pic.y()[i], c.y);
        EXPECT_EQ(pic.u()[0], c.u);
        EXPECT_EQ(pic.v()[0], c.v);
    }
}

TEST_P(I420ConvertTest, BottomUpFrameComesOutUpright)
{
    Frame f(GetParam(), 4, 4);
    // The last stored row of a bottom-up frame is the top row of the picture.
    for (int x = 0; x < 4; ++x)
        f.set(x, 0, {0, 0, 255});
    const I420Picture pic = convert(f);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pic.y()[y * 4 + x], y == 0 ? 81 : 16) << x << "," << y;

    // Without the flag, rows are taken in stored order: the red row ends up last.
    const I420Picture stored = convert(f, false);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(stored.y()[x], 16);
        EXPECT_EQ(stored.y()[12 + x], 81);
    }
}

// Per-pixel reference in upright coordinates, written independently of the kernels.
TEST_P(I420ConvertTest, RandomFrameMatchesFormulaAtEveryPosition)
{
    std::mt19937 rng(7);
    Frame f(GetParam(), 22, 6);
    for (auto& b : f.bytes)
        b = static_cast<uint8_t>(rng());
    const I420Picture pic = convert(f);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const uint8_t* p = f.at(x, y);
            EXPECT_EQ(pic.y()[y * f.width + x], ((66 * p[2] + 129 * p[1] + 25 * p[0]) >> 8) + 16);
        }
    for (int by = 0; by < f.height / 2; ++by)
        for (int bx = 0; bx < f.width / 2; ++bx) {
            int sb = 0, sg = 0, sr = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const uint8_t* p = f.at(2 * bx + dx, 2 * by + dy);
                    sb += p[0];
                    sg += p[1];
                    sr += p[2];
                }
            const int u = (112 * sb - 74 * sg - 38 * sr);
            const int v = (112 * sr - 94 * sg - 18 * sb);
            // Floor division, written without relying on >> of negatives.
            auto floor1024 = [](int n) { return n >= 0 ? n / 1024 : -((-n + 1023) / 1024); };
            EXPECT_EQ(pic.u()[by * f.width / 2 + bx], floor1024(u) + 128);
            EXPECT_EQ(pic.v()[by * f.width / 2 + bx], floor1024(v) + 128);
        }
}

INSTANTIATE_TEST_SUITE_P(Layouts, I420ConvertTest, ::testing::Values(PixelLayout::Bgr24, PixelLayout::Bgra32),
                         [](const auto& info) { return info.param == PixelLayout::Bgr24 ? "Bgr24" : "Bgra32"; });

TEST(I420Convert, FourthByteOfBgra32IsIgnored)
{
    std::mt19937 rng(3);
    Frame a(PixelLayout::Bgra32, 66, 4);
    for (auto& b : a.bytes)
        b = static_cast<uint8_t>(rng());
    Frame b = a;
    for (size_t i = 3; i < b.bytes.size(); i += 4)
        b.bytes[i] = static_cast<uint8_t>(~b.bytes[i]);
    const I420Picture pa = convert(a), pb = convert(b);
    EXPECT_EQ(0, std::memcmp(pa.data(), pb.data(), pa.size()));
}

TEST(I420Convert, RefusesUnusableArgumentsWithoutWriting)
{
    std::vector<uint8_t> src(64 * 4, 0x80);
    I420Picture pic;
    ASSERT_EQ(pic.allocate(4, 4), 1);
    std::memset(pic.data(), 0x55, pic.size());
    EXPECT_EQ(convert_to_i420(src.data(), PixelLayout::Bgra32, 3, 4, true, pic.planes()), 0);
    EXPECT_EQ(convert_to_i420(src.data(), PixelLayout::Bgra32, 4, 0, true, pic.planes()), 0);
    EXPECT_EQ(convert_to_i420(src.data(), PixelLayout::Bgra32, -4, 4, true, pic.planes()), 0);
    EXPECT_EQ(convert_to_i420(nullptr, PixelLayout::Bgra32, 4, 4, true, pic.planes()), 0);
    EXPECT_EQ(convert_to_i420(src.data(), PixelLayout::I420, 4, 4, true, pic.planes()), 0);
    EXPECT_EQ(convert_to_i420(src.data(), PixelLayout::Bgra32, 4, 4, true, I420Planes{}), 0);
    EXPECT_EQ(copy_i420(src.data(), 4, 5, true, pic.planes()), 0);
    for (size_t i = 0; i < pic.size(); ++i)
        ASSERT_EQ(pic.data()[i], 0x55);
    EXPECT_EQ(pic.allocate(5, 4), 0);
    EXPECT_TRUE(pic.empty());
}

TEST(I420Copy, FlipsEveryPlaneWhenBottomUp)
{
    const int32_t w = 6, h = 4;
    std::vector<uint8_t> src(I420Picture::byte_size(w, h));
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i);
    I420Picture flipped, straight;
    ASSERT_EQ(flipped.allocate(w, h), 1);
    ASSERT_EQ(straight.allocate(w, h), 1);
    ASSERT_EQ(copy_i420(src.data(), w, h, true, flipped.planes()), 1);
    ASSERT_EQ(copy_i420(src.data(), w, h, false, straight.planes()), 1);
    EXPECT_EQ(0, std::memcmp(straight.data(), src.data(), src.size()));
    for (int y = 0; y < h; ++y)
        EXPECT_EQ(0, std::memcmp(flipped.y() + y * w, src.data() + (h - 1 - y) * w, w));
    // The picture form follows the picture's own flag.
    I420Picture whole, again;
    ASSERT_EQ(whole.allocate(w, h), 1);
    ASSERT_EQ(again.allocate(w, h), 1);
    std::memcpy(whole.data(), src.data(), src.size());
    whole.bottom_up = true;
    ASSERT_EQ(copy_i420(whole, again.planes()), 1);
    EXPECT_EQ(0, std::memcmp(again.data(), flipped.data(), src.size()));
    EXPECT_EQ(copy_i420(I420Picture{}, again.planes()), 0);
    const uint8_t* su = src.data() + w * h;
    const uint8_t* sv = su + w * h / 4;
    for (int y = 0; y < h / 2; ++y) {
        EXPECT_EQ(0, std::memcmp(flipped.u() + y * w / 2, su + (h / 2 - 1 - y) * w / 2, w / 2));
        EXPECT_EQ(0, std::memcmp(flipped.v() + y * w / 2, sv + (h / 2 - 1 - y) * w / 2, w / 2));
    }
}

TEST(Rgb555Expander, ExpandsComponentsWithoutReplicatingHighBits)
{
    const uint16_t words[] = {0x7FFF, 0x001F, 0x7C00, 0x03E0, 0x8000, 0x0421};
    const uint8_t expected[][3] = {
        {0xF8, 0xF8, 0xF8}, {0xF8, 0, 0}, {0, 0, 0xF8}, {0, 0xF8, 0}, {0, 0, 0}, {0x08, 0x08, 0x08},
    };
    Rgb555Expander ex;
    EXPECT_EQ(ex.expand_rgb555(reinterpret_cast<const uint8_t*>(words)), 0); // no size yet
    ASSERT_EQ(ex.set_size(6, 1), 1);
    uint8_t src[12];
    for (int i = 0; i < 6; ++i) {
        src[2 * i] = static_cast<uint8_t>(words[i]);
        src[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    ASSERT_EQ(ex.expand_rgb555(src), 1);
    ASSERT_EQ(ex.size(), 24u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ex.data()[4 * i], expected[i][0]) << i;
        EXPECT_EQ(ex.data()[4 * i + 1], expected[i][1]) << i;
        EXPECT_EQ(ex.data()[4 * i + 2], expected[i][2]) << i;
        EXPECT_EQ(ex.data()[4 * i + 3], 0) << i;
    }
    EXPECT_EQ(ex.set_size(0, 4), 0);
    EXPECT_EQ(ex.data(), nullptr);
    EXPECT_EQ(ex.expand_rgb555(src), 0);
}

TEST(I420ConvertRect, RefreshesOnlyTheChangedBlocks)
{
    std::mt19937 rng(11);
    Frame before(PixelLayout::Bgra32, 64, 48);
    for (auto& b : before.bytes)
        b = static_cast<uint8_t>(rng());
    Frame after = before;
    // Change an area with odd edges: upright columns 5..20, rows 9..30.
    for (int y = 9; y <= 30; ++y)
        for (int x = 5; x <= 20; ++x)
            after.set(x, y, {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())});

    I420Picture persistent = convert(before);
    ASSERT_EQ(convert_rect_to_i420(after.bytes.data(), after.layout, 64, 48, true, Rect{5, 9, 20, 30},
                                   persistent.planes()), 1);
    const I420Picture full = convert(after);
    EXPECT_EQ(0, std::memcmp(persistent.data(), full.data(), full.size()));

    // Outside the widened area (columns 4..21, rows 8..31) nothing was written.
    I420Picture marked;
    ASSERT_EQ(marked.allocate(64, 48), 1);
    std::memset(marked.data(), 0x55, marked.size());
    ASSERT_EQ(convert_rect_to_i420(after.bytes.data(), after.layout, 64, 48, true, Rect{5, 9, 20, 30},
                                   marked.planes()), 1);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const bool inside = x >= 4 && x <= 21 && y >= 8 && y <= 31;
            const uint8_t got = marked.y()[y * 64 + x];
            if (inside)
                ASSERT_EQ(got, full.y()[y * 64 + x]) << x << "," << y;
            else
                ASSERT_EQ(got, 0x55) << x << "," << y;
        }

    // Areas reaching past the frame are clipped; areas outside it convert nothing.
    std::memset(marked.data(), 0x55, marked.size());
    EXPECT_EQ(convert_rect_to_i420(after.bytes.data(), after.layout, 64, 48, true, Rect{100, 0, 200, 10},
                                   marked.planes()), 1);
    EXPECT_EQ(marked.y()[0], 0x55);
    EXPECT_EQ(convert_rect_to_i420(after.bytes.data(), after.layout, 64, 48, true, Rect{-10, -10, 1000, 1000},
                                   marked.planes()), 1);
    EXPECT_EQ(0, std::memcmp(marked.data(), full.data(), full.size()));
}

} // namespace
} // namespace quillet
