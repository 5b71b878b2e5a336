#include <gtest/gtest.h>

#include <vector>

#include <lame/lame.h>

#include "audio/Mp3Backend.h"
#include "tests/audio/CodingTestSupport.h"

namespace quillet {
namespace {

using testing::makeTonePcm;

struct FrameHeader {
    int version;      // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer;        // header code: 1 = layer III
    int protectionBit;
    int bitrateKbps;
    int sampleRate;
    int padding;
    int privateBit;
    int mode;         // 3 mono, 1 joint stereo
    int copyright;
    int original;
    int bytes;        // whole frame length
};

// Parses one layer III frame header; bytes = 0 when it is not one.
FrameHeader parseHeader(const uint8_t* p)
{
    FrameHeader h{};
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return h;
    h.version = (p[1] >> 3) & 3;
    h.layer = (p[1] >> 1) & 3;
    h.protectionBit = p[1] & 1;
    static const int kMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const int rateIndex = (p[2] >> 2) & 3;
    if (h.version == 1 || h.layer != 1 || rateIndex == 3)
        return h;
    h.bitrateKbps = (h.version == 3 ? kMpeg1 : kMpeg2)[p[2] >> 4];
    h.sampleRate = kRates[h.version][rateIndex];
    h.padding = (p[2] >> 1) & 1;
    h.privateBit = p[2] & 1;
    h.mode = p[3] >> 6;
    h.copyright = (p[3] >> 3) & 1;
    h.original = (p[3] >> 2) & 1;
    const int coefficient = h.version == 3 ? 144 : 72;
    if (h.bitrateKbps > 0)
        h.bytes = coefficient * h.bitrateKbps * 1000 / h.sampleRate + h.padding;
    return h;
}

// Walks a buffer that must be nothing but whole frames (the last one may be
// cut short when allowed: a stream that is not finished ends mid-frame);
// returns the frames or an empty list when anything else is found.
std::vector<FrameHeader> walkFrames(const uint8_t* data, size_t size, bool allowCutLastFrame = false)
{
    std::vector<FrameHeader> frames;
    size_t at = 0;
    while (at + 4 <= size) {
        const FrameHeader h = parseHeader(data + at);
        if (h.bytes == 0)
            return {};
        frames.push_back(h);
        at += size_t(h.bytes);
    }
    if (at != size && !(allowCutLastFrame && at > size))
        return {};
    return frames;
}

struct Stream {
    std::vector<uint8_t> bytes;
    std::vector<size_t> bufferEnds; // where each encode() call's output ended
};

Stream encodeBuffers(Mp3Backend& mp3, const std::vector<uint8_t>& pcm, size_t bufferBytes)
{
    Stream s;
    for (size_t at = 0; at < pcm.size(); at += bufferBytes) {
        const size_t n = std::min(bufferBytes, pcm.size() - at);
        const std::vector<uint8_t> buffer(pcm.begin() + long(at), pcm.begin() + long(at + n));
        std::vector<uint8_t> out(size_t(Mp3Backend::maxOutputBytes(int(n))));
        const int written = mp3.encode(buffer.data(), int(n), out.data(), int(out.size()));
        EXPECT_GE(written, 0);
        if (written > 0)
            s.bytes.insert(s.bytes.end(), out.begin(), out.begin() + written);
        s.bufferEnds.push_back(s.bytes.size());
    }
    return s;
}

struct Setting {
    int rate;
    int channels;
    int bytesPerSecond;
    int brate;
    int vbrMean;
    int vbrMin;
    int vbrMax;
    int mpegVersion;
    int samplesPerFrame;
};

// The quality levels' MP3 formats and the 32000 Hz stereo fallback.
const Setting kSettings[] = {
    {8000, 1, 1000, 8, 8, 8, 160, 0, 576},      {11025, 1, 2000, 16, 16, 8, 160, 0, 576},
    {16000, 1, 3000, 24, 24, 8, 160, 2, 576},   {16000, 1, 5000, 40, 40, 8, 160, 2, 576},
    {16000, 1, 7000, 56, 56, 8, 160, 2, 576},   {32000, 2, 5000, 40, 40, 32, 320, 3, 2304},
};

TEST(Mp3Backend, SetsUpLameAsListed)
{
    for (const Setting& s : kSettings) {
        Mp3Backend mp3;
        EXPECT_EQ(1, mp3.configure(s.rate, s.rate, s.channels, s.bytesPerSecond, Mp3Backend::kVbrFieldsOn, 0));
        ASSERT_EQ(1, mp3.start()) << s.rate;
        lame_global_flags* gf = mp3.lameHandle();
        ASSERT_NE(nullptr, gf);
        EXPECT_EQ(s.rate, lame_get_in_samplerate(gf));
        EXPECT_EQ(s.rate, lame_get_out_samplerate(gf));
        EXPECT_EQ(s.channels, lame_get_num_channels(gf));
        EXPECT_EQ(s.channels == 1 ? MONO : JOINT_STEREO, lame_get_mode(gf));
        EXPECT_EQ(vbr_off, lame_get_VBR(gf));
        EXPECT_EQ(s.brate, lame_get_brate(gf)) << s.rate << " Hz " << s.bytesPerSecond;
        EXPECT_EQ(1, lame_get_VBR_q(gf));
        EXPECT_EQ(s.vbrMean, lame_get_VBR_mean_bitrate_kbps(gf));
        EXPECT_EQ(s.vbrMin, lame_get_VBR_min_bitrate_kbps(gf));
        EXPECT_EQ(s.vbrMax, lame_get_VBR_max_bitrate_kbps(gf));
        EXPECT_EQ(1, lame_get_copyright(gf));
        EXPECT_EQ(1, lame_get_original(gf));
        EXPECT_EQ(1, lame_get_error_protection(gf));
        EXPECT_EQ(1, lame_get_extension(gf));
        EXPECT_EQ(0, lame_get_bWriteVbrTag(gf));
        EXPECT_EQ(s.samplesPerFrame, mp3.samplesPerFrame());
    }
}

TEST(Mp3Backend, VbrFieldsStayUntouchedWithoutTheFlag)
{
    Mp3Backend mp3;
    mp3.configure(11025, 11025, 1, 2000, 0, 0);
    ASSERT_EQ(1, mp3.start());
    lame_global_flags* defaults = lame_init();
    EXPECT_EQ(lame_get_VBR_min_bitrate_kbps(defaults), lame_get_VBR_min_bitrate_kbps(mp3.lameHandle()));
    EXPECT_EQ(lame_get_VBR_q(defaults), lame_get_VBR_q(mp3.lameHandle()));
    lame_close(defaults);
}

TEST(Mp3Backend, EveryFrameIsCbrWithCrcAndTheThreeFlagBits)
{
    for (const Setting& s : kSettings) {
        Mp3Backend mp3;
        mp3.configure(s.rate, s.rate, s.channels, s.bytesPerSecond, Mp3Backend::kVbrFieldsOn, 0);
        ASSERT_EQ(1, mp3.start());
        const std::vector<uint8_t> pcm = makeTonePcm(s.rate, s.channels, s.rate * 2, 1000, 0.5);
        Stream st = encodeBuffers(mp3, pcm, size_t(s.rate / 4 * 2 * s.channels));
        std::vector<uint8_t> tail(size_t(Mp3Backend::maxOutputBytes(0)));
        const int flushed = mp3.finish(tail.data(), int(tail.size()));
        ASSERT_GE(flushed, 0);
        st.bytes.insert(st.bytes.end(), tail.begin(), tail.begin() + flushed);

        const std::vector<FrameHeader> frames = walkFrames(st.bytes.data(), st.bytes.size());
        ASSERT_FALSE(frames.empty()) << s.rate << ": not a bare frame stream";
        // Two seconds at one frame per (samplesPerFrame / channels) samples, plus the flushed delay.
        EXPECT_GE(frames.size(), size_t(2 * s.rate * s.channels / s.samplesPerFrame));
        for (const FrameHeader& h : frames) {
            EXPECT_EQ(s.mpegVersion, h.version);
            EXPECT_EQ(s.brate, h.bitrateKbps) << "constant bit rate";
            EXPECT_EQ(s.rate, h.sampleRate);
            EXPECT_EQ(0, h.protectionBit) << "protection bit cleared: CRC present";
            EXPECT_EQ(1, h.privateBit);
            EXPECT_EQ(1, h.copyright);
            EXPECT_EQ(1, h.original);
            EXPECT_EQ(s.channels == 1 ? 3 : 1, h.mode);
        }
    }
}

TEST(Mp3Backend, FlushFlagEndsEveryBufferOnAFrameBoundary)
{
    // 11025 Hz mono buffers of 5512 bytes (2756 samples) never hold whole frames
    // of 576 samples, so only the flush can make each buffer's output whole.
    for (int flush : {1, 0}) {
        for (int channels : {1, 2}) {
            const int rate = channels == 1 ? 11025 : 32000;
            Mp3Backend mp3;
            mp3.configure(rate, rate, channels, channels == 1 ? 2000 : 5000, Mp3Backend::kVbrFieldsOn, flush);
            ASSERT_EQ(1, mp3.start());
            const std::vector<uint8_t> pcm = makeTonePcm(rate, channels, rate * 2, 1000, 0.5);
            const Stream st = encodeBuffers(mp3, pcm, size_t(5512 * channels));
            ASSERT_FALSE(walkFrames(st.bytes.data(), st.bytes.size(), !flush).empty())
                << "flush " << flush << ", " << channels << " channel(s)";
            int straddling = 0;
            size_t begin = 0;
            for (size_t end : st.bufferEnds) {
                if (end > begin && walkFrames(st.bytes.data() + begin, end - begin).empty())
                    ++straddling;
                begin = end;
            }
            if (flush)
                EXPECT_EQ(0, straddling) << channels << " channel(s)";
            else
                EXPECT_GT(straddling, 0) << "without the flush frames run across buffers";
        }
    }
}

TEST(Mp3Backend, MisalignedInputGivesTheSameStream)
{
    const std::vector<uint8_t> pcm = makeTonePcm(16000, 1, 16000, 1000, 0.5);
    std::vector<uint8_t> shifted(pcm.size() + 1);
    std::copy(pcm.begin(), pcm.end(), shifted.begin() + 1);
    std::vector<uint8_t> outs[2];
    for (int i = 0; i < 2; ++i) {
        Mp3Backend mp3;
        mp3.configure(16000, 16000, 1, 3000, Mp3Backend::kVbrFieldsOn, 1);
        ASSERT_EQ(1, mp3.start());
        outs[i].resize(size_t(Mp3Backend::maxOutputBytes(int(pcm.size()))));
        const uint8_t* src = i == 0 ? pcm.data() : shifted.data() + 1;
        const int n = mp3.encode(src, int(pcm.size()), outs[i].data(), int(outs[i].size()));
        ASSERT_GT(n, 0);
        outs[i].resize(size_t(n));
    }
    EXPECT_EQ(outs[0], outs[1]);
}

TEST(Mp3Backend, BadCallsWriteNothing)
{
    Mp3Backend mp3;
    std::vector<uint8_t> pcm(4000), out(size_t(Mp3Backend::maxOutputBytes(4000)));
    EXPECT_EQ(-1, mp3.encode(pcm.data(), 4000, out.data(), int(out.size()))) << "not started";
    mp3.configure(16000, 16000, 1, 3000, Mp3Backend::kVbrFieldsOn, 1);
    ASSERT_EQ(1, mp3.start());
    EXPECT_EQ(-1, mp3.encode(pcm.data(), 4000, out.data(), 0)) << "LAME would read 0 as unlimited";
    EXPECT_EQ(-1, mp3.encode(pcm.data(), 4000, out.data(), 100));
    EXPECT_EQ(-1, mp3.encode(pcm.data(), 4000, nullptr, int(out.size())));
    EXPECT_EQ(-1, mp3.encode(nullptr, 4000, out.data(), int(out.size())));
    EXPECT_EQ(0, mp3.encode(pcm.data(), 1, out.data(), int(out.size()))) << "half a sample: nothing to do";
    EXPECT_GT(mp3.encode(pcm.data(), 4000, out.data(), int(out.size())), 0);
    EXPECT_GE(mp3.finish(out.data(), int(out.size())), 0);
    EXPECT_EQ(-1, mp3.encode(pcm.data(), 4000, out.data(), int(out.size()))) << "after finish";
    ASSERT_EQ(1, mp3.start()) << "a restart gives a fresh stream";
    EXPECT_GT(mp3.encode(pcm.data(), 4000, out.data(), int(out.size())), 0);
}

TEST(Mp3Backend, LameRefusalFailsStart)
{
    Mp3Backend mp3;
    mp3.configure(16000, 16000, 3, 3000, Mp3Backend::kVbrFieldsOn, 0);
    EXPECT_EQ(0, mp3.start());
    EXPECT_FALSE(mp3.isStarted());
    EXPECT_EQ(0, mp3.samplesPerFrame());
}

} // namespace
} // namespace quillet
