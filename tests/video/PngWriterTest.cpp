// The PNG writer: chunk layout and CRCs byte for byte, and files that libpng
// decodes to exactly the source picture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <zlib.h>

#include "base/ByteOrder.h"
#include "base/OutputSink.h"
#include "engine/ScreenFrame.h"
#include "tests/video/ImageTestSupport.h"
#include "video/BlockCoder.h"
#include "video/PngWriter.h"

namespace quillet {
namespace {

using test::Bgr24Image;
using test::RgbImage;

size_t bufferFor(int w, int h) { return std::max<size_t>(size_t(w) * h * 3, 640000) + 30000; }

std::vector<uint8_t> writePng(Bgr24Image img, size_t* n = nullptr)
{
    std::vector<uint8_t> out(bufferFor(img.width, img.height));
    PngWriter writer;
    const size_t rc = writer.write_png(img.bytes.data(), img.width, img.height, out.data(), out.size());
    EXPECT_GT(rc, 0u);
    EXPECT_EQ(writer.file_size(), rc + PngWriter::kOverheadBytes);
    if (n)
        *n = rc;
    out.resize(writer.file_size());
    return out;
}

TEST(PngWriter, OnePixelFileLayout)
{
    Bgr24Image img = test::makeImage(1, 1);
    img.bytes[0] = 0x10; // blue
    img.bytes[1] = 0x20;
    img.bytes[2] = 0x30; // red
    size_t n = 0;
    const std::vector<uint8_t> f = writePng(img, &n);
    ASSERT_EQ(f.size(), 8 + 25 + 12 + n + 12);

    const std::vector<uint8_t> head = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A,         // signature
                                       0x00, 0x00, 0x00, 0x0D, 'I', 'H', 'D', 'R',             // IHDR
                                       0, 0, 0, 1, 0, 0, 0, 1, 0x08, 0x02, 0x00, 0x00, 0x00,   // 1 x 1 RGB 8
                                       0x90, 0x77, 0x53, 0xDE};                                // its CRC
    EXPECT_TRUE(std::equal(head.begin(), head.end(), f.begin()));
    EXPECT_EQ(getBE32(&f[33]), n);
    EXPECT_EQ(std::memcmp(&f[37], "IDAT", 4), 0);
    const uint32_t idatCrc = uint32_t(crc32(crc32(0, Z_NULL, 0), &f[37], uInt(4 + n)));
    EXPECT_EQ(getBE32(&f[41 + n]), idatCrc);
    const std::vector<uint8_t> iend = {0, 0, 0, 0, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    EXPECT_TRUE(std::equal(iend.begin(), iend.end(), f.end() - 12));

    // The stream holds the filter byte and the pixel in R, G, B order.
    std::vector<uint8_t> raw;
    ASSERT_TRUE(test::inflateAll(&f[41], n, raw));
    EXPECT_EQ(raw, (std::vector<uint8_t>{0x00, 0x30, 0x20, 0x10}));
}

// Exact round trips at odd sizes (rows padded in the source) and one wide picture.
TEST(PngWriter, LibpngDecodesTheExactPicture)
{
    for (auto [w, h] : {std::pair{47, 33}, std::pair{1, 1}, std::pair{5, 3}, std::pair{1920, 8}}) {
        const Bgr24Image img = test::makeNoise(w, h, uint32_t(w + h));
        const std::vector<uint8_t> f = writePng(img);
        RgbImage decoded;
        std::string err;
        ASSERT_TRUE(test::decodePng(f.data(), f.size(), decoded, err)) << err;
        ASSERT_EQ(decoded.width, w);
        ASSERT_EQ(decoded.height, h);
        EXPECT_EQ(decoded.rgb, test::toRgb(img).rgb) << w << "x" << h;
    }
}

TEST(PngWriter, PictureComesOutUprightWithRedAndBlueInPlace)
{
    // Bottom memory row blue, top memory row (the picture's first row) red.
    Bgr24Image img = test::makeImage(2, 2);
    for (int x = 0; x < 2; ++x) {
        img.pixel(x, 0)[2] = 255; // top row: red
        img.pixel(x, 1)[0] = 255; // bottom row: blue
    }
    std::vector<uint8_t> out(bufferFor(2, 2));
    PngWriter writer;
    ASSERT_GT(writer.write_png(img.bytes.data(), 2, 2, out.data(), out.size()), 0u);
    RgbImage decoded;
    std::string err;
    ASSERT_TRUE(test::decodePng(out.data(), writer.file_size(), decoded, err)) << err;
    EXPECT_EQ(decoded.rgb, (std::vector<uint8_t>{255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255}));
    // The caller's rows now hold R, G, B.
    EXPECT_EQ(img.pixel(0, 0)[0], 255);
    EXPECT_EQ(img.pixel(0, 0)[2], 0);
    EXPECT_EQ(img.pixel(0, 1)[2], 255);
}

TEST(PngWriter, WritesTheFileImageToTheSinkInOnePiece)
{
    Bgr24Image img = test::makePattern(33, 17, 4);
    const std::vector<uint8_t> expected = writePng(img);
    std::vector<uint8_t> out(bufferFor(33, 17));
    MemorySink sink;
    PngWriter writer;
    ASSERT_GT(writer.write_png(img.bytes.data(), 33, 17, out.data(), out.size(), &sink), 0u);
    EXPECT_EQ(sink.bytes(), expected);

    // A sink that cannot take the file turns the call into a failure.
    img = test::makePattern(33, 17, 4);
    MemorySink full;
    full.setLimit(100);
    EXPECT_EQ(writer.write_png(img.bytes.data(), 33, 17, out.data(), out.size(), &full), 0u);
    EXPECT_EQ(writer.file_size(), 0u);
}

// Too small a buffer fails cleanly at any size, never writing past it, and
// leaves the sink untouched.
TEST(PngWriter, NeverWritesPastTheCapacity)
{
    const Bgr24Image src = test::makeNoise(24, 10, 12);
    const size_t fileSize = writePng(src).size();
    constexpr size_t kGuard = 64;
    for (size_t cap = 0; cap <= fileSize; cap += (cap < fileSize - 40 ? 7 : 1)) {
        Bgr24Image img = src;
        std::vector<uint8_t> out(cap + kGuard, 0xA5);
        MemorySink sink;
        PngWriter writer;
        const size_t n = writer.write_png(img.bytes.data(), 24, 10, out.data(), cap, &sink);
        for (size_t i = cap; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0xA5) << "capacity " << cap;
        if (cap < fileSize) {
            ASSERT_EQ(n, 0u) << cap;
            ASSERT_TRUE(sink.bytes().empty());
        } else {
            ASSERT_GT(n, 0u);
        }
    }
}

TEST(PngWriter, RejectsBadArguments)
{
    std::vector<uint8_t> px(64), out(100000);
    PngWriter writer;
    EXPECT_EQ(writer.write_png(nullptr, 4, 4, out.data(), out.size()), 0u);
    EXPECT_EQ(writer.write_png(px.data(), 4, 4, nullptr, out.size()), 0u);
    EXPECT_EQ(writer.write_png(px.data(), 0, 4, out.data(), out.size()), 0u);
    EXPECT_EQ(writer.write_png(px.data(), 4, -2, out.data(), out.size()), 0u);
}

// 16-, 24- and 32-bit frames through the 24-bit copy: the PNG holds exactly
// the frame's colours (5-5-5 expanded with zero low bits).
TEST(PngWriter, FramesOfEveryDepthRoundTrip)
{
    constexpr int W = 32, H = 16;
    const Bgr24Image ref = test::makeNoise(W, H, 77);
    for (int bpp : {16, 24, 32}) {
        std::vector<uint8_t> bits(size_t(W) * H * (bpp / 8));
        ScreenFrame frame;
        frame.width = W;
        frame.height = H;
        frame.bitsPerPixel = uint8_t(bpp);
        frame.bits = bits.data();
        frame.stride = W * (bpp / 8);
        RgbImage expect;
        expect.width = W;
        expect.height = H;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const uint8_t* p = ref.pixel(x, y);
                uint8_t* d = frame.rowFromTop(y) + x * (bpp / 8);
                if (bpp == 16) {
                    const uint16_t v = uint16_t((p[2] >> 3) << 10 | (p[1] >> 3) << 5 | (p[0] >> 3) | 0x8000);
                    d[0] = uint8_t(v);
                    d[1] = uint8_t(v >> 8);
                    expect.rgb.insert(expect.rgb.end(), {uint8_t(p[2] & 0xF8), uint8_t(p[1] & 0xF8), uint8_t(p[0] & 0xF8)});
                } else {
                    std::memcpy(d, p, 3);
                    if (bpp == 32)
                        d[3] = 0x77;
                    expect.rgb.insert(expect.rgb.end(), {p[2], p[1], p[0]});
                }
            }
        BlockCoder coder;
        std::vector<uint8_t> bgr(BlockCoder::bgr24Size(W, H));
        ASSERT_EQ(coder.to_bgr24(frame, bgr.data(), bgr.size(), 0, 0, W, H), 1);
        std::vector<uint8_t> out(bufferFor(W, H));
        PngWriter writer;
        ASSERT_GT(writer.write_png(bgr.data(), W, H, out.data(), out.size()), 0u);
        RgbImage decoded;
        std::string err;
        ASSERT_TRUE(test::decodePng(out.data(), writer.file_size(), decoded, err)) << err;
        EXPECT_EQ(decoded.rgb, expect.rgb) << bpp;
    }
}

} // namespace
} // namespace quillet
