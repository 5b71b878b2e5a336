#include "audio/loopback/LoopbackConverter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quillet {
namespace {

std::vector<uint8_t> pcm(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::vector<int16_t> samplesOf(const uint8_t* p, size_t bytes)
{
    std::vector<int16_t> s(bytes / 2);
    std::memcpy(s.data(), p, s.size() * 2);
    return s;
}

TEST(LoopbackConverter, StereoDeviceToMonoAtTwoThirdsRateAveragesThePickedFrame)
{
    // 48000 Hz stereo into 32000 Hz mono: output k is the mean of frame floor(k*3/2).
    const size_t frames = 8000;
    std::vector<int16_t> src(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        src[2 * i] = static_cast<int16_t>(i);
        src[2 * i + 1] = static_cast<int16_t>(-static_cast<int>(i) / 2 - 3);
    }
    const std::vector<uint8_t> in = pcm(src);
    std::vector<uint8_t> out(10240, 0xEE);
    const ConvertPass pass = convertLoopbackPass(in.data(), in.size(), {2, 48000, 16}, {1, 32000, 16}, out.data(),
                                                 out.size());
    ASSERT_EQ(pass.bytesWritten, 10240u);
    const std::vector<int16_t> o = samplesOf(out.data(), out.size());
    for (size_t k = 0; k < o.size(); ++k) {
        const size_t i = k * 3 / 2;
        ASSERT_EQ(o[k], (src[2 * i] + src[2 * i + 1]) >> 1) << "k=" << k;
    }
    // 5120 outputs cover exactly 7680 source frames: the next pass starts at
    // frame 7680 with no phase left over.
    EXPECT_EQ(pass.bytesConsumed, 7680u * 4);
    EXPECT_EQ(pass.nextPhase, 0u);
}

TEST(LoopbackConverter, MeanOfNegativeSamplesRoundsDownArithmetically)
{
    const std::vector<uint8_t> in = pcm({-3, 0, -32768, -32768, 32767, 32767});
    std::vector<uint8_t> out(6);
    convertLoopbackPass(in.data(), in.size(), {2, 8000, 16}, {1, 8000, 16}, out.data(), out.size());
    EXPECT_EQ(samplesOf(out.data(), 6), (std::vector<int16_t>{-2, -32768, 32767}));
}

TEST(LoopbackConverter, ChannelRulesAtEqualRates)
{
    const std::vector<uint8_t> mono = pcm({100, -200, 300});
    const std::vector<uint8_t> stereo = pcm({1, 2, 3, 4, 5, 6});
    std::vector<uint8_t> out(12);

    // Stereo from a mono device: the sound goes left, the right stays silent.
    ConvertPass p = convertLoopbackPass(mono.data(), mono.size(), {1, 44100, 16}, {2, 44100, 16}, out.data(), 12);
    EXPECT_EQ(p.bytesWritten, 12u);
    EXPECT_EQ(p.bytesConsumed, mono.size());
    EXPECT_EQ(samplesOf(out.data(), 12), (std::vector<int16_t>{100, 0, -200, 0, 300, 0}));

    p = convertLoopbackPass(stereo.data(), stereo.size(), {2, 44100, 16}, {2, 44100, 16}, out.data(), 12);
    EXPECT_EQ(samplesOf(out.data(), p.bytesWritten), (std::vector<int16_t>{1, 2, 3, 4, 5, 6}));

    p = convertLoopbackPass(mono.data(), mono.size(), {1, 44100, 16}, {1, 44100, 16}, out.data(), 12);
    EXPECT_EQ(samplesOf(out.data(), p.bytesWritten), (std::vector<int16_t>{100, -200, 300}));
    EXPECT_EQ(p.bytesConsumed, mono.size());
}

TEST(LoopbackConverter, UnsupportedDevicesSkipTheWholePacket)
{
    const std::vector<uint8_t> six(6 * 2 * 100, 0x11);
    std::vector<uint8_t> out(400, 0xEE);
    ConvertPass p = convertLoopbackPass(six.data(), six.size(), {6, 48000, 16}, {2, 32000, 16}, out.data(), 400);
    EXPECT_EQ(p.bytesWritten, 0u);
    EXPECT_EQ(p.bytesConsumed, six.size());
    EXPECT_EQ(out[0], 0xEE);

    p = convertLoopbackPass(six.data(), six.size(), {2, 48000, 8}, {2, 32000, 16}, out.data(), 400);
    EXPECT_EQ(p.bytesWritten, 0u);
    EXPECT_EQ(p.bytesConsumed, six.size());
}

TEST(LoopbackConverter, PacketRunningOutIsConsumedWholeAndSpaceCountsWholeFrames)
{
    // 480 frames at 48000 give exactly 320 frames at 32000.
    const std::vector<uint8_t> in(480 * 4, 0);
    std::vector<uint8_t> out(4000);
    ConvertPass p = convertLoopbackPass(in.data(), in.size(), {2, 48000, 16}, {2, 32000, 16}, out.data(), 4000);
    EXPECT_EQ(p.bytesWritten, 320u * 4);
    EXPECT_EQ(p.bytesConsumed, in.size());

    // 7 bytes of stereo space hold one frame only; the next pick lies half
    // way into source frame 1 (16000 of 32000).
    p = convertLoopbackPass(in.data(), in.size(), {2, 48000, 16}, {2, 32000, 16}, out.data(), 7);
    EXPECT_EQ(p.bytesWritten, 4u);
    EXPECT_EQ(p.bytesConsumed, 4u);
    EXPECT_EQ(p.nextPhase, 16000u);
}

TEST(LoopbackConverter, PhaseCarriesTheRateAcrossPackets)
{
    // Packets of 7 frames at 48000 into 32000: 7 * 2/3 = 4.67 outputs each.
    // Restarting the pick in every packet would give 5 outputs per packet and
    // run 7% long; carried over, three packets give exactly 14.
    std::vector<int16_t> src(21);
    for (int i = 0; i < 21; ++i)
        src[i] = static_cast<int16_t>(i);
    const std::vector<uint8_t> in = pcm(src);
    std::vector<uint8_t> out(100);
    std::vector<int16_t> got;
    uint64_t phase = 0;
    for (int p = 0; p < 3; ++p) {
        const ConvertPass pass = convertLoopbackPass(in.data() + p * 14, 14, {1, 48000, 16}, {1, 32000, 16},
                                                     out.data(), out.size(), phase);
        EXPECT_EQ(pass.bytesConsumed, 14u);
        const std::vector<int16_t> s = samplesOf(out.data(), pass.bytesWritten);
        got.insert(got.end(), s.begin(), s.end());
        phase = pass.nextPhase;
    }
    EXPECT_EQ(got, (std::vector<int16_t>{0, 1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16, 18, 19}));
    EXPECT_EQ(phase, 0u);
}

TEST(LoopbackConverter, UpsamplingRepeatsTheEarlierFrame)
{
    const std::vector<uint8_t> in = pcm({10, 20, 30});
    std::vector<uint8_t> out(100);
    const ConvertPass p = convertLoopbackPass(in.data(), in.size(), {1, 16000, 16}, {1, 32000, 16}, out.data(), 100);
    EXPECT_EQ(samplesOf(out.data(), p.bytesWritten), (std::vector<int16_t>{10, 10, 20, 20, 30, 30}));
    EXPECT_EQ(p.bytesConsumed, in.size());
}

TEST(LoopbackConverter, BadRequestWritesAndConsumesNothing)
{
    const std::vector<uint8_t> in(400, 1);
    std::vector<uint8_t> out(400);
    ConvertPass p = convertLoopbackPass(in.data(), in.size(), {2, 48000, 16}, {2, 0, 16}, out.data(), 400);
    EXPECT_EQ(p.bytesWritten + p.bytesConsumed, 0u);
    p = convertLoopbackPass(in.data(), in.size(), {2, 48000, 16}, {3, 48000, 16}, out.data(), 400);
    EXPECT_EQ(p.bytesWritten + p.bytesConsumed, 0u);
}

} // namespace
} // namespace quillet
