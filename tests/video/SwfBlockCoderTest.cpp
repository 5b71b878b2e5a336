#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/video/ImageTestSupport.h"
#include "video/swf/SwfBlockCoder.h"

namespace quillet {
namespace {

// A 32-bit bottom-up frame the test paints in top-down coordinates.
struct Frame {
    Frame(int w, int h) : bits(size_t(w) * h * 4, 0)
    {
        f.width = w;
        f.height = h;
        f.bitsPerPixel = 32;
        f.stride = w * 4;
        f.imageSize = uint32_t(bits.size());
        f.bits = bits.data();
    }
    void fill(int x0, int y0, int w, int h, uint32_t rgb)
    {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                set(x, y, rgb);
    }
    void set(int x, int y, uint32_t rgb)
    {
        uint8_t* p = f.rowFromTop(y) + x * 4;
        p[0] = uint8_t(rgb);
        p[1] = uint8_t(rgb >> 8);
        p[2] = uint8_t(rgb >> 16);
    }
    std::vector<uint8_t> bits;
    ScreenFrame f;
};

// The lossless bitmap decoded as 24-bit values per pixel, top-down.
struct Lossless {
    int u = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[size_t(y) * u + x]; }
    uint32_t index(int i) const { return px[size_t(i)]; }
};

Lossless decode(const SwfBlockData& d)
{
    Lossless l;
    std::vector<uint8_t> raw;
    EXPECT_TRUE(test::inflateAll(d.lossless.data(), d.lossless.size(), raw));
    l.u = d.losslessWidth;
    l.h = d.losslessHeight;
    EXPECT_EQ(raw.size(), size_t(l.u) * l.h * 4);
    for (size_t i = 0; i + 3 < raw.size(); i += 4) {
        EXPECT_EQ(raw[i], 0xFF);
        l.px.push_back(uint32_t(raw[i + 1]) << 16 | uint32_t(raw[i + 2]) << 8 | raw[i + 3]);
    }
    return l;
}

TEST(SwfBlockCoder, LosslessBlocksAndTheirPositions)
{
    Frame fr(320, 240);
    fr.fill(0, 0, 320, 240, 0x204060);
    SwfBlockCoder c;
    ASSERT_EQ(c.init(320, 240, 32), 1);
    SwfBlockData d;
    ASSERT_EQ(c.code(fr.f, nullptr, 0, true, 75, d), 1);
    EXPECT_EQ(d.losslessBlocks, 20 * 15) << "a key frame sends every block";
    EXPECT_EQ(d.jpegBlocks, 0);

    // Two blocks change; a rectangle that covers four blocks sends just those.
    fr.fill(32, 16, 16, 16, 0xFF0000);
    fr.set(50, 17, 0x00FF00);
    const Rect r{32, 16, 63, 47};
    ASSERT_EQ(c.code(fr.f, &r, 1, false, 75, d), 1);
    ASSERT_EQ(d.losslessBlocks, 2);
    ASSERT_EQ(d.jpegBlocks, 0);
    EXPECT_TRUE(d.jpeg.empty());
    EXPECT_EQ(d.losslessWidth % 16, 0);
    EXPECT_EQ(d.losslessWidth / 8, 8) << "four blocks wide at least: the line's red holds U / 8";
    const Lossless l = decode(d);
    EXPECT_EQ(l.index(0), 2u);
    EXPECT_EQ(l.index(1), 0u);
    EXPECT_EQ(l.index(2), (2u << 12) | 1u); // block (2, 1)
    EXPECT_EQ(l.index(3), (3u << 12) | 1u); // block (3, 1)
    const int headerRows = 1;
    EXPECT_EQ(l.h, headerRows + 16);
    EXPECT_EQ(l.at(0, headerRows), 0xFF0000u);
    EXPECT_EQ(l.at(15, headerRows + 15), 0xFF0000u);
    EXPECT_EQ(l.at(16 + 2, headerRows + 1), 0x00FF00u) << "the second block's changed pixel";
    EXPECT_EQ(l.at(16, headerRows), 0x204060u);

    // Nothing changed: nothing to send.
    ASSERT_EQ(c.code(fr.f, &r, 1, false, 75, d), 1);
    EXPECT_TRUE(d.empty());
}

TEST(SwfBlockCoder, PhotoBlocksGoToAJpegMosaicThatDecodes)
{
    Frame fr(256, 64);
    // Smooth gradients in two directions: many colours in every block, as in
    // a photograph, and nothing JPEG should lose much of.
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x)
            fr.set(x, y, uint32_t(40 + x / 2) << 16 | uint32_t(40 + 2 * y) << 8 | uint32_t(60 + (x + y) / 3));
    fr.fill(0, 0, 16, 16, 0x000080); // one flat block stays lossless
    SwfBlockCoder c;
    ASSERT_EQ(c.init(256, 64, 32), 1);
    SwfBlockData d;
    ASSERT_EQ(c.code(fr.f, nullptr, 0, true, 90, d), 1);
    EXPECT_EQ(d.losslessBlocks, 1);
    ASSERT_EQ(d.jpegBlocks, 63);
    EXPECT_EQ(d.mosaicWidth, 16) << "63 blocks fit one column of at most 180";
    EXPECT_EQ(d.mosaicHeight, 63 * 16);
    test::RgbImage img;
    std::string error;
    ASSERT_TRUE(test::decodeJpeg(d.jpeg.data(), d.jpeg.size(), img, error)) << error;
    ASSERT_EQ(img.width, 16);
    ASSERT_EQ(img.height, 63 * 16);
    const Lossless l = decode(d);
    EXPECT_EQ(l.index(2), 0u) << "the flat block at (0, 0)";
    // Mosaic block k is the k-th JPEG position; check its colours roughly.
    for (int k : {0, 30, 62}) {
        const uint32_t pos = l.index(3 + k);
        const int bx = int(pos >> 12), by = int(pos & 0xFFF);
        double err = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const uint8_t* got = &img.rgb[(size_t(k * 16 + y) * 16 + x) * 3];
                const uint8_t* want = fr.f.rowFromTop(by * 16 + y) + (bx * 16 + x) * 4;
                err += std::abs(int(got[0]) - want[2]) + std::abs(int(got[1]) - want[1]) +
                       std::abs(int(got[2]) - want[0]);
            }
        EXPECT_LT(err / (16 * 16 * 3), 4.0) << "mosaic block " << k;
    }
}

