// Streams from the encoder checked by a real decoder (libavcodec): they must
// decode without error, upright and close to the source picture, with key
// frames where the encoder said.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "tests/video/H264TestSupport.h"
#include "video/ColorConvert.h"
#include "video/FlvAvcTags.h"
#include "video/H264Encoder.h"

namespace quillet {
namespace {

using Bytes = std::vector<uint8_t>;

// Lowest acceptable luma PSNR at the fixed quantiser on the synthetic screen;
// a flipped, shifted or wrongly coloured picture lands far below.
constexpr double kMinLumaPsnr = 34.0;
constexpr double kMinChromaPsnr = 34.0;

struct Source {
    int bpp; // bits per pixel of the captured frame: 16, 24 or 32
    int32_t width, height;
};

std::string name_of(const Source& s)
{
    return std::to_string(s.bpp) + "bit_" + std::to_string(s.width) + "x" + std::to_string(s.height);
}

// The captured frame as the encoder takes it: 16-bit frames are expanded first.
Bytes encoder_input(const Source& s, int index, Rgb555Expander& ex)
{
    Bytes f = testing::screen_frame(s.width, s.height, s.bpp / 8, index);
    if (s.bpp != 16)
        return f;
    ex.expand_rgb555(f.data());
    return Bytes(ex.data(), ex.data() + ex.size());
}

// The avcC record an MP4 writer builds from the sequence header tag's SPS and PPS.
Bytes mp4_avcc(const Bytes& tag)
{
    const uint32_t s = getBE16(&tag[22]);
    const Bytes sps(tag.begin() + 24, tag.begin() + 24 + s);
    const uint32_t p = getBE16(&tag[25 + s]);
    const Bytes pps(tag.begin() + 27 + s, tag.begin() + 27 + s + p);
    Bytes avcc = {1, sps[1], sps[2], sps[3], 0xFF, 0xE1, static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s)};
    avcc.insert(avcc.end(), sps.begin(), sps.end());
    avcc.push_back(1);
    avcc.push_back(static_cast<uint8_t>(p >> 8));
    avcc.push_back(static_cast<uint8_t>(p));
    avcc.insert(avcc.end(), pps.begin(), pps.end());
    return avcc;
}

class H264DecodeTest : public ::testing::TestWithParam<Source> {};

TEST_P(H264DecodeTest, PixelModeTagsDecodeUprightWithKeyFramesWhereFlagged)
{
    const Source src = GetParam();
    Rgb555Expander ex;
    ASSERT_EQ(ex.set_size(src.width, src.height), 1);
    H264Encoder enc;
    enc.set_input_mode(src.bpp == 24 ? H264InputMode::Bgr24 : H264InputMode::Bgra32);
    enc.set_bitrate(src.width, src.height, 100);
    ASSERT_EQ(enc.open(src.width, src.height, 5), 1);

    Bytes header(4096);
    header.resize(enc.sequence_header_tag(header.data(), header.size(), 0));
    ASSERT_GT(header.size(), 0u);
    // FLV players take the record straight from the tag; MP4 players from avcC.
    const Bytes flv_record(header.begin() + 16, header.end() - 4);
    testing::TestH264Decoder flv(flv_record), mp4(mp4_avcc(header));
    ASSERT_TRUE(flv.ok() && mp4.ok());

    const int kFrames = 14, kForced = 9;
    std::vector<bool> flagged;
    std::vector<I420Picture> sources;
    Bytes out(H264Encoder::recommended_output_capacity(src.width, src.height));
    for (int i = 0; i < kFrames; ++i) {
        const Bytes frame = encoder_input(src, i, ex);
        I420Picture ref;
        ASSERT_EQ(ref.allocate(src.width, src.height), 1);
        ASSERT_EQ(convert_to_i420(frame.data(), src.bpp == 24 ? PixelLayout::Bgr24 : PixelLayout::Bgra32,
                                  src.width, src.height, true, ref.planes()), 1);
        sources.push_back(std::move(ref));
        if (i == kForced)
            enc.force_keyframe = 1;
        const size_t n = enc.encode(frame.data(), frame.size(), out.data(), out.size(), 200u * i);
        ASSERT_GT(n, 0u);
        flagged.push_back(enc.last_was_keyframe == 1);
        // The MP4 writer's bytes: from the NAL length to before the previous tag size.
        ASSERT_TRUE(flv.decode(out.data() + kFlvAvcNalOffset, n - kFlvAvcNalOffset - 4)) << "picture " << i;
        ASSERT_TRUE(mp4.decode(out.data() + kFlvAvcNalOffset, n - kFlvAvcNalOffset - 4)) << "picture " << i;
    }
    ASSERT_TRUE(flv.flush() && mp4.flush());
    EXPECT_EQ(flv.errors + mp4.errors, 0);
    ASSERT_EQ(flv.pictures.size(), static_cast<size_t>(kFrames));
    ASSERT_EQ(mp4.pictures.size(), static_cast<size_t>(kFrames));
    EXPECT_TRUE(flagged[0]);
    EXPECT_TRUE(flagged[kForced]);
    for (int i = 0; i < kFrames; ++i) {
        const testing::DecodedPicture& d = mp4.pictures[i];
        ASSERT_EQ(d.width, src.width);
        ASSERT_EQ(d.height, src.height);
        EXPECT_EQ(d.key_frame, flagged[i]) << "picture " << i;
        EXPECT_EQ(d.intra, flagged[i]) << "picture " << i;
        EXPECT_EQ(flv.pictures[i].y, d.y);
        const I420Picture& ref = sources[i];
        const size_t luma = static_cast<size_t>(src.width) * src.height;
        EXPECT_GT(testing::psnr(d.y.data(), ref.y(), luma), kMinLumaPsnr) << "picture " << i;
        EXPECT_GT(testing::psnr(d.u.data(), ref.u(), luma / 4), kMinChromaPsnr) << "picture " << i;
        EXPECT_GT(testing::psnr(d.v.data(), ref.v(), luma / 4), kMinChromaPsnr) << "picture " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, H264DecodeTest,
                         ::testing::Values(Source{32, 320, 240}, Source{24, 320, 240}, Source{16, 320, 240},
                                           Source{32, 98, 66}, Source{24, 46, 34}),
                         [](const auto& info) { return name_of(info.param); });

TEST(H264DecodePlanar, AnnexBStreamDecodesFromItsOwnParameterSets)
{
    const int32_t w = 176, h = 144;
    H264Encoder enc;
    enc.set_input_mode(H264InputMode::I420);
    ASSERT_EQ(enc.open(w, h, 15), 1);
    testing::TestH264Decoder dec;
    ASSERT_TRUE(dec.ok());
    Bytes out(H264Encoder::recommended_output_capacity(w, h));
    std::vector<I420Picture> sources;
    for (int i = 0; i < 8; ++i) {
        const Bytes frame = testing::screen_frame(w, h, 4, i);
        // The screen codec's pictures are bottom-up I420: convert top-down data into
        // the picture without flipping, so the stored rows are bottom row first.
        I420Picture bottom_up, upright;
        ASSERT_EQ(bottom_up.allocate(w, h), 1);
        ASSERT_EQ(upright.allocate(w, h), 1);
        ASSERT_EQ(convert_to_i420(frame.data(), PixelLayout::Bgra32, w, h, false, bottom_up.planes()), 1);
        ASSERT_EQ(convert_to_i420(frame.data(), PixelLayout::Bgra32, w, h, true, upright.planes()), 1);
        bottom_up.bottom_up = true;
        sources.push_back(std::move(upright));
        if (i == 5)
            enc.force_keyframe = 1;
        const size_t n = enc.encode(bottom_up, out.data(), out.size(), 0);
        ASSERT_GT(n, 0u);
        ASSERT_TRUE(dec.decode(out.data(), n)) << "picture " << i;
    }
    ASSERT_TRUE(dec.flush());
    EXPECT_EQ(dec.errors, 0);
    ASSERT_EQ(dec.pictures.size(), 8u);
    for (size_t i = 0; i < dec.pictures.size(); ++i) {
        EXPECT_EQ(dec.pictures[i].key_frame, i == 0 || i == 5) << i;
        EXPECT_GT(testing::psnr(dec.pictures[i].y.data(), sources[i].y(), static_cast<size_t>(w) * h), kMinLumaPsnr);
    }
}

} // namespace
} // namespace quillet
