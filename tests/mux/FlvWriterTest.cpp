// FLV writer: the bytes it fixes, the metadata refresh rule, timestamps, audio
// tags, refusals, and real decoding of whole and cut files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "mux/flv/FlvWriter.h"
#include "tests/mux/AllocationCounter.h"
#include "tests/mux/MuxTestMedia.h"

using namespace quillet;
using namespace quillet::muxtest;

namespace {

double doubleAt(const Bytes& f, size_t at)
{
    const uint64_t bits = getBE64(&f[at]);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// Duration stored in the metadata tag at offset 13.
double metaDuration(const Bytes& f) { return doubleAt(f, 13 + 40); }

Bytes aacRecord(size_t stored_len, uint8_t fill)
{
    Bytes r(2 + stored_len, fill);
    putLE16(r.data(), uint32_t(stored_len));
    r[2] = 0xFF;
    r[3] = 0xF9;
    return r;
}

class FlvWriterTest : public ::testing::Test {
protected:
    std::string path = tempPath(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".flv");
    FlvWriter flv;
    Bytes avc_header = flvAvcHeaderTag(testVideo().sps, testVideo().pps);

    void start(int channels = 2)
    {
        ASSERT_EQ(1, flv.CreateFlvFile(path.c_str()));
        ASSERT_EQ(1, flv.WriteFlvHeader(160, 120, channels, avc_header.data(), int(avc_header.size())));
    }
    size_t headerBytes() const { return 13 + 88 + avc_header.size() + 19; }
    void key(uint32_t ts, int is_key = 1)
    {
        const Bytes tag = flvVideoTag(testVideo().samples[0], is_key, ts);
        ASSERT_EQ(1, flv.WriteFlvVideo(tag.data(), int(tag.size()), is_key, ts));
    }
    Bytes finish(uint32_t pictures = 0, int fps = 25)
    {
        EXPECT_EQ(1, flv.FinishFlv(160, 120, pictures, fps));
        return readFile(path);
    }
};

TEST_F(FlvWriterTest, HeaderMetadataAndSequenceHeaders)
{
    ASSERT_FALSE(testVideo().sps.empty());
    start(2);
    const Bytes f = finish();
    ASSERT_EQ(headerBytes(), f.size()); // no sound: no audio tags, nothing behind the last tag
    const uint8_t header[] = {'F', 'L', 'V', 1, 0x05, 0, 0, 0, 9, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(f.data(), header, sizeof header));

    const uint8_t* m = &f[13];
    const uint8_t meta_start[] = {0x12, 0, 0, 0x49, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0x0A};
    EXPECT_EQ(0, std::memcmp(m, meta_start, sizeof meta_start));
    EXPECT_EQ(0, std::memcmp(m + 14, "onMetaData", 10));
    const uint8_t ecma[] = {0x08, 0, 0, 0, 3, 0, 8};
    EXPECT_EQ(0, std::memcmp(m + 24, ecma, sizeof ecma));
    EXPECT_EQ(0, std::memcmp(m + 31, "duration\0", 9));
    EXPECT_EQ(0, std::memcmp(m + 48, "\0\x05width\0", 8));
    EXPECT_EQ(0, std::memcmp(m + 64, "\0\x06height\0", 9));
    EXPECT_EQ(160.0, doubleAt(f, 13 + 56));
    EXPECT_EQ(120.0, doubleAt(f, 13 + 73));
    const uint8_t meta_end[] = {0, 0, 9, 0, 0, 0, 0x54};
    EXPECT_EQ(0, std::memcmp(m + 81, meta_end, sizeof meta_end));

    EXPECT_EQ(avc_header, Bytes(f.begin() + 101, f.begin() + 101 + long(avc_header.size())));
    const uint8_t aac[] = {8, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0xAF, 0x00, 0x12, 0x90, 0, 0, 0, 0x0F};
    EXPECT_EQ(0, std::memcmp(&f[f.size() - 19], aac, sizeof aac));

    start(1);
    const Bytes mono = finish();
    EXPECT_EQ(0x88, mono[mono.size() - 5]);
}

TEST_F(FlvWriterTest, MetadataRefreshesAtKeyFramesAfterTenSeconds)
{
    start();
    key(10000);
    EXPECT_EQ(0.0, metaDuration(readFile(path))); // exactly 10000 ms: no refresh
    key(12000, 0);
    EXPECT_EQ(0.0, metaDuration(readFile(path))); // not a key frame
    key(10001);
    EXPECT_EQ(10.0, metaDuration(readFile(path))); // on disk at once (flushed)
    key(10999);
    EXPECT_EQ(10.0, metaDuration(readFile(path)));
    key(21000);
    const Bytes f = finish(250, 25);
    EXPECT_EQ(10.0, metaDuration(f)); // 250 pictures at 25 fps
    EXPECT_EQ(headerBytes() + 5 * (testVideo().samples[0].size() + 20), f.size()); // c + 24 with c = sample - 4
    // Bad frame rate: a safe zero duration, not a division by zero.
    start();
    EXPECT_EQ(0.0, metaDuration(finish(250, 0)));
}

TEST_F(FlvWriterTest, AudioTagsCarryRawFramesWithExtendedTimestamps)
{
    start();
    Bytes buf = aacRecord(100, 0x11);
    const Bytes second = aacRecord(20, 0x22);
    buf.insert(buf.end(), second.begin(), second.end());
    const uint32_t ts[] = {0x01000000, 0x01020304};
    ASSERT_EQ(1, flv.WriteFlvAudio(buf.data(), int(buf.size()), ts, 2));
    const uint8_t mp3[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(1, flv.WriteFlvAudioMp3(mp3, 5, 0x00ABCDEF));
    const Bytes f = finish();
    size_t at = headerBytes();
    ASSERT_EQ(at + 106 + 4 + 26 + 4 + 17 + 4, f.size());
    const uint8_t tag1[] = {8, 0, 0, 95, 0, 0, 0, 0x01, 0, 0, 0, 0xAF, 0x01};
    EXPECT_EQ(0, std::memcmp(&f[at], tag1, sizeof tag1));
    EXPECT_EQ(Bytes(93, 0x11), Bytes(f.begin() + long(at) + 13, f.begin() + long(at) + 106));
    EXPECT_EQ(106u, getBE32(&f[at + 106]));
    at += 110;
    const uint8_t tag2[] = {8, 0, 0, 15, 0x02, 0x03, 0x04, 0x01, 0, 0, 0, 0xAF, 0x01};
    EXPECT_EQ(0, std::memcmp(&f[at], tag2, sizeof tag2));
    EXPECT_EQ(26u, getBE32(&f[at + 26]));
    at += 30;
    const uint8_t tag3[] = {8, 0, 0, 6, 0xAB, 0xCD, 0xEF, 0x00, 0, 0, 0, 0x26, 1, 2, 3, 4, 5, 0, 0, 0, 17};
    EXPECT_EQ(0, std::memcmp(&f[at], tag3, sizeof tag3));
}

// FLV cannot declare the AAC encoder's delay: the tags are stamped that much
// earlier and the frames that would end at or before 0 ms (the encoder's own
// silence) are left out. MP3 tags keep their stamps.
TEST_F(FlvWriterTest, EncoderDelayStampsAacTagsEarlierAndLeavesOutItsSilence)
{
    EXPECT_EQ(0, flv.SetAudioEncoderDelay(2048, 0));
    EXPECT_EQ(0, flv.SetAudioEncoderDelay(32001, 32000));
    start();
    ASSERT_EQ(1, flv.SetAudioEncoderDelay(2048, 32000));
    EXPECT_EQ(64u, flv.AudioDelayMs());
    Bytes buf;
    for (uint8_t k = 1; k <= 4; ++k) {
        const Bytes r = aacRecord(20, k);
        buf.insert(buf.end(), r.begin(), r.end());
    }
    const uint32_t ts[] = {32, 64, 96, 128};
    ASSERT_EQ(1, flv.WriteFlvAudio(buf.data(), int(buf.size()), ts, 4));
    const uint8_t mp3[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(1, flv.WriteFlvAudioMp3(mp3, 5, 40));
    const Bytes f = finish();
    size_t at = headerBytes();
    ASSERT_EQ(at + 2 * 30 + 21, f.size());
    // Frames 3 and 4 (fill 3 and 4) at 32 and 64 ms.
    const uint8_t tag1[] = {8, 0, 0, 15, 0, 0, 32, 0, 0, 0, 0, 0xAF, 0x01, 3};
    EXPECT_EQ(0, std::memcmp(&f[at], tag1, sizeof tag1));
    at += 30;
    const uint8_t tag2[] = {8, 0, 0, 15, 0, 0, 64, 0, 0, 0, 0, 0xAF, 0x01, 4};
    EXPECT_EQ(0, std::memcmp(&f[at], tag2, sizeof tag2));
    at += 30;
    const uint8_t tag3[] = {8, 0, 0, 6, 0, 0, 40, 0, 0, 0, 0, 0x26};
    EXPECT_EQ(0, std::memcmp(&f[at], tag3, sizeof tag3));

    // Rounded at other rates; a new file starts without a delay.
    ASSERT_EQ(1, flv.SetAudioEncoderDelay(2048, 44100));
    EXPECT_EQ(46u, flv.AudioDelayMs());
    start();
    EXPECT_EQ(0u, flv.AudioDelayMs());
    finish();
}

// Decoded by a real reader, the delayed file carries the same sound without
// its first 2048 sample frames (apart from the first frame, which has no
// predecessor to overlap with), starting one frame in as every tag is stamped
// with its end.
TEST_F(FlvWriterTest, DelayedSoundDecodesTheSameWithoutItsLeadingSilence)
{
    const AudioClip& a = testAudioMono();
    auto decode = [&](uint32_t delay) {
        start(a.channels);
        if (delay) {
            EXPECT_EQ(1, flv.SetAudioEncoderDelay(delay, uint32_t(a.sample_rate)));
        }
        for (uint32_t j = 0; j < 100; j += 5) {
            Bytes buf;
            uint32_t ts[5];
            for (uint32_t k = 0; k < 5; ++k) {
                const Bytes& r = a.records[(j + k) % a.records.size()];
                buf.insert(buf.end(), r.begin(), r.end());
                ts[k] = (j + k + 1) * 32;
            }
            EXPECT_EQ(1, flv.WriteFlvAudio(buf.data(), int(buf.size()), ts, 5));
        }
        finish();
        std::string start_time;
        runCommand("ffprobe -v error -select_streams a:0 -show_entries stream=start_time -of csv=p=0 '" + path + "'",
                   &start_time, false);
        std::string raw;
        EXPECT_EQ(0, runCommand("ffmpeg -v error -i '" + path + "' -map 0:a:0 -f s16le -", &raw, false));
        std::vector<int16_t> pcm(raw.size() / 2);
        std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
        return std::make_pair(start_time, pcm);
    };
    const auto plain = decode(0);
    const auto skipped = decode(2048);
    EXPECT_EQ("0.032000\n", plain.first);
    EXPECT_EQ("0.032000\n", skipped.first);
    ASSERT_GT(plain.second.size(), 40000u);
    ASSERT_EQ(plain.second.size() - 2048, skipped.second.size());
    size_t differing = 0;
    for (size_t i = 1024; i < skipped.second.size(); ++i)
        differing += plain.second[i + 2048] != skipped.second[i];
    EXPECT_EQ(0u, differing);
}

TEST_F(FlvWriterTest, MalformedInputWritesNothing)
{
    start();
    const size_t before = headerBytes();
    const uint32_t ts[3] = {32, 64, 96};
    Bytes bad = aacRecord(100, 0x11);
    const Bytes good = bad;
    bad.resize(bad.size() - 1); // last record cut short
    EXPECT_EQ(0, flv.WriteFlvAudio(bad.data(), int(bad.size()), ts, 3));
    const Bytes tiny = aacRecord(5, 0); // shorter than its ADTS header
    EXPECT_EQ(0, flv.WriteFlvAudio(tiny.data(), int(tiny.size()), ts, 3));
    Bytes two = good;
    two.insert(two.end(), good.begin(), good.end());
    EXPECT_EQ(0, flv.WriteFlvAudio(two.data(), int(two.size()), ts, 1)); // one timestamp for two frames
    Bytes tag = flvVideoTag(testVideo().samples[1], false, 40);
    tag.back() ^= 1; // PreviousTagSize disagrees
    EXPECT_EQ(0, flv.WriteFlvVideo(tag.data(), int(tag.size()), 0, 40));
    EXPECT_EQ(1, flv.WriteFlvVideo(nullptr, 0, 0, 40)); // encoder produced nothing
    EXPECT_EQ(0, flv.WriteFlvAudioMp3(nullptr, 5, 0));
    EXPECT_FALSE(flv.Failed());
    EXPECT_EQ(before, finish().size());
    EXPECT_EQ(0, flv.CreateFlvFile("/nonexistent-dir/x.flv"));
    EXPECT_EQ(0, flv.WriteFlvHeader(160, 120, 2, avc_header.data(), int(avc_header.size())));
}

TEST_F(FlvWriterTest, RecordingDecodesWithEveryTag)
{
    const VideoClip& v = testVideo();
    const AudioClip& a = testAudioStereo();
    start(a.channels);
    uint32_t j = 0;
    const uint32_t frames = 300;
    for (uint32_t i = 0; i < frames; ++i) {
        const uint32_t t = i * 1000 / 25;
        // One captured buffer of five AAC frames whenever the sound falls behind.
        while (j * 32 <= t) {
            Bytes buf;
            uint32_t ts[5];
            for (int k = 0; k < 5; ++k, ++j) {
                const Bytes& r = a.records[j % a.records.size()];
                buf.insert(buf.end(), r.begin(), r.end());
                ts[k] = (j + 1) * 32;
            }
            ASSERT_EQ(1, flv.WriteFlvAudio(buf.data(), int(buf.size()), ts, 5));
        }
        const size_t k = i % v.samples.size();
        const Bytes tag = flvVideoTag(v.samples[k], v.keys[k], t);
        ASSERT_EQ(1, flv.WriteFlvVideo(tag.data(), int(tag.size()), v.keys[k], t));
    }
    finish(frames, 25);
    const DecodeReport r = decodeAndList(path);
    EXPECT_EQ("", r.errors);
    EXPECT_EQ(frames, r.video.size());
    EXPECT_EQ(j, r.audio.size());
    EXPECT_EQ("12.000000", probeEntry(path, nullptr, "format", "duration").substr(0, 9));
}

// A disk that fills up: the writer reports it, and the file stays readable with
// everything up to the last metadata refresh.
TEST_F(FlvWriterTest, FullDiskIsReportedAndEarlierTagsStayReadable)
{
    const std::string counts = path + ".counts";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl{120000, 120000};
        setrlimit(RLIMIT_FSIZE, &rl);
        const VideoClip& v = testVideo();
        if (!flv.CreateFlvFile(path.c_str()) ||
            !flv.WriteFlvHeader(160, 120, 2, avc_header.data(), int(avc_header.size())))
            _exit(2);
        uint32_t written = 0, refreshed = 0;
        int ok = 1;
        for (uint32_t i = 0; i < 2000 && ok; ++i) {
            const size_t k = i % v.samples.size();
            const uint32_t t = i * 40;
            const Bytes tag = flvVideoTag(v.samples[k], v.keys[k], t);
            ok = flv.WriteFlvVideo(tag.data(), int(tag.size()), v.keys[k], t);
            if (ok) {
                written = i + 1;
                if (v.keys[k] && t > 10000)
                    refreshed = written;
            }
        }
        const int finished = flv.FinishFlv(160, 120, written, 25);
        std::ofstream(counts) << ok << ' ' << finished << ' ' << refreshed;
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    int ok = -1, finished = -1;
    uint32_t refreshed = 0;
    std::ifstream(counts) >> ok >> finished >> refreshed;
    EXPECT_EQ(0, ok);
    EXPECT_EQ(0, finished);
    ASSERT_GT(refreshed, 250u);
    const DecodeReport r = decodeAndList(path);
    EXPECT_GE(r.video.size(), refreshed);
    EXPECT_EQ("", r.errors);
}

TEST_F(FlvWriterTest, WritingTagsAllocatesNothing)
{
    if (!allocationCountingAvailable())
        GTEST_SKIP() << "sanitizer builds keep their own operator new";
    start();
    const Bytes tag = flvVideoTag(testVideo().samples[3], false, 40);
    const Bytes key_tag = flvVideoTag(testVideo().samples[0], true, 20000);
    const Bytes& record = testAudioStereo().records[5];
    const uint32_t ts = 64;
    int ok = 1;
    size_t allocations = 0;
    {
        CountAllocations count;
        for (int i = 0; i < 2000; ++i) {
            ok &= flv.WriteFlvVideo(tag.data(), int(tag.size()), 0, 40);
            ok &= flv.WriteFlvAudio(record.data(), int(record.size()), &ts, 1);
        }
        ok &= flv.WriteFlvVideo(key_tag.data(), int(key_tag.size()), 1, 20000);
        allocations = allocationsCounted();
    }
    EXPECT_EQ(1, ok);
    EXPECT_EQ(0u, allocations);
}

} // namespace