TEST(SwfBlockCoder, WideMosaicsKeepTheirRowsShort)
{
    SwfBlockCoder c;
    ASSERT_EQ(c.init(640, 480, 32), 1);
    Frame fr(640, 480);
    const test::Bgr24Image noise = test::makeNoise(640, 480, 3);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            const uint8_t* p = noise.pixel(x, y);
            fr.set(x, y, uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
        }
    SwfBlockData d;
    ASSERT_EQ(c.code(fr.f, nullptr, 0, true, 50, d), 1);
    ASSERT_EQ(d.jpegBlocks, 1200);
    EXPECT_EQ(d.mosaicWidth, 7 * 16);                 // ceil(1200 / 180)
    EXPECT_EQ(d.mosaicHeight, 172 * 16);              // ceil(1200 / 7)
    test::RgbImage img;
    std::string error;
    EXPECT_TRUE(test::decodeJpeg(d.jpeg.data(), d.jpeg.size(), img, error)) << error;
    const Lossless l = decode(d);
    EXPECT_EQ(l.index(1), 1200u);
    EXPECT_GE(size_t(l.u) * l.h, size_t(2 + 1200)) << "every position has its pixel";
}

TEST(SwfBlockCoder, RefusesFramesItWasNotMadeFor)
{
    SwfBlockCoder c;
    EXPECT_EQ(c.init(100, 64, 32), 0) << "not a multiple of 16";
    EXPECT_EQ(c.init(4096, 64, 32), 0) << "positions hold 12 bits";
    ASSERT_EQ(c.init(64, 64, 32), 1);
    Frame other(128, 64);
    SwfBlockData d;
    EXPECT_EQ(c.code(other.f, nullptr, 0, true, 75, d), 0);
}

} // namespace
} // namespace quillet
