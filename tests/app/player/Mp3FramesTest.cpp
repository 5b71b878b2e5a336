// The MP3 frame decoder on streams from the recorder's own MP3 coder: every
// sample keeps its place when decoding starts in the middle of the stream (a
// seek lands inside a frame) or when a frame is damaged.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/player/media/Mp3Frames.h"
#include "audio/Mp3Backend.h"

namespace quillet::player {
namespace {

struct Stream {
    std::vector<std::vector<uint8_t>> chunks; // one per encoded buffer, as the files hold them
    int rate = 0;
    int channels = 0;
    int bytesPerSecond = 0;
};

// A rising tone, coded in quarter-second buffers the way recordings are.
Stream encode(int rate, int channels, int bytesPerSecond, double seconds)
{
    Stream s{{}, rate, channels, bytesPerSecond};
    Mp3Backend coder;
    coder.configure(rate, rate, channels, bytesPerSecond, 0, 0);
    EXPECT_EQ(coder.start(), 1);
    const int piece = rate / 4;
    std::vector<int16_t> pcm(size_t(piece) * size_t(channels));
    std::vector<uint8_t> out(size_t(Mp3Backend::maxOutputBytes(int(pcm.size() * 2))) + 8192);
    long t = 0;
    for (int p = 0; p < int(seconds * 4); ++p) {
        for (int i = 0; i < piece; ++i, ++t)
            for (int c = 0; c < channels; ++c)
                pcm[size_t(i * channels + c)] = int16_t(8000 * std::sin(2 * M_PI * (300 + t / 40.0) * t / rate));
        const int n = coder.encode(reinterpret_cast<const uint8_t*>(pcm.data()), int(pcm.size() * 2), out.data(),
                                   int(out.size()));
        EXPECT_GE(n, 0);
        s.chunks.emplace_back(out.begin(), out.begin() + std::max(0, n));
    }
    const int n = coder.finish(out.data(), int(out.size()));
    s.chunks.emplace_back(out.begin(), out.begin() + std::max(0, n));
    return s;
}

struct Decoded {
    std::vector<int64_t> firsts;
    std::vector<std::vector<int16_t>> frames;
};

Decoded decodeFrom(const Stream& s, size_t firstChunk, uint64_t streamOffset,
                   const std::vector<std::pair<size_t, size_t>>& damage = {})
{
    Mp3FrameDecoder d;
    EXPECT_EQ(d.open(s.channels, s.rate, uint32_t(s.bytesPerSecond)), 1);
    d.restart(streamOffset);
    Decoded out;
    uint64_t offset = streamOffset;
    for (size_t c = firstChunk; c < s.chunks.size(); ++c) {
        std::vector<uint8_t> bytes = s.chunks[c];
        for (const auto& [at, n] : damage)
            for (size_t i = at; i < at + n; ++i)
                if (i >= offset && i < offset + bytes.size())
                    bytes[i - offset] ^= 0x5A;
        offset += bytes.size();
        d.feed(bytes.data(), bytes.size());
        std::vector<int16_t> pcm;
        int64_t first = 0;
        while (d.decodeFrame(pcm, first)) {
            out.firsts.push_back(first);
            out.frames.push_back(pcm);
            pcm.clear();
        }
    }
    return out;
}

class Mp3FramesTest : public testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(Mp3FramesTest, SamplesKeepTheirPlaceFromAnyStartAndPastDamage)
{
    const auto [rate, channels, bytesPerSecond] = GetParam();
    const Stream s = encode(rate, channels, bytesPerSecond, 3.0);
    const int spf = rate >= 32000 ? 1152 : 576;
    const Decoded whole = decodeFrom(s, 0, 0);
    ASSERT_GT(whole.frames.size(), 20u);
    for (size_t k = 0; k < whole.firsts.size(); ++k)
        ASSERT_EQ(whole.firsts[k], int64_t(k) * spf) << "frame " << k;
    EXPECT_GE(int64_t(whole.frames.size()) * spf, int64_t(3 * rate));

