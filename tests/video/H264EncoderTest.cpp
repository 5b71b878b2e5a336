#include <gtest/gtest.h>

#include <vector>

#include "base/ByteOrder.h"
#include "engine/QualityLevel.h"
#include "tests/video/H264TestSupport.h"
#include "video/H264Encoder.h"

namespace quillet {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kW = 160, kH = 96;

class H264EncoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        enc.set_input_mode(H264InputMode::Bgra32);
        ASSERT_EQ(enc.open(kW, kH, 10), 1);
        out.assign(H264Encoder::recommended_output_capacity(kW, kH), 0);
    }
    size_t encode_frame(int index, uint32_t ts = 0)
    {
        const Bytes f = testing::screen_frame(kW, kH, 4, index);
        return enc.encode(f.data(), f.size(), out.data(), out.size(), ts);
    }
    H264Encoder enc;
    Bytes out;
};

TEST(H264Bitrate, GrowsWithTheCubeOfTheSizeAndIsClamped)
{
    H264Encoder enc;
    EXPECT_EQ(enc.bitrate(), 150);
    struct Case {
        int32_t w, h, quality, kbps;
    };
    const Case cases[] = {{320, 240, 2, 75}, {640, 480, 4, 512}, {100, 100, 0, 50}, {1920, 1080, 1, 512},
                          {800, 600, 1, 512}, {400, 300, 2, 145}};
    for (const Case& c : cases) {
        enc.set_bitrate(c.w, c.h, h264BitrateKbps(c.w, c.h, c.quality));
        EXPECT_EQ(enc.bitrate(), c.kbps) << c.w << "x" << c.h << " q" << c.quality;
    }
    // Nonsense stays inside the range instead of overflowing.
    enc.set_bitrate(2000000000, 2000000000, 2000000000);
    EXPECT_EQ(enc.bitrate(), 512);
    enc.set_bitrate(-100, 0, 1000);
    EXPECT_EQ(enc.bitrate(), 50);
}

TEST(H264Open, RefusesSizesAndRatesTheLibraryCannotUse)
{
    H264Encoder enc;
    EXPECT_EQ(enc.open(161, 96, 10), 0);
    EXPECT_FALSE(enc.is_open());
    EXPECT_EQ(enc.open(0, 96, 10), 0);
    EXPECT_EQ(enc.open(160, -2, 10), 0);
    EXPECT_EQ(enc.open(160, 96, 0), 0);
    EXPECT_FALSE(enc.is_open());
    Bytes out(1000);
    const Bytes frame(160 * 96 * 4);
    EXPECT_EQ(enc.encode(frame.data(), frame.size(), out.data(), out.size(), 0), 0u);
    EXPECT_EQ(enc.sequence_header_tag(out.data(), out.size(), 0), 0u);
    // A rate byte of 0xF6 is -10: its magnitude is used.
    EXPECT_EQ(enc.open(160, 96, 0xF6), 1);
    enc.frame_counter = 9;
    EXPECT_EQ(enc.open(160, 96, 5), 1); // reopening closes first and resets the counter
    EXPECT_EQ(enc.frame_counter, 0u);
    enc.close();
    enc.close();
    EXPECT_FALSE(enc.is_open());
}

TEST_F(H264EncoderTest, FirstPictureIsAnIdrTagAndLaterOnesAreInter)
{
    const size_t n = encode_frame(0, 0x01020304);
    ASSERT_GT(n, 24u);
    EXPECT_EQ(enc.last_was_keyframe, 1);
    EXPECT_EQ(out[0], 0x09);
    EXPECT_EQ(getBE24(&out[1]), n - 15);
    EXPECT_EQ((Bytes{out[4], out[5], out[6], out[7]}), (Bytes{0x02, 0x03, 0x04, 0x01}));
    EXPECT_EQ(getBE24(&out[8]), 0u);
    EXPECT_EQ((Bytes{out[11], out[12], out[13], out[14], out[15]}), (Bytes{0x17, 0x01, 0x00, 0x00, 0x42}));
    EXPECT_EQ(getBE32(&out[16]), n - 24); // one NAL unit
    EXPECT_EQ(out[20] & 0x1F, 5);         // IDR slice
    EXPECT_EQ(getBE32(&out[n - 4]), n - 4);

    const size_t m = encode_frame(1, 100);
    ASSERT_GT(m, 24u);
    EXPECT_EQ(enc.last_was_keyframe, 0);
    EXPECT_EQ(out[11], 0x27);
    EXPECT_EQ(out[20] & 0x1F, 1);
    EXPECT_EQ(getBE32(&out[16]), m - 24);
}

