#include <gtest/gtest.h>

#include <vector>

extern "C" {
#include <libavcodec/adts_parser.h>
}

#include "audio/aac/AacLcEncoder.h"
#include "audio/aac/AdtsHeader.h"
#include "tests/audio/CodingTestSupport.h"

namespace quillet {
namespace {

using testing::decodeStream;
using testing::makeTonePcm;

int adtsLength(const uint8_t* h) { return (h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5; }

AacEncoderPtr openDefault(int rate, unsigned kbps, int channels)
{
    return AacEncoderPtr(aacEncoderOpen(rate, kbps, channels, 1, 2, 0, 20, 2));
}

TEST(AdtsHeader, WritesTheFieldsBitForBit)
{
    uint8_t h[7] = {};
    ASSERT_EQ(1, writeAdtsHeader(h, {1, 2, 32000, 1, 100}));
    // profile 1 (LC), index 5, channel configuration 1, length 100, fullness 0x7FF.
    const uint8_t mono[7] = {0xFF, 0xF9, 0x54, 0x40, 0x0C, 0x9F, 0xFC};
    EXPECT_EQ(0, memcmp(h, mono, 7));

    ASSERT_EQ(1, writeAdtsHeader(h, {0, 2, 48000, 2, 8191}));
    const uint8_t stereo[7] = {0xFF, 0xF1, 0x4C, 0x83, 0xFF, 0xFF, 0xFC};
    EXPECT_EQ(0, memcmp(h, stereo, 7));
}

TEST(AdtsHeader, LibraryParserReadsOurHeaders)
{
    for (int rate : {32000, 44100, 48000}) {
        for (int channels : {1, 2}) {
            uint8_t h[7] = {};
            ASSERT_EQ(1, writeAdtsHeader(h, {1, 2, rate, channels, 371}));
            uint32_t samples = 0;
            uint8_t frames = 0;
            EXPECT_EQ(0, av_adts_header_parse(h, &samples, &frames)) << rate << " Hz, " << channels << " ch";
            EXPECT_EQ(371, adtsLength(h));
            EXPECT_EQ(1024u, samples);
            EXPECT_EQ(1, frames);
        }
    }
}

TEST(AdtsHeader, RefusesFieldsThatDoNotFit)
{
    uint8_t h[7] = {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11};
    EXPECT_EQ(-1, adtsFrequencyIndex(22000));
    EXPECT_EQ(5, adtsFrequencyIndex(32000));
    EXPECT_EQ(0, writeAdtsHeader(h, {1, 2, 22000, 1, 100}));
    EXPECT_EQ(0, writeAdtsHeader(h, {1, 2, 32000, 1, 8192}));
    EXPECT_EQ(0, writeAdtsHeader(h, {1, 2, 32000, 1, 6}));
    EXPECT_EQ(0, writeAdtsHeader(h, {1, 2, 32000, 0, 100}));
    EXPECT_EQ(0, writeAdtsHeader(h, {1, 2, 32000, 8, 100}));
    EXPECT_EQ(0, writeAdtsHeader(h, {2, 2, 32000, 1, 100}));
    EXPECT_EQ(0x11, h[0]) << "a refused header must leave the output alone";
}

TEST(AacLcEncoder, OpensOnlyTheSupportedFormats)
{
    EXPECT_TRUE(openDefault(32000, 16, 1));
    EXPECT_TRUE(openDefault(44100, 320, 2));
    EXPECT_TRUE(openDefault(48000, 160, 1));
    EXPECT_TRUE(openDefault(32000, 32, 2));

    EXPECT_FALSE(openDefault(16000, 24, 1));
    EXPECT_FALSE(openDefault(22050, 24, 1));
    EXPECT_FALSE(openDefault(96000, 64, 1));
    EXPECT_FALSE(openDefault(32000, 15, 1)) << "below 16 kbit/s per channel";
    EXPECT_FALSE(openDefault(32000, 161, 1)) << "above 160 kbit/s per channel";
    EXPECT_FALSE(openDefault(32000, 16, 2)) << "8 kbit/s per channel";
    EXPECT_FALSE(openDefault(32000, 321, 2));
    EXPECT_FALSE(openDefault(32000, 64, 0));
    EXPECT_FALSE(openDefault(32000, 64, 3));

    EXPECT_FALSE(AacEncoderPtr(aacEncoderOpen(32000, 16, 1, 2, 2, 0, 20, 2))) << "MPEG ID";
    EXPECT_FALSE(AacEncoderPtr(aacEncoderOpen(32000, 16, 1, 1, 1, 0, 20, 2))) << "object type other than LC";
    EXPECT_FALSE(AacEncoderPtr(aacEncoderOpen(32000, 16, 1, 1, 2, 1, 20, 2))) << "bit-rate mode";
    EXPECT_FALSE(AacEncoderPtr(aacEncoderOpen(32000, 16, 1, 1, 2, 0, 0, 2))) << "bandwidth limit";
    EXPECT_FALSE(AacEncoderPtr(aacEncoderOpen(32000, 16, 1, 1, 2, 0, 20, 0))) << "preset";
    EXPECT_FALSE(AacEncoderPtr(aacEncoderOpen(32000, 16, 1, 1, 2, 0, 20, 7))) << "preset";
    for (int preset = 1; preset <= 6; ++preset)
        EXPECT_TRUE(AacEncoderPtr(aacEncoderOpen(32000, 16, 1, 1, 2, 0, 20, preset))) << preset;
}

TEST(AacLcEncoder, EveryChunkYieldsOneAdtsFrameFromTheFirstOn)
{
    for (int channels : {1, 2}) {
        AacEncoderPtr enc = openDefault(32000, 24 * unsigned(channels), channels);
        ASSERT_TRUE(enc);
        const std::vector<uint8_t> pcm = makeTonePcm(32000, channels, 1024 * 20, 1000, 0.5);
        std::vector<uint8_t> stream;
        std::vector<uint8_t> out(size_t(aacMaxFrameBytes(channels)));
        for (int i = 0; i < 20; ++i) {
            int bytes = -1;
            ASSERT_EQ(1, aacEncoderEncodeFrame(enc.get(), pcm.data() + i * aacChunkBytes(channels),
                                               aacChunkBytes(channels), out.data(), &bytes));
            ASSERT_GE(bytes, 7);
            uint32_t samples = 0;
            uint8_t frames = 0;
            ASSERT_EQ(0, av_adts_header_parse(out.data(), &samples, &frames)) << "chunk " << i;
            EXPECT_EQ(bytes, adtsLength(out.data()));
            EXPECT_EQ(0xFF, out[0]);
            EXPECT_EQ(0xF9, out[1]);
            EXPECT_EQ(channels, (out[2] & 1) << 2 | out[3] >> 6);
            stream.insert(stream.end(), out.begin(), out.begin() + bytes);
        }
        const testing::DecodedAudio d = decodeStream(stream, "aac");
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(20, d.packets);
        EXPECT_EQ(channels, d.channels);
        EXPECT_EQ(size_t(20 * 1024 * channels), d.samples.size());
    }
}

TEST(AacLcEncoder, MpegIdZeroChangesOnlyTheIdBit)
{
    AacEncoderPtr enc(aacEncoderOpen(48000, 64, 1, 0, 2, 0, 20, 2));
    ASSERT_TRUE(enc);
    const std::vector<uint8_t> pcm = makeTonePcm(48000, 1, 1024, 1000, 0.5);
    std::vector<uint8_t> out(size_t(aacMaxFrameBytes(1)));
    int bytes = 0;
    ASSERT_EQ(1, aacEncoderEncodeFrame(enc.get(), pcm.data(), int(pcm.size()), out.data(), &bytes));
    EXPECT_EQ(0xF1, out[1]);
    EXPECT_EQ(3, (out[2] >> 2) & 0xF) << "48000 Hz index";
}

TEST(AacLcEncoder, ShortChunkIsReadOnlyUpToItsLength)
{
    AacEncoderPtr enc = openDefault(32000, 16, 1);
    ASSERT_TRUE(enc);
    // Exactly-sized heap block: reading past it is caught by the address sanitiser.
    const std::vector<uint8_t> pcm = makeTonePcm(32000, 1, 300, 1000, 0.5);
    std::vector<uint8_t> out(size_t(aacMaxFrameBytes(1)));
    int bytes = 0;
    ASSERT_EQ(1, aacEncoderEncodeFrame(enc.get(), pcm.data(), int(pcm.size()), out.data(), &bytes));
    EXPECT_GE(bytes, 7);
}

TEST(AacLcEncoder, RefusesBadFrameArguments)
{
    AacEncoderPtr enc = openDefault(32000, 16, 1);
    ASSERT_TRUE(enc);
    std::vector<uint8_t> pcm(size_t(aacChunkBytes(1)) + 2);
    std::vector<uint8_t> out(size_t(aacMaxFrameBytes(1)));
    int bytes = 99;
    EXPECT_EQ(0, aacEncoderEncodeFrame(enc.get(), pcm.data(), int(pcm.size()), out.data(), &bytes));
    EXPECT_EQ(0, bytes);
    EXPECT_EQ(0, aacEncoderEncodeFrame(enc.get(), pcm.data(), -2, out.data(), &bytes));
    EXPECT_EQ(0, aacEncoderEncodeFrame(nullptr, pcm.data(), 2048, out.data(), &bytes));
    EXPECT_EQ(0, aacEncoderEncodeFrame(enc.get(), nullptr, 2048, out.data(), &bytes));
    EXPECT_EQ(0, aacEncoderEncodeFrame(enc.get(), pcm.data(), 2048, nullptr, &bytes));
    EXPECT_EQ(0, aacEncoderEncodeFrame(enc.get(), pcm.data(), 2048, out.data(), nullptr));
    aacEncoderFree(nullptr);
}

TEST(AacLcEncoder, BandwidthFollowsRatePresetAndLimit)
{
    EXPECT_EQ(5600, aacBandwidthHz(16, 32000, 20, 2));
    EXPECT_EQ(8000, aacBandwidthHz(28, 32000, 20, 2));
    EXPECT_EQ(20000, aacBandwidthHz(160, 48000, 20, 2)) << "the 20 kHz limit";
    EXPECT_EQ(16000, aacBandwidthHz(160, 32000, 20, 2)) << "Nyquist";
    EXPECT_EQ(4900, aacBandwidthHz(16, 32000, 20, 1));
    EXPECT_EQ(8400, aacBandwidthHz(16, 32000, 20, 6));
    EXPECT_EQ(0, aacBandwidthHz(16, 32000, 20, 7));
}

} // namespace
} // namespace quillet