    // Chunks end inside frames; a start at any of them numbers the frames as
    // the whole stream does; the priming frames are silent, and after them
    // the samples are the same.
    uint64_t offset = 0;
    int starts = 0;
    for (size_t c = 0; c + 2 < s.chunks.size(); offset += s.chunks[c].size(), ++c) {
        if (c == 0)
            continue;
        const Decoded part = decodeFrom(s, c, offset);
        ASSERT_GE(part.frames.size(), 2u);
        const int64_t k0 = part.firsts[0] / spf;
        ASSERT_LT(size_t(k0), whole.frames.size());
        EXPECT_EQ(part.firsts[0] % spf, 0);
        EXPECT_LE(double(k0) * spf * bytesPerSecond / rate - 1, double(offset) + 1.0 * spf * bytesPerSecond / rate)
            << "the first whole frame after the start";
        Mp3FrameDecoder probe;
        probe.open(s.channels, s.rate, uint32_t(s.bytesPerSecond));
        const size_t priming = size_t(probe.primingFrames());
        for (size_t i = 0; i < priming && i < part.frames.size(); ++i)
            for (int16_t v : part.frames[i])
                ASSERT_EQ(v, 0) << "priming frame " << i;
        for (size_t i = priming; i < part.frames.size(); ++i) {
            ASSERT_EQ(part.firsts[i], part.firsts[0] + int64_t(i) * spf);
            const std::vector<int16_t>& want = whole.frames[size_t(k0) + i];
            int worst = 0;
            for (size_t j = 0; j < want.size(); ++j)
                worst = std::max(worst, std::abs(int(want[j]) - int(part.frames[i][j])));
            ASSERT_LE(worst, 1) << "chunk " << c << ", frame " << k0 + int64_t(i);
        }
        ++starts;
    }
    EXPECT_GT(starts, 5);

    // Damage in a frame's header: the frames after it keep their places.
    const size_t bad = 20 * size_t(spf) * size_t(bytesPerSecond) / size_t(rate) + 1;
    const Decoded hurt = decodeFrom(s, 0, 0, {{bad, 6}});
    ASSERT_FALSE(hurt.firsts.empty());
    for (size_t i = 1; i < hurt.firsts.size(); ++i)
        EXPECT_EQ(hurt.firsts[i] % spf, 0);
    EXPECT_EQ(hurt.firsts.back(), whole.firsts.back()) << "the stream's end stays where it was";
}

// The recorder's rates (8, 11.025 and 16 kHz mono, MPEG 2 and 2.5) and an
// MPEG-1 stereo stream whose frames vary in size by their padding byte.
INSTANTIATE_TEST_SUITE_P(Rates, Mp3FramesTest,
                         testing::Values(std::make_tuple(8000, 1, 1000), std::make_tuple(11025, 1, 2000),
                                         std::make_tuple(16000, 1, 3000), std::make_tuple(44100, 2, 16000)));

TEST(Mp3Header, ReadsTheLayerThreeHeaders)
{
    Mp3FrameHeader h;
    const uint8_t mpeg1[4] = {0xFF, 0xFB, 0x92, 0x44}; // 128 kbit/s, 44.1 kHz, padded, joint stereo
    ASSERT_TRUE(parseMp3Header(mpeg1, h));
    EXPECT_EQ(h.bitrateKbps, 128);
    EXPECT_EQ(h.sampleRate, 44100);
    EXPECT_EQ(h.samples, 1152);
    EXPECT_EQ(h.bytes, 418);
    EXPECT_EQ(h.channels, 2);
    const uint8_t mpeg25[4] = {0xFF, 0xE3, 0x18, 0xC4}; // 8 kbit/s, 8 kHz, mono
    ASSERT_TRUE(parseMp3Header(mpeg25, h));
    EXPECT_EQ(h.sampleRate, 8000);
    EXPECT_EQ(h.samples, 576);
    EXPECT_EQ(h.bytes, 72);
    EXPECT_EQ(h.channels, 1);
    const uint8_t layer2[4] = {0xFF, 0xFD, 0x92, 0x44};
    const uint8_t freeRate[4] = {0xFF, 0xFB, 0x02, 0x44};
    const uint8_t reservedVersion[4] = {0xFF, 0xEB, 0x92, 0x44};
    EXPECT_FALSE(parseMp3Header(layer2, h));
    EXPECT_FALSE(parseMp3Header(freeRate, h));
    EXPECT_FALSE(parseMp3Header(reservedVersion, h));
}

} // namespace
} // namespace quillet::player