TEST_F(H264EncoderTest, KeyFramesComeEveryTenSecondsOrWhenForced)
{
    // 10 fps: an IDR picture at least every 100 pictures; a still screen has no scene cuts.
    std::vector<int> keys;
    for (int i = 0; i <= 100; ++i) {
        if (i == 37)
            enc.force_keyframe = 1;
        ASSERT_GT(encode_frame(0), 0u) << "picture " << i << " held back";
        EXPECT_EQ(enc.force_keyframe, 0);
        if (enc.last_was_keyframe) {
            keys.push_back(i);
            EXPECT_EQ(out[11], 0x17);
        } else {
            EXPECT_EQ(out[11], 0x27);
        }
    }
    EXPECT_EQ(keys, (std::vector<int>{0, 37}));
    for (int i = 101; i <= 137; ++i)
        ASSERT_GT(encode_frame(0), 0u);
    EXPECT_EQ(enc.last_was_keyframe, 1); // 100 pictures after the forced one
}

TEST_F(H264EncoderTest, TooSmallBufferWritesNothingPastItAndRestartsWithIdr)
{
    ASSERT_GT(encode_frame(0), 0u);
    const Bytes f = testing::screen_frame(kW, kH, 4, 5);
    Bytes small(64 + 32, 0xEE);
    EXPECT_EQ(enc.encode(f.data(), f.size(), small.data(), 64, 0), 0u);
    EXPECT_EQ(enc.last_was_keyframe, 0);
    for (size_t i = 64; i < small.size(); ++i)
        ASSERT_EQ(small[i], 0xEE);
    // The lost picture may be referenced later: the next one is an IDR picture.
    EXPECT_GT(encode_frame(6), 0u);
    EXPECT_EQ(enc.last_was_keyframe, 1);
    EXPECT_EQ(out[11], 0x17);
}

TEST_F(H264EncoderTest, UnusableInputIsRefused)
{
    const Bytes f = testing::screen_frame(kW, kH, 4, 0);
    EXPECT_EQ(enc.encode(f.data(), f.size() - 1, out.data(), out.size(), 0), 0u);
    EXPECT_EQ(enc.encode(nullptr, f.size(), out.data(), out.size(), 0), 0u);
    EXPECT_EQ(enc.encode(f.data(), f.size(), nullptr, out.size(), 0), 0u);
    I420Picture pic;
    ASSERT_EQ(pic.allocate(kW, kH), 1);
    EXPECT_EQ(enc.encode(pic, out.data(), out.size(), 0), 0u); // planar input in pixel mode
}

TEST_F(H264EncoderTest, SequenceHeaderCarriesSpsAndFourBytePps)
{
    const size_t n = enc.sequence_header_tag(out.data(), out.size(), 0);
    ASSERT_GT(n, 30u);
    const uint32_t data = getBE24(&out[1]);
    EXPECT_EQ(n, data + 15);
    EXPECT_EQ((Bytes{out[11], out[12], out[16], out[17], out[18], out[19], out[20], out[21]}),
              (Bytes{0x17, 0x00, 0x01, 0x42, 0xC0, 0x15, 0x03, 0x01}));
    const uint32_t s = getBE16(&out[22]);
    EXPECT_EQ(out[24], 0x67);
    EXPECT_EQ(out[25], 66); // the SPS itself says Baseline
    EXPECT_EQ(out[27], 40); // and level 4.0
    EXPECT_EQ(out[24 + s], 0x01);
    const uint32_t p = getBE16(&out[25 + s]);
    EXPECT_EQ(p, 4u);
    EXPECT_EQ(out[27 + s], 0x68);
    EXPECT_EQ(data, 16 + s + p);
    EXPECT_EQ(getBE32(&out[n - 4]), n - 4);
    // The PPS is the last 4 bytes before the previous-tag-size field.
    EXPECT_EQ(out[n - 8], 0x68);

    Bytes small(40, 0xEE);
    EXPECT_EQ(enc.sequence_header_tag(small.data(), 20, 0), 0u);
    for (size_t i = 20; i < small.size(); ++i)
        ASSERT_EQ(small[i], 0xEE);
}

