#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/AudioEncoder.h"
#include "engine/AudioFormats.h"
#include "engine/QualityLevel.h"
#include "tests/audio/CodingTestSupport.h"

namespace quillet {
namespace {

using namespace quillet::testing;

constexpr double kToneHz = 1000;
constexpr double kToneAmplitude = 0.5;

struct Encoded {
    std::vector<uint8_t> stream; // MP3 frames, or ADTS frames with the length prefixes removed
    int records = 0;
};

// Feeds pcm in buffers of bufferBytes (the last may be shorter) and finishes.
Encoded encodeAll(AudioEncoder& enc, const std::vector<uint8_t>& pcm, size_t bufferBytes)
{
    Encoded e;
    std::vector<uint8_t> out;
    auto take = [&](int n) {
        if (n <= 0)
            return;
        if (!enc.isAac()) {
            e.stream.insert(e.stream.end(), out.begin(), out.begin() + n);
            return;
        }
        for (int at = 0; at < n;) {
            const int len = out[size_t(at)] | out[size_t(at) + 1] << 8;
            e.stream.insert(e.stream.end(), out.begin() + at + 2, out.begin() + at + 2 + len);
            at += len + 2;
            ++e.records;
        }
    };
    for (size_t at = 0; at < pcm.size(); at += bufferBytes) {
        const size_t n = std::min(bufferBytes, pcm.size() - at);
        const std::vector<uint8_t> buffer(pcm.begin() + long(at), pcm.begin() + long(at + n)); // exact size
        out.assign(size_t(enc.maxOutputBytes(int(n))), 0);
        const int written = enc.encode(buffer.data(), out.data(), int(n), int(out.size()));
        EXPECT_GE(written, 0);
        take(written);
    }
    out.assign(size_t(enc.maxOutputBytes(0)), 0);
    const int written = enc.finish(out.data(), int(out.size()));
    EXPECT_GE(written, 0);
    take(written);
    return e;
}

struct Level {
    int quality;
    OutputType type;
};

// Every quality level through both back ends: MP4 (AAC at 32000 Hz) and AVI
// (MP3 at the table rates), plus SWF's MP3 with a flush after each buffer.
class ToneRoundTrip : public ::testing::TestWithParam<Level> {};

TEST_P(ToneRoundTrip, ToneKeepsItsPitchAndAStatedSnr)
{
    const Level level = GetParam();
    const AudioTargetFormat target = buildAudioTargetFormat(level.quality, level.type);
    const CaptureAudioFormat capture = captureFormatFor(target);
    AudioEncoder enc;
    const Mp3Framing framing = level.type == OutputSwf ? Mp3Framing::FlushEachBuffer : Mp3Framing::Continuous;
    ASSERT_EQ(1, enc.open(capture, target, framing));
    const bool aac = level.type == OutputMp4;
    ASSERT_EQ(aac, enc.isAac());

    const int rate = int(capture.sampleRate);
    const int channels = capture.channels;
    const int frames = rate * 3;
    const std::vector<uint8_t> pcm = makeTonePcm(rate, channels, frames, kToneHz, kToneAmplitude);
    // Buffers as the capture delivers them: 4 AAC chunks, or a quarter second for MP3.
    const size_t buffer = aac ? size_t(4 * aacChunkBytes(channels)) : size_t(capture.avgBytesPerSecond / 4);
    const Encoded e = encodeAll(enc, pcm, buffer);

    const DecodedAudio d = decodeStream(e.stream, aac ? "aac" : "mp3");
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(rate, d.sampleRate);
    EXPECT_EQ(channels, d.channels);
    if (aac) {
        EXPECT_EQ(d.packets, e.records);
    }

    // Output may only be longer than the input by the codec's delay and padding.
    const long decodedFrames = long(d.samples.size()) / channels;
    EXPECT_GE(decodedFrames, frames);
    EXPECT_LE(decodedFrames, frames + 4 * 1152);

    // Measured 75..92 dB with Debian 12's LAME and libavcodec; 60 dB leaves
    // room for other library versions while any framing or timing fault
    // (a lost, doubled or garbled frame) drops far below it.
    constexpr double kMinSnrDb = 60;
    for (int c = 0; c < channels; ++c) {
        const std::vector<float> decoded = d.channel(c);
        const double freq = peakFrequencyHz(decoded, rate);
        EXPECT_NEAR(kToneHz, freq, 2.0) << "channel " << c;
        const double snr = toneSnrDb(decoded, rate, kToneHz, rate / 4);
        EXPECT_GE(snr, kMinSnrDb) << "channel " << c;
        std::printf("[ figures  ] level %d %s %d Hz %d ch: peak %.2f Hz, SNR %.1f dB, %zu bytes for 3 s\n",
                    level.quality, aac ? "AAC" : "MP3", rate, channels, freq, snr, e.stream.size());
    }
}

INSTANTIATE_TEST_SUITE_P(AllQualityLevels, ToneRoundTrip,
                         ::testing::Values(Level{0, OutputMp4}, Level{1, OutputMp4}, Level{2, OutputMp4},
                                           Level{3, OutputMp4}, Level{4, OutputMp4}, Level{0, OutputAvi},
                                           Level{1, OutputAvi}, Level{2, OutputAvi}, Level{3, OutputAvi},
                                           Level{4, OutputAvi}, Level{4, OutputSwf}),
                         [](const ::testing::TestParamInfo<Level>& info) {
                             return std::string(info.param.type == OutputMp4   ? "Mp4"
                                                : info.param.type == OutputAvi ? "Avi"
                                                                               : "Swf") +
                                    std::to_string(info.param.quality);
                         });

// The sound keeps its place: a tone that starts at a known sample comes out
// of a real decoder exactly outputDelaySamples() later, whatever the buffer size.
TEST(AacTiming, OnsetComesOutAfterExactlyTheStatedDelay)
{
    for (int quality : {0, 4}) {
        const AudioTargetFormat target = buildAudioTargetFormat(quality, OutputMp4);
        const CaptureAudioFormat capture = captureFormatFor(target);
        AudioEncoder enc;
        ASSERT_EQ(1, enc.open(capture, target, Mp3Framing::Continuous));
        const int channels = capture.channels;
        const int onset = 10000; // not a multiple of 1024
        std::vector<uint8_t> pcm(size_t(onset) * size_t(channels) * 2, 0);
        const std::vector<uint8_t> tone = makeTonePcm(32000, channels, 32000, 250, 0.5, 8);
        pcm.insert(pcm.end(), tone.begin(), tone.end());
        const Encoded e = encodeAll(enc, pcm, 3001 * size_t(channels));
        const DecodedAudio d = decodeStream(e.stream, "aac");
        ASSERT_TRUE(d.ok) << d.error;
        const int inputOnset = firstAbove(pcmChannel(pcm, channels, 0), 0.25f);
        const int outputOnset = firstAbove(d.channel(0), 0.25f);
        std::printf("[ figures  ] quality %d: input onset %d, decoded onset %d, delay %d samples\n", quality,
                    inputOnset, outputOnset, outputOnset - inputOnset);
        EXPECT_NEAR(enc.outputDelaySamples(), outputOnset - inputOnset, 8);
        // Every input sample is decoded after finish().
        EXPECT_GE(long(d.samples.size()) / channels, long(pcm.size()) / (2 * channels) + enc.outputDelaySamples());
    }
}

TEST(AacBandwidth, TwentyKilohertzLimitHoldsAtTheHighestRate)
{
    AudioTargetFormat target = buildAudioTargetFormat(4, OutputMp4);
    target.sampleRate = 48000;
    target.channels = 1;
    target.avgBytesPerSecond = 20000; // 160 kbit/s, where the preset alone would go higher
    const CaptureAudioFormat capture = captureFormatFor(target);
    AudioEncoder enc;
    ASSERT_EQ(1, enc.open(capture, target, Mp3Framing::Continuous));
    ASSERT_TRUE(enc.isAac());
    const std::vector<uint8_t> pcm = makeNoisePcm(48000, 1, 48000 * 2, 0.5, 7);
    const Encoded e = encodeAll(enc, pcm, 8192);
    const DecodedAudio d = decodeStream(e.stream, "aac");
    ASSERT_TRUE(d.ok) << d.error;
    const double above = energyAboveDb(d.samples, 48000, 20500);
    const double input = energyAboveDb(pcmChannel(pcm, 1, 0), 48000, 20500);
    std::printf("[ figures  ] energy above 20.5 kHz: input %.1f dB, decoded %.1f dB\n", input, above);
    EXPECT_LT(above, input - 20);
    // The encoder does use the band up to the limit at this rate.
    EXPECT_GT(energyAboveDb(d.samples, 48000, 15000), -20);
}

TEST(AacBitRate, EachLevelKeepsCloseToItsTarget)
{
    for (int quality = 0; quality <= 4; ++quality) {
        const AudioTargetFormat target = buildAudioTargetFormat(quality, OutputMp4);
        const CaptureAudioFormat capture = captureFormatFor(target);
        AudioEncoder enc;
        ASSERT_EQ(1, enc.open(capture, target, Mp3Framing::Continuous));
        const int seconds = 4;
        const std::vector<uint8_t> pcm = makeNoisePcm(32000, capture.channels, 32000 * seconds, 0.3, 11);
        const Encoded e = encodeAll(enc, pcm, size_t(4 * aacChunkBytes(capture.channels)));
        // Raw AAC bits only: the ADTS headers are not stored by the MP4 and FLV writers.
        const double kbps = double(e.stream.size() - size_t(7 * e.records)) * 8 / seconds / 1000;
        std::printf("[ figures  ] level %d: target %d kbit/s, measured %.1f kbit/s on noise\n", quality,
                    enc.aacBitrateKbps(), kbps);
        EXPECT_NEAR(enc.aacBitrateKbps(), kbps, enc.aacBitrateKbps() * 0.25);
    }
}

TEST(RealDecoderProgram, StreamsDecodeWithoutAnyError)
{
    struct Case {
        int quality;
        OutputType type;
        Mp3Framing framing;
        const char* format;
    };
    const Case cases[] = {{3, OutputMp4, Mp3Framing::Continuous, "aac"},
                          {1, OutputSwf, Mp3Framing::FlushEachBuffer, "mp3"},
                          {3, OutputAvi, Mp3Framing::Continuous, "mp3"}};
    for (const Case& c : cases) {
        const AudioTargetFormat target = buildAudioTargetFormat(c.quality, c.type);
        const CaptureAudioFormat capture = captureFormatFor(target);
        AudioEncoder enc;
        ASSERT_EQ(1, enc.open(capture, target, c.framing));
        const std::vector<uint8_t> pcm =
            makeTonePcm(int(capture.sampleRate), capture.channels, int(capture.sampleRate), 1000, 0.5);
        const Encoded e = encodeAll(enc, pcm, capture.avgBytesPerSecond / 5);
        bool available = true;
        const std::string errors = ffmpegDecodeErrors(e.stream, c.format, &available);
        if (!available)
            GTEST_SKIP() << "no ffmpeg program";
        EXPECT_EQ("", errors) << c.format << " level " << c.quality;
    }
}

TEST(Mp3Fallback, RefusedAacFallsBackToAPlayableMp3Stream)
{
    AudioTargetFormat target = buildAudioTargetFormat(0, OutputFlv);
    target.channels = 2; // 2000 bytes/s over two channels: 8 kbit/s each, below the AAC minimum
    const CaptureAudioFormat capture = captureFormatFor(target);
    AudioEncoder enc;
    ASSERT_EQ(1, enc.open(capture, target, Mp3Framing::FlushEachBuffer));
    ASSERT_EQ(AudioEncoder::Backend::Mp3, enc.backend());
    const std::vector<uint8_t> pcm = makeTonePcm(32000, 2, 32000 * 2, 1000, 0.5);
    const Encoded e = encodeAll(enc, pcm, 12800);
    const DecodedAudio d = decodeStream(e.stream, "mp3");
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(32000, d.sampleRate);
    EXPECT_EQ(2, d.channels);
    EXPECT_NEAR(1000, peakFrequencyHz(d.channel(1), 32000), 2.0);
}

} // namespace
} // namespace quillet
