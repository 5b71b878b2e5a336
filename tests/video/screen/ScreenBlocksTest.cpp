// The pieces under the screen codec: converted blocks and their checksum,
// the DCT part's macroblocks, and the inverse transform of the decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "video/JpegEncoder.h"
#include "video/screen/ConvertedBlock.h"
#include "video/screen/DctUnit.h"

namespace quillet::screen {
namespace {

// A frame of one colour (bottom-up, any depth) to read blocks from.
struct Frame {
    std::vector<uint8_t> bits;
    BlockSource source;
    Frame(int32_t w, int32_t h, int bpp)
    {
        bits.assign(size_t(w) * size_t(h) * size_t(bpp / 8), 0);
        source.bits = bits.data();
        source.width = w;
        source.height = h;
        source.stride = size_t(w) * size_t(bpp / 8);
        source.bitsPerPixel = bpp;
    }
    // (x, y) from the top.
    uint8_t* at(int32_t x, int32_t y) { return bits.data() + size_t(source.height - 1 - y) * source.stride + size_t(x) * size_t(source.bitsPerPixel / 8); }
    void set(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b)
    {
        uint8_t* p = at(x, y);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
};

TEST(ConvertedBlock, KnownColoursGiveTheirSamples)
{
    Frame f(8, 8, 32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            f.set(x, y, x < 4 ? 255 : 0, 0, x < 4 ? 0 : 255); // red left half, blue right half
    uint8_t block[kBlockBytes];
    convert_block(f.source, 0, 0, block);
    EXPECT_EQ(block[0], 76);  // (19595 * 255) >> 16
    EXPECT_EQ(block[7], 29);  // (7471 * 255) >> 16
    // Red: Cb = (4 * floor(-11059 * 255 / 65536) + 512) / 4 = (4 * -44 + 512) / 4, Cr = (4 * 127 + 512) / 4.
    EXPECT_EQ(block[kChromaAt], 84);
    EXPECT_EQ(block[kChromaAt + 1], 255);
    // Blue: Cb = 127 + 128, Cr = (4 * floor(-5329 * 255 / 65536) + 512) / 4.
    EXPECT_EQ(block[kChromaAt + 6], 255);
    EXPECT_EQ(block[kChromaAt + 7], 107);
}

TEST(ConvertedBlock, SixteenBitLayoutsAndEdgePixels)
{
    // 5-5-5 white and 5-6-5 pure green, on a 5-pixel-wide frame: columns
    // past the edge repeat the last one.
    Frame f555(5, 3, 16);
    Frame f565(5, 3, 16);
    f565.source.layout16 = Pixel16Layout::Rgb565;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const uint16_t white = x == 4 ? 0x7FFF : 0;
            std::memcpy(f555.at(x, y), &white, 2);
            const uint16_t green = x == 4 ? 0x07E0 : 0;
            std::memcpy(f565.at(x, y), &green, 2);
        }
    uint8_t bgr[3];
    pixel_bgr(f555.source, 7, 6, bgr); // outside: repeats (4, 2)
    EXPECT_EQ(bgr[0], 0xF8);
    EXPECT_EQ(bgr[1], 0xF8);
    EXPECT_EQ(bgr[2], 0xF8);
    pixel_bgr(f565.source, 4, 0, bgr);
    EXPECT_EQ(bgr[0], 0);
    EXPECT_EQ(bgr[1], 0xFC);
    EXPECT_EQ(bgr[2], 0);

    uint8_t block[kBlockBytes];
    convert_block(f555.source, 0, 0, block);
    EXPECT_EQ(block[3], 0);         // inside, black
    EXPECT_EQ(block[4], 248);       // the edge column
    EXPECT_EQ(block[7 * 8 + 7], 248); // below and right of the picture
}

// The checksum written bit by bit from its definition, for comparison with
// the table-driven one.
uint16_t checksumBitwise(const uint8_t* data)
{
    auto entry = [](uint32_t i) {
        uint32_t v = i << 8;
        for (int k = 0; k < 8; ++k)
            v = ((v << 1) & 0xFFFF) ^ ((v & 0x8000) ? 0xA001 : 0);
        return v;
    };
    uint32_t h = 0;
    for (int i = 0; i < kBlockBytes; ++i)
        h = (entry(((h >> 8) ^ data[i]) & 0xFF) ^ (h << 8)) & 0xFFFF;
    return uint16_t(h);
}

TEST(ConvertedBlock, ChecksumFollowsItsDefinitionAndSeesSmallChanges)
{
    std::mt19937 rng(7);
    uint8_t block[kBlockBytes];
    for (int round = 0; round < 200; ++round) {
        for (uint8_t& b : block)
            b = uint8_t(rng());
        ASSERT_EQ(block_checksum(block), checksumBitwise(block));
        const uint16_t before = block_checksum(block);
        block[round % kBlockBytes] ^= 1; // a CRC notices every single-bit change
        EXPECT_NE(block_checksum(block), before);
    }
}

TEST(ConvertedBlock, PaintedColoursComeBackCloseAndStayInsideThePicture)
{
    Frame f(13, 9, 24);
    std::mt19937 rng(3);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x) // flat 2x2 groups: only the conversion's rounding is lost
            f.set(x, y, uint8_t(40 + (x / 2) * 15), uint8_t(200 - (y / 2) * 20), uint8_t(90 + x * y));
    ScreenPicture picture;
    ASSERT_EQ(picture.allocate(13, 9), 1);
    uint8_t block[kBlockBytes];
    for (int by = 0; by < 2; ++by)
        for (int bx = 0; bx < 2; ++bx) {
            convert_block(f.source, bx * 8, by * 8, block);
            paint_block(block, picture, bx * 8, by * 8);
        }
    int worst = 0;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x) {
            const uint8_t* in = f.at(x, y);
            const uint8_t* out = picture.row_from_top(y) + x * 4;
            EXPECT_EQ(out[3], 0xFF);
            if ((x | y) % 2 == 0 && x + 1 < 13 && y + 1 < 9 && (x / 2 == (x + 1) / 2)) {
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, std::abs(int(out[k]) - int(in[k])));
            }
        }
    EXPECT_LE(worst, 12) << "chroma of flat groups survives up to rounding";
}