// Converting only the changed rectangles into the kept picture must give the
// very same stream as converting whole frames (macroblock hints, which do
// change the coding, are compared on decoded pictures in H264HintsTest).
TEST(H264Changed, ConvertingChangedRectanglesGivesTheSameStream)
{
    H264Encoder full, partial;
    for (H264Encoder* e : {&full, &partial}) {
        e->set_input_mode(H264InputMode::Bgra32);
        ASSERT_EQ(e->open(kW, kH, 10), 1);
    }
    partial.use_macroblock_hints = 0;
    Bytes a(H264Encoder::recommended_output_capacity(kW, kH)), b(a.size());
    // The moving box of screen_frame stays within this band of rows.
    const Rect band{0, kH / 3, kW - 1, kH / 3 + kH / 5 - 1};
    const Rect none{0, 0, 0, 0}; // right <= left: nothing changed there
    for (int i = 0; i < 6; ++i) {
        const Bytes f = testing::screen_frame(kW, kH, 4, i);
        const Rect changed[] = {none, band};
        const size_t n = full.encode(f.data(), f.size(), a.data(), a.size(), 0);
        const size_t m = partial.encode_changed(f.data(), f.size(), changed, 2, b.data(), b.size(), 0);
        ASSERT_GT(n, 0u);
        ASSERT_EQ(Bytes(a.begin(), a.begin() + n), Bytes(b.begin(), b.begin() + m)) << "picture " << i;
    }
    // A change outside every rectangle is not seen: the streams part.
    const Bytes f = testing::screen_frame(kW, kH, 4, 0);
    const size_t n = full.encode(f.data(), f.size(), a.data(), a.size(), 0);
    const size_t m = partial.encode_changed(f.data(), f.size(), &none, 1, b.data(), b.size(), 0);
    EXPECT_NE(Bytes(a.begin(), a.begin() + n), Bytes(b.begin(), b.begin() + m));
}

TEST(H264Changed, RefusedCallMakesTheNextPictureConvertWhole)
{
    H264Encoder full, partial;
    for (H264Encoder* e : {&full, &partial}) {
        e->set_input_mode(H264InputMode::Bgra32);
        ASSERT_EQ(e->open(kW, kH, 10), 1);
    }
    Bytes a(H264Encoder::recommended_output_capacity(kW, kH)), b(a.size());
    const Bytes f0 = testing::screen_frame(kW, kH, 4, 0), f1 = testing::screen_frame(kW, kH, 4, 4);
    ASSERT_GT(full.encode(f0.data(), f0.size(), a.data(), a.size(), 0), 0u);
    ASSERT_GT(partial.encode_changed(f0.data(), f0.size(), nullptr, 0, b.data(), b.size(), 0), 0u);
    // A refused call (short frame) leaves the kept picture unknown to the caller.
    EXPECT_EQ(partial.encode_changed(f1.data(), f1.size() - 1, nullptr, 0, b.data(), b.size(), 0), 0u);
    const size_t n = full.encode(f1.data(), f1.size(), a.data(), a.size(), 0);
    const size_t m = partial.encode_changed(f1.data(), f1.size(), nullptr, 0, b.data(), b.size(), 0);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + n), Bytes(b.begin(), b.begin() + m));
}

TEST(H264Planar, IdrAccessUnitsStartWithSpsAndPps)
{
    H264Encoder enc;
    enc.set_input_mode(H264InputMode::I420);
    ASSERT_EQ(enc.open(kW, kH, 15), 1);
    I420Picture pic;
    ASSERT_EQ(pic.allocate(kW, kH), 1);
    Bytes out(H264Encoder::recommended_output_capacity(kW, kH));
    auto nal_types = [&](size_t n) {
        std::vector<int> types;
        for (size_t i = 0; i + 4 < n; ++i)
            if (out[i] == 0 && out[i + 1] == 0 && out[i + 2] == 0 && out[i + 3] == 1)
                types.push_back(out[i + 4] & 0x1F);
        return types;
    };
    for (int i = 0; i < 3; ++i) {
        if (i == 2)
            enc.force_keyframe = 1;
        std::fill(pic.data(), pic.data() + pic.size(), static_cast<uint8_t>(100 + i));
        const size_t n = enc.encode(pic, out.data(), out.size(), 0);
        ASSERT_GT(n, 0u);
        const std::vector<int> types = nal_types(n);
        ASSERT_FALSE(types.empty());
        if (i == 1) {
            EXPECT_EQ(enc.last_was_keyframe, 0);
            EXPECT_EQ(types, (std::vector<int>{1}));
        } else {
            EXPECT_EQ(enc.last_was_keyframe, 1);
            EXPECT_EQ((Bytes{out[0], out[1], out[2], out[3], out[4]}), (Bytes{0, 0, 0, 1, 0x67}));
            ASSERT_GE(types.size(), 3u);
            EXPECT_EQ(types[1], 8);
            EXPECT_EQ(types.back(), 5);
        }
    }
    const Bytes frame(kW * kH * 4);
    EXPECT_EQ(enc.encode(frame.data(), frame.size(), out.data(), out.size(), 0), 0u); // pixel input in planar mode
    I420Picture wrong;
    ASSERT_EQ(wrong.allocate(kW, kH + 2), 1);
    EXPECT_EQ(enc.encode(wrong, out.data(), out.size(), 0), 0u);
}

} // namespace
} // namespace quillet
