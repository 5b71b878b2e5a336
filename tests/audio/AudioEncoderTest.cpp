#include <gtest/gtest.h>

#include <vector>

#include <lame/lame.h>

#include "audio/AudioEncoder.h"
#include "engine/AudioFormats.h"
#include "tests/audio/CodingTestSupport.h"

namespace quillet {
namespace {

using testing::makeTonePcm;

struct Opened {
    AudioTargetFormat target;
    CaptureAudioFormat capture;
};

Opened formatsFor(int quality, OutputType type)
{
    Opened o;
    o.target = buildAudioTargetFormat(quality, type);
    o.capture = captureFormatFor(o.target);
    return o;
}

// Splits encode() output into its records; fails the test on a malformed one.
std::vector<std::vector<uint8_t>> records(const uint8_t* data, int size)
{
    std::vector<std::vector<uint8_t>> out;
    int at = 0;
    while (at < size) {
        EXPECT_LE(at + 2, size);
        const int len = data[at] | data[at + 1] << 8;
        EXPECT_LE(at + 2 + len, size);
        EXPECT_GE(len, 7);
        if (at + 2 + len > size || len < 7)
            return {};
        out.emplace_back(data + at + 2, data + at + 2 + len);
        at += 2 + len;
    }
    return out;
}

TEST(AudioEncoder, PicksTheBackEndByCaptureRate)
{
    const int aacKbps[5] = {16, 16, 24, 40, 56};
    const int aacChannels[5] = {1, 1, 1, 2, 2};
    const int mp3Brate[5] = {8, 16, 24, 40, 56};
    for (int q = 0; q < 5; ++q) {
        for (OutputType t : {OutputMp4, OutputFlv}) {
            const Opened o = formatsFor(q, t);
            AudioEncoder enc;
            ASSERT_EQ(1, enc.open(o.capture, o.target, Mp3Framing::FlushEachBuffer));
            EXPECT_EQ(AudioEncoder::Backend::Aac, enc.backend()) << q;
            EXPECT_EQ(aacKbps[q], enc.aacBitrateKbps()) << q;
            EXPECT_EQ(aacChannels[q], enc.channels()) << q;
            EXPECT_FALSE(enc.mp3().isStarted());
        }
        for (OutputType t : {OutputAvi, OutputOwnRecord}) {
            const Opened o = formatsFor(q, t);
            AudioEncoder enc;
            ASSERT_EQ(1, enc.open(o.capture, o.target, Mp3Framing::Continuous));
            EXPECT_EQ(AudioEncoder::Backend::Mp3, enc.backend()) << q;
            EXPECT_EQ(0, enc.aacBitrateKbps());
            EXPECT_EQ(mp3Brate[q], lame_get_brate(enc.mp3().lameHandle())) << q;
            EXPECT_EQ(0, enc.mp3().flushEachBuffer());
        }
    }
    const Opened swf = formatsFor(4, OutputSwf);
    AudioEncoder enc;
    ASSERT_EQ(1, enc.open(swf.capture, swf.target, Mp3Framing::FlushEachBuffer));
    EXPECT_EQ(AudioEncoder::Backend::Mp3, enc.backend());
    EXPECT_EQ(11025, enc.mp3().inputSampleRate());
    EXPECT_EQ(1, enc.mp3().flushEachBuffer());
}

TEST(AudioEncoder, RefusedAacFallsBackToMp3AtTheCaptureRate)
{
    Opened o = formatsFor(0, OutputFlv);
    o.target.channels = 2; // 16 kbit/s over two channels is below the AAC minimum
    o.capture = captureFormatFor(o.target);
    AudioEncoder enc;
    ASSERT_EQ(1, enc.open(o.capture, o.target, Mp3Framing::FlushEachBuffer));
    EXPECT_EQ(AudioEncoder::Backend::Mp3, enc.backend());
    lame_global_flags* gf = enc.mp3().lameHandle();
    EXPECT_EQ(32000, lame_get_out_samplerate(gf));
    EXPECT_EQ(32, lame_get_VBR_min_bitrate_kbps(gf));
    EXPECT_EQ(320, lame_get_VBR_max_bitrate_kbps(gf));
    EXPECT_EQ(1, enc.mp3().flushEachBuffer());
}

TEST(AudioEncoder, OpenFailsWhenNoBackEndTakesTheFormat)
{
    Opened o = formatsFor(2, OutputAvi);
    o.target.channels = 3;
    o.capture = captureFormatFor(o.target);
    AudioEncoder enc;
    EXPECT_EQ(0, enc.open(o.capture, o.target, Mp3Framing::Continuous));
    EXPECT_EQ(AudioEncoder::Backend::None, enc.backend());
    std::vector<uint8_t> pcm(600), out(64000);
    EXPECT_EQ(-1, enc.encode(pcm.data(), out.data(), 600, 64000));
}

TEST(AudioEncoder, WholeChunkBuffersGiveOneRecordPerChunk)
{
    struct Case {
        int quality;
        int bufferBytes;
        int channels;
    };
    for (const Case c : {Case{3, 20480, 2}, Case{0, 10240, 1}}) {
        const Opened o = formatsFor(c.quality, OutputMp4);
        ASSERT_EQ(c.channels, o.capture.channels);
        AudioEncoder enc;
        ASSERT_EQ(1, enc.open(o.capture, o.target, Mp3Framing::Continuous));
        const std::vector<uint8_t> pcm = makeTonePcm(32000, c.channels, c.bufferBytes / (2 * c.channels), 1000, 0.5);
        std::vector<uint8_t> out(64000);
        for (int buffer = 0; buffer < 3; ++buffer) {
            const int n = enc.encode(pcm.data(), out.data(), int(pcm.size()), int(out.size()));
            ASSERT_GT(n, 0);
            const auto recs = records(out.data(), n);
            EXPECT_EQ(5u, recs.size());
            for (const auto& r : recs) {
                EXPECT_EQ(0xFF, r[0]);
                EXPECT_EQ(0xF9, r[1]);
                EXPECT_EQ(int(r.size()), (r[3] & 3) << 11 | r[4] << 3 | r[5] >> 5) << "ADTS length = record length";
            }
            EXPECT_EQ(0, enc.pendingBytes());
        }
    }
}

// Buffers that end mid-chunk: the encoder must never read past their valid
// length (each buffer is an exactly sized heap block, so the address
// sanitiser catches any over-read), and the stream must come out the same as
// if the PCM had arrived in whole chunks, with no silence inserted.
TEST(AudioEncoder, PartialChunksAreCarriedOverNotReadPastOrPadded)
{
    for (int quality : {0, 4}) {
        const Opened o = formatsFor(quality, OutputMp4);
        const int channels = o.capture.channels;
        const std::vector<uint8_t> pcm = makeTonePcm(32000, channels, 32000, 440, 0.5);
        auto run = [&](const std::vector<int>& sizes) {
            AudioEncoder enc;
            EXPECT_EQ(1, enc.open(o.capture, o.target, Mp3Framing::Continuous));
            std::vector<uint8_t> stream;
            size_t at = 0;
            for (size_t i = 0; at < pcm.size(); ++i) {
                const size_t n = std::min(size_t(sizes[i % sizes.size()]), pcm.size() - at);
                const std::vector<uint8_t> buffer(pcm.begin() + long(at), pcm.begin() + long(at + n));
                std::vector<uint8_t> out(size_t(enc.maxOutputBytes(int(n))));
                const int written = enc.encode(buffer.data(), out.data(), int(n), int(out.size()));
                EXPECT_GE(written, 0);
                stream.insert(stream.end(), out.begin(), out.begin() + std::max(written, 0));
                at += n;
                EXPECT_EQ(int(at % size_t(aacChunkBytes(channels))), enc.pendingBytes());
            }
            std::vector<uint8_t> out(size_t(enc.maxOutputBytes(0)));
            const int written = enc.finish(out.data(), int(out.size()));
            EXPECT_GT(written, 0);
            stream.insert(stream.end(), out.begin(), out.begin() + std::max(written, 0));
            return stream;
        };
        const std::vector<uint8_t> whole = run({4 * aacChunkBytes(channels)});
        EXPECT_EQ(whole, run({3001, 517, 1, 6000})) << "quality " << quality;
        EXPECT_EQ(whole, run({aacChunkBytes(channels) - 2, aacChunkBytes(channels) + 2})) << "quality " << quality;
        // 32000 sample frames are 31.25 chunks: 31 whole, one padded by finish(), two for the delay.
        EXPECT_EQ(31u + 1 + 2, records(whole.data(), int(whole.size())).size());
    }
}

TEST(AudioEncoder, BadCallsWriteAndConsumeNothing)
{
    const Opened o = formatsFor(0, OutputMp4);
    AudioEncoder enc;
    std::vector<uint8_t> pcm(3000), out(64000);
    EXPECT_EQ(AudioEncoder::Backend::None, enc.backend());
    EXPECT_EQ(1, enc.channels());
    EXPECT_EQ(-1, enc.encode(pcm.data(), out.data(), 3000, 64000)) << "not open";
    EXPECT_EQ(-1, enc.finish(out.data(), 64000)) << "not open";

    ASSERT_EQ(1, enc.open(o.capture, o.target, Mp3Framing::Continuous));
    EXPECT_EQ(0, enc.encode(pcm.data(), out.data(), 0, 64000));
    EXPECT_EQ(0, enc.encode(pcm.data(), out.data(), -5, 64000));
    EXPECT_EQ(-1, enc.encode(pcm.data(), out.data(), 3000, enc.maxOutputBytes(3000) - 1));
    EXPECT_EQ(0, enc.pendingBytes()) << "a refused call keeps nothing";
    EXPECT_EQ(-1, enc.encode(nullptr, out.data(), 3000, 64000));
    EXPECT_EQ(-1, enc.encode(pcm.data(), nullptr, 3000, 64000));
    EXPECT_EQ(-1, enc.finish(out.data(), enc.maxOutputBytes(0) - 1));

    EXPECT_EQ(0, enc.encode(pcm.data(), out.data(), 1000, 64000)) << "less than a chunk: kept";
    EXPECT_EQ(1000, enc.pendingBytes());
    EXPECT_GT(enc.finish(out.data(), 64000), 0);
    EXPECT_EQ(-1, enc.encode(pcm.data(), out.data(), 3000, 64000)) << "after finish";
    ASSERT_EQ(1, enc.open(o.capture, o.target, Mp3Framing::Continuous)) << "open starts a new stream";
    EXPECT_GT(enc.encode(pcm.data(), out.data(), 3000, 64000), 0);
    enc.close();
    EXPECT_EQ(AudioEncoder::Backend::None, enc.backend());
    EXPECT_EQ(0, enc.pendingBytes());
}

TEST(AudioEncoder, SessionBufferHoldsAWholeSecondOfEveryFormat)
{
    // The session encodes into a 64000-byte buffer; a second of capture is the
    // longest buffer it hands over.
    for (int q = 0; q < 5; ++q) {
        for (OutputType t : {OutputMp4, OutputAvi}) {
            const Opened o = formatsFor(q, t);
            AudioEncoder enc;
            ASSERT_EQ(1, enc.open(o.capture, o.target, Mp3Framing::Continuous));
            EXPECT_LE(enc.maxOutputBytes(int(o.capture.avgBytesPerSecond)), 64000) << q << " " << int(t);
        }
    }
}

} // namespace
} // namespace quillet