TEST(InverseDct, MatchesTheTransformItInverts)
{
    // Coefficients F(u, v) as the de-quantiser hands them over (scaled by
    // f(u) f(v)), against the textbook inverse.
    std::mt19937 rng(11);
    const double pi = std::acos(-1.0);
    auto f = [&](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * pi / 16); };
    for (int round = 0; round < 50; ++round) {
        double coef[64];
        float scaled[64];
        for (int i = 0; i < 64; ++i) {
            const int u = i / 8, v = i % 8;
            coef[i] = (i == 0 ? 200.0 : 60.0) * (double(rng() % 2001) / 1000.0 - 1.0) / (1 + u + v);
            scaled[i] = float(coef[i] * f(u) * f(v));
        }
        uint8_t out[64];
        inverse_dct(scaled, out);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                double s = 0;
                for (int u = 0; u < 8; ++u)
                    for (int v = 0; v < 8; ++v) {
                        const double cu = u == 0 ? std::sqrt(0.5) : 1.0, cv = v == 0 ? std::sqrt(0.5) : 1.0;
                        s += cu * cv * coef[u * 8 + v] * std::cos((2 * y + 1) * u * pi / 16) *
                             std::cos((2 * x + 1) * v * pi / 16);
                    }
                const double want = std::clamp(s / 4 + 128, 0.0, 255.0);
                ASSERT_NEAR(out[y * 8 + x], want, 1.0) << "at " << x << "," << y;
            }
    }
}

TEST(DctUnit, MacroblocksComeBackFromTheScanWithEmptyBlocksSkipped)
{
    // Four blocks of a smooth picture, the second absent and the third found
    // elsewhere (so left out of the macroblock).
    uint8_t blocks[4][kBlockBytes];
    for (int b = 0; b < 4; ++b)
        for (int i = 0; i < kBlockBytes; ++i)
            blocks[b][i] = uint8_t(i < 64 ? 60 + b * 40 + (i % 8) * 5 + (i / 8) * 3 : 80 + b * 30 + (i - 64) / 4);
    const uint8_t* present[4] = {blocks[0], nullptr, blocks[2], blocks[3]};
    JpegMcuSamples samples;
    unit_samples(present, samples);
    JpegEncoder enc;
    enc.set_quality(75, DivisorRounding::Truncate);
    std::vector<uint8_t> scan(4096);
    ASSERT_EQ(enc.begin_scan(scan.data(), scan.size()), 1);
    const unsigned wanted = (1u << kMcuLumaOf[0]) | (1u << kMcuLumaOf[3]);
    ASSERT_EQ(enc.encode_mcu(samples, wanted), 1);
    unit_samples(present, samples); // the coder transforms them in place
    ASSERT_EQ(enc.encode_mcu(samples, wanted), 1); // a second macroblock: the predictors carry over
    ASSERT_EQ(enc.end_scan(), 1);
    const size_t n = enc.bytes_written(scan.data());

    DctReader reader;
    reader.begin(scan.data(), n);
    for (int mcu = 0; mcu < 2; ++mcu) {
        McuPixels pixels;
        ASSERT_EQ(reader.decode_mcu(pixels, wanted), 1) << reader.reason();
        for (int b : {0, 3}) {
            uint8_t got[kBlockBytes];
            unit_block(pixels, b, got);
            for (int i = 0; i < kBlockBytes; ++i)
                ASSERT_NEAR(got[i], blocks[b][i], 12) << "block " << b << " sample " << i;
        }
    }
    // Past the last macroblock there is only padding.
    McuPixels extra;
    EXPECT_EQ(reader.decode_mcu(extra, wanted), 0);
    EXPECT_STREQ(reader.reason(), "the DCT part ends inside a macroblock");
}

} // namespace
} // namespace quillet::screen
