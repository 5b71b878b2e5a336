// Byte-level behaviour of the MP4 writer: layout, boxes and fields, timing rules,
// index refresh and held bytes, refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mux/mp4/Mp4Mux.h"
#include "tests/mux/AllocationCounter.h"
#include "tests/mux/Mp4BoxReader.h"
#include "tests/mux/MuxTestMedia.h"

using namespace quillet;
using namespace quillet::muxtest;

namespace {

const uint8_t kSps[10] = {0x67, 0x4D, 0x40, 0x1F, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
const uint8_t kPps[4] = {0x68, 0xCE, 0x38, 0x80};

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7);
    return b;
}

struct Written {
    Bytes file;
    Box moov;
};

Written reread(const std::string& path)
{
    Written w;
    w.file = readFile(path);
    findBox(w.file, "moov", w.moov);
    return w;
}

// Entries of a table box (count at payload + 4, entries of `width` words after it).
std::vector<uint32_t> tableWords(const Bytes& f, const Box& b, size_t skip)
{
    std::vector<uint32_t> out;
    const size_t first = b.payload() + skip;
    for (size_t at = first; at + 4 <= b.end(); at += 4)
        out.push_back(getBE32(&f[at]));
    return out;
}

class Mp4MuxTest : public ::testing::Test {
protected:
    std::string path = tempPath(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".mp4");
    CMp4mux mux;

    void openWithHead(int width = 320, int height = 240, int rate = 32000, int channels = 2)
    {
        ASSERT_EQ(1, mux.Open(path.c_str(), width, height, 25, rate, channels));
        ASSERT_EQ(1, mux.WriteVideoHead(kSps, sizeof kSps, kPps, sizeof kPps));
    }
    void video(size_t n, unsigned long dur, int key, uint8_t seed = 1)
    {
        const Bytes s = pattern(n, seed);
        ASSERT_EQ(1, mux.WriteVideo(reinterpret_cast<const char*>(s.data()), int(n), dur, key));
    }
    void audio(size_t n, unsigned long dur, uint8_t seed = 9)
    {
        const Bytes s = pattern(n, seed);
        ASSERT_EQ(1, mux.WriteAudio(reinterpret_cast<const char*>(s.data()), int(n), dur));
    }
};

TEST_F(Mp4MuxTest, FileTypeFreeAndMediaHeaderLayout)
{
    openWithHead();
    mux.Close();
    Bytes f = readFile(path);
    ASSERT_GE(f.size(), 48u);
    EXPECT_EQ(32u, getBE32(&f[0]));
    EXPECT_EQ(0, std::memcmp(&f[4], "ftypisom\0\0\x02\0isomiso2avc1mp41", 28));
    EXPECT_EQ(0, std::memcmp(&f[32], "\0\0\0\x08" "free", 8));

    ASSERT_EQ(1, mux.Open(path.c_str(), 0, 0, 25, 32000, 2));
    EXPECT_EQ(36u + 8u, mux.write_pos);
    mux.Close();
    f = readFile(path);
    EXPECT_EQ(28u, getBE32(&f[0]));
    EXPECT_EQ(0, std::memcmp(&f[4], "ftypisom\0\0\x02\0isomiso2mp41", 24));
    EXPECT_EQ(0, std::memcmp(&f[28], "\0\0\0\x08" "free", 8));
}

TEST_F(Mp4MuxTest, MediaHeaderStaysZeroUntilFirstSaveThenEndsAtIndex)
{
    openWithHead();
    video(1000, 40, 1);
    audio(300, 32);
    ASSERT_EQ(1, mux.file->flush());
    Bytes f = readFile(path);
    EXPECT_EQ(0u, getBE64(&f[40])); // mdat header not written yet

    ASSERT_EQ(1, mux.SaveData());
    const Written w = reread(path);
    const std::vector<Box> top = boxesIn(w.file, 0, w.file.size());
    ASSERT_EQ(4u, top.size());
    EXPECT_EQ("mdat", top[2].type);
    EXPECT_EQ(40u, top[2].offset);
    EXPECT_EQ(8u + 1000 + 300, top[2].size);
    EXPECT_EQ("moov", top[3].type);
    EXPECT_EQ(top[2].end(), top[3].offset); // mdat ends where the index begins
    EXPECT_EQ(w.file.size(), top[3].end());
}

TEST_F(Mp4MuxTest, TracksAppearOnlyWithKeyFrameOrAudio)
{
    // Neither: only mvhd and udta.
    openWithHead();
    video(500, 40, 0);
    mux.Close();
    Written w = reread(path);
    EXPECT_EQ(8u + 108 + 97, w.moov.size);
    Box b;
    ASSERT_TRUE(findBox(w.file, "moov/mvhd", b));
    EXPECT_EQ(1u, be32At(w.file, b.end() - 4)); // next track ID
    EXPECT_FALSE(findBox(w.file, "moov/trak", b));

    // Video without key frame plus audio: only the audio track, ID 2.
    openWithHead();
    video(500, 40, 0);
    audio(100, 32);
    mux.Close();
    w = reread(path);
    ASSERT_TRUE(findBox(w.file, "moov/trak/tkhd", b));
    EXPECT_EQ(2u, be32At(w.file, b.payload() + 12));
    EXPECT_FALSE(findBox(w.file, "moov/trak#1", b));
    ASSERT_TRUE(findBox(w.file, "moov/mvhd", b));
    EXPECT_EQ(3u, be32At(w.file, b.end() - 4));

    // Video alone: next track ID 2, no edts on the video track.
    openWithHead();
    video(500, 40, 1);
    mux.Close();
    w = reread(path);
    ASSERT_TRUE(findBox(w.file, "moov/mvhd", b));
    EXPECT_EQ(2u, be32At(w.file, b.end() - 4));
    EXPECT_FALSE(findBox(w.file, "moov/trak/edts", b));
    ASSERT_TRUE(findBox(w.file, "moov/udta", b));
    EXPECT_EQ(97u, b.size);
    EXPECT_EQ(0, std::memcmp(&w.file[b.end() - 12], "Lavf54.6.101", 12));
}

TEST_F(Mp4MuxTest, VideoTrackTablesDescribeTheSamples)
{
    openWithHead(320, 240);
    const size_t sizes[] = {900, 120, 130, 800, 140};
    const int keys[] = {1, 0, 0, 1, 0};
    for (int i = 0; i < 5; ++i)
        video(sizes[i], 40 + i, keys[i], uint8_t(i * 11));
    mux.Close();
    const Written w = reread(path);
    const Bytes& f = w.file;
    Box b;

    ASSERT_TRUE(findBox(f, "moov/mvhd", b));
    EXPECT_EQ(108u, b.size);
    EXPECT_EQ(1000u, be32At(f, b.payload() + 12));     // timescale
    EXPECT_EQ(40u + 41 + 42 + 43 + 44, be32At(f, b.payload() + 16));
    ASSERT_TRUE(findBox(f, "moov/trak/tkhd", b));
    EXPECT_EQ(92u, b.size);
    EXPECT_EQ(0x0Fu, be32At(f, b.payload()));          // version 0, flags 0xF
    EXPECT_EQ(1u, be32At(f, b.payload() + 12));        // track ID
    EXPECT_EQ(320u << 16, be32At(f, b.end() - 8));
    EXPECT_EQ(240u << 16, be32At(f, b.end() - 4));
    ASSERT_TRUE(findBox(f, "moov/trak/mdia/mdhd", b));
    EXPECT_EQ(32u, b.size);
    EXPECT_EQ(0x15C70000u, be32At(f, b.end() - 4));    // "und", pre-defined 0
    ASSERT_TRUE(findBox(f, "moov/trak/mdia/hdlr", b));
    EXPECT_EQ(45u, b.size);
    EXPECT_EQ(0, std::memcmp(&f[b.payload() + 8], "vide", 4));
    EXPECT_EQ(0, std::memcmp(&f[b.end() - 13], "VideoHandler\0", 13));
    ASSERT_TRUE(findBox(f, "moov/trak/mdia/minf/dinf", b));
    EXPECT_EQ(36u, b.size);

    ASSERT_TRUE(findBox(f, "moov/trak/mdia/minf/stbl/stsd", b));
    EXPECT_EQ(121u + sizeof kSps + sizeof kPps, b.size);
    const size_t avcc = b.payload() + 8 + 86; // stsd header, avc1 fields
    EXPECT_EQ(0, std::memcmp(&f[avcc + 4], "avcC", 4));
    const uint8_t expect_avcc[] = {0x01, 0x4D, 0x40, 0x1F, 0xFF, 0xE1, 0x00, 0x0A};
    EXPECT_EQ(0, std::memcmp(&f[avcc + 8], expect_avcc, sizeof expect_avcc));
    EXPECT_EQ(0, std::memcmp(&f[avcc + 16], kSps, sizeof kSps));
    EXPECT_EQ(0x01, f[avcc + 26]);

    ASSERT_TRUE(findBox(f, "moov/trak/mdia/minf/stbl/stts", b));
    EXPECT_EQ((std::vector<uint32_t>{5, 1, 40, 1, 41, 1, 42, 1, 43, 1, 44}), tableWords(f, b, 4));
    ASSERT_TRUE(findBox(f, "moov/trak/mdia/minf/stbl/stss", b));
    EXPECT_EQ((std::vector<uint32_t>{2, 1, 4}), tableWords(f, b, 4)); // 1-based
    ASSERT_TRUE(findBox(f, "moov/trak/mdia/minf/stbl/stsc", b));
    EXPECT_EQ(16u + 12 * 5, b.size);
    const std::vector<uint32_t> stsc = tableWords(f, b, 4);
    EXPECT_EQ((std::vector<uint32_t>{2, 1, 1}), std::vector<uint32_t>(stsc.begin() + 4, stsc.begin() + 7));
    ASSERT_TRUE(findBox(f, "moov/trak/mdia/minf/stbl/stsz", b));
    EXPECT_EQ((std::vector<uint32_t>{0, 5, 900, 120, 130, 800, 140}), tableWords(f, b, 4));
    ASSERT_TRUE(findBox(f, "moov/trak/mdia/minf/stbl/stco", b));
    const std::vector<uint32_t> offsets = tableWords(f, b, 4);
    ASSERT_EQ(6u, offsets.size());
    for (int i = 0; i < 5; ++i) {
        const Bytes expect = pattern(sizes[i], uint8_t(i * 11));
        ASSERT_LE(offsets[1 + i] + sizes[i], f.size());
        EXPECT_EQ(0, std::memcmp(&f[offsets[1 + i]], expect.data(), sizes[i])) << "sample " << i;
    }
}

TEST_F(Mp4MuxTest, AudioTrackDescriptorsAndEditList)
{
    struct Case {
        int rate, channels;
        uint8_t asc0, asc1;
    };
    // 96000 and 64000 are not in the frequency table: index 0.
    const Case cases[] = {{32000, 2, 0x12, 0x90}, {48000, 1, 0x11, 0x88}, {96000, 2, 0x10, 0x10},
                          {64000, 1, 0x10, 0x08}, {8000, 1, 0x15, 0x88}};
    for (const Case& c : cases) {
        openWithHead(0, 0, c.rate, c.channels);
        for (int i = 0; i < 10; ++i)
            audio(100 + i, 32);
        mux.Close();
        const Written w = reread(path);
        const Bytes& f = w.file;
        Box b;
        ASSERT_TRUE(findBox(f, "moov/trak/tkhd", b));
        EXPECT_EQ(2u, be32At(f, b.payload() + 12));
        EXPECT_EQ(320u, be32At(f, b.payload() + 20));          // duration
        EXPECT_EQ(0x00000001u, be32At(f, b.payload() + 32));   // layer 0, alternate group 1
        EXPECT_EQ(0x01000000u, be32At(f, b.payload() + 36));   // volume 1.0, reserved
        ASSERT_TRUE(findBox(f, "moov/trak/edts/elst", b));
        EXPECT_EQ(28u, b.size);
        EXPECT_EQ((std::vector<uint32_t>{1, 320, 0, 0x00010000}), tableWords(f, b, 4));
        ASSERT_TRUE(findBox(f, "moov/trak/mdia/hdlr", b));
        EXPECT_EQ(0, std::memcmp(&f[b.end() - 13], "SoundHandler\0", 13));
        ASSERT_TRUE(findBox(f, "moov/trak/mdia/minf/smhd", b));
        EXPECT_EQ(16u, b.size);
        ASSERT_TRUE(findBox(f, "moov/trak/mdia/minf/stbl/stsd", b));
        ASSERT_EQ(103u, b.size);
        const size_t mp4a = b.payload() + 8;
        EXPECT_EQ(0, std::memcmp(&f[mp4a + 4], "mp4a", 4));
        EXPECT_EQ(uint32_t(c.channels) << 16 | 16, be32At(f, mp4a + 24));
        EXPECT_EQ(uint32_t(c.rate) << 16, be32At(f, mp4a + 32));
        const size_t esds = mp4a + 36;
        EXPECT_EQ(51u, be32At(f, esds));
        const uint8_t* d = &f[esds + 12];
        const uint8_t es[] = {0x03, 0x80, 0x80, 0x80, 34, 0x00, 0x02, 0x00, 0x04, 0x80, 0x80, 0x80, 20, 0x40, 0x15};
        EXPECT_EQ(0, std::memcmp(d, es, sizeof es));
        const uint8_t dsi[] = {0x05, 0x80, 0x80, 0x80, 0x02, c.asc0, c.asc1, 0x06, 0x80, 0x80, 0x80, 0x01, 0x02};
        EXPECT_EQ(0, std::memcmp(d + 26, dsi, sizeof dsi)) << "rate " << c.rate;
        // Honest bit rates: 10 frames of 100..109 bytes, 1024 samples each.
        const uint64_t bytes = 1045;
        const uint32_t avg = uint32_t((bytes * 8 * c.rate + 5 * 1024) / (10 * 1024));
        EXPECT_EQ(avg, getBE32(d + 22)) << "rate " << c.rate;
        EXPECT_GE(getBE32(d + 18), avg);
    }
}

// The encoder's delay is skipped by the audio edit: playing starts that far
// into the sound's media, and the track (and the movie) last only as long as
// what is shown. The media itself keeps every sample and its full duration.
TEST_F(Mp4MuxTest, AudioEditSkipsTheEncoderDelay)
{
    openWithHead();
    ASSERT_EQ(1, mux.SetAudioEncoderDelay(2048));
    EXPECT_EQ(64u, mux.AudioDelayMs());
    video(500, 300, 1);
    for (int i = 0; i < 10; ++i)
        audio(100, 32);
    mux.Close();
    Written w = reread(path);
    Box b;
    ASSERT_TRUE(findBox(w.file, "moov/trak#1/edts/elst", b));
    EXPECT_EQ(28u, b.size);
    EXPECT_EQ((std::vector<uint32_t>{1, 256, 64, 0x00010000}), tableWords(w.file, b, 4));
    ASSERT_TRUE(findBox(w.file, "moov/trak#1/tkhd", b));
    EXPECT_EQ(256u, be32At(w.file, b.payload() + 20));
    ASSERT_TRUE(findBox(w.file, "moov/trak#1/mdia/mdhd", b));
    EXPECT_EQ(320u, be32At(w.file, b.payload() + 16));
    ASSERT_TRUE(findBox(w.file, "moov/mvhd", b));
    EXPECT_EQ(300u, be32At(w.file, b.payload() + 16)) << "the pictures last longer than the sound shown";
    EXPECT_FALSE(findBox(w.file, "moov/trak/edts", b)) << "the video track keeps its plain timeline";

    // Rounded to the media's milliseconds at other rates.
    openWithHead(0, 0, 48000, 1);
    ASSERT_EQ(1, mux.SetAudioEncoderDelay(2048));
    EXPECT_EQ(43u, mux.AudioDelayMs());
    openWithHead(0, 0, 44100, 2);
    ASSERT_EQ(1, mux.SetAudioEncoderDelay(2048));
    EXPECT_EQ(46u, mux.AudioDelayMs());
    // A track no longer than the delay keeps the plain edit, never an empty one.
    audio(100, 23);
    audio(100, 23);
    mux.Close();
    w = reread(path);
    ASSERT_TRUE(findBox(w.file, "moov/trak/edts/elst", b));
    EXPECT_EQ((std::vector<uint32_t>{1, 46, 0, 0x00010000}), tableWords(w.file, b, 4));

    // Refused: not open, no sound track, more than a second.
    EXPECT_EQ(0, mux.SetAudioEncoderDelay(2048));
    openWithHead(320, 240, 32000, 0);
    EXPECT_EQ(0, mux.SetAudioEncoderDelay(2048));
    openWithHead();
    EXPECT_EQ(0, mux.SetAudioEncoderDelay(32001));
    EXPECT_EQ(0u, mux.AudioDelayMs());
    // A new file starts without a delay until it is declared again.
    ASSERT_EQ(1, mux.SetAudioEncoderDelay(2048));
    openWithHead();
    EXPECT_EQ(0u, mux.AudioDelayMs());
    // A continuation file's sound is just as late: it keeps the delay.
    ASSERT_EQ(1, mux.SetAudioEncoderDelay(2048));
    video(500, 40, 1);
    ASSERT_EQ(1, mux.ReOpen());
    EXPECT_EQ(64u, mux.AudioDelayMs());
    mux.Close();
    std::remove((path.substr(0, path.size() - 4) + "_1.mp4").c_str());
}

TEST_F(Mp4MuxTest, PeakBitRateFollowsTheLoudestSecond)
{
    openWithHead(0, 0, 32000, 2);
    // 32 frames (about a second) of 100 bytes, then 32 of 300, then 100 again.
    for (int i = 0; i < 96; ++i)
        audio(i >= 32 && i < 64 ? 300 : 100, 32);
    mux.Close();
    const Written w = reread(path);
    Box b;
    ASSERT_TRUE(findBox(w.file, "moov/trak/mdia/minf/stbl/stsd", b));
    const uint8_t* d = &w.file[b.payload() + 8 + 36 + 12];
    EXPECT_EQ(75000u, getBE32(d + 18));              // 300 B * 8 * 31.25 frames/s
    EXPECT_EQ(uint32_t((500ull * 32 * 8 * 32000 + 96 * 512) / (96 * 1024)), getBE32(d + 22));
}

TEST_F(Mp4MuxTest, AudioTimeToSampleSharesTheMeasuredDuration)
{
    struct Case {
        int n;
        unsigned long total;
        std::vector<uint32_t> entries;
    };
    const Case cases[] = {
        {4, 100, {1, 4, 25}},
        {3, 100, {3, 1, 33, 1, 34, 1, 33}},
        {5, 160, {1, 5, 32}},
    };
    for (const Case& c : cases) {
        openWithHead(0, 0, 32000, 1);
        // Uneven durations: only the total counts.
        for (int i = 0; i < c.n; ++i)
            audio(50, i == 0 ? c.total - (c.n - 1) : 1);
        mux.Close();
        const Written w = reread(path);
        Box b;
        ASSERT_TRUE(findBox(w.file, "moov/trak/mdia/minf/stbl/stts", b));
        EXPECT_EQ(c.entries, tableWords(w.file, b, 4)) << c.n << " samples";
    }
    EXPECT_EQ(3u, mp4AudioSttsRuns(3, 100));
    EXPECT_EQ(0u, mp4AudioSttsRuns(0, 100));
}

TEST_F(Mp4MuxTest, VideoDurationFollowsTheSoundWithinHalfASecond)
{
    openWithHead();
    video(100, 900, 1);         // no sound yet: kept
    audio(100, 1000);           // video at 900 ms, audio at 1000 ms
    video(100, 40, 0);          // ends short of the sound: stretched to 100
    EXPECT_DOUBLE_EQ(1000.0, mux.video_time);
    video(100, 480, 0);         // starts at 1000: kept, ends at 1480
    video(100, 40, 0);          // starts at 1480, within 500 ms ahead: kept
    EXPECT_DOUBLE_EQ(1520.0, mux.video_time);
    video(100, 40, 0);          // starts 520 ms ahead of the sound: halved to 20
    EXPECT_DOUBLE_EQ(1540.0, mux.video_time);
    EXPECT_EQ(20u, mux.info->sample_delta_stts_video[4]);
    EXPECT_EQ(100u, mux.info->sample_delta_stts_video[1]);

    // Without any sound the durations stay as given.
    openWithHead();
    video(100, 900, 1);
    video(100, 40, 0);
    EXPECT_EQ(40u, mux.info->sample_delta_stts_video[1]);
}

TEST_F(Mp4MuxTest, LowFrameRatesAndEndedSoundKeepEvenPictures)
{
    // 2 frames per second: every picture ends a whole 500 ms period after the
    // sound written so far; none of them is squeezed.
    // The first picture stands for the opening slot too; the sound that
    // comes with each picture is 40 ms short of it (still in its buffer).
    openWithHead();
    video(100, 1000, 1);
    audio(100, 960);
    for (int i = 0; i < 6; ++i) {
        video(100, 500, 0);
        audio(100, 500);
    }
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(500u, mux.info->sample_delta_stts_video[i]) << i;

    // The sound device went away at 1 s: the video keeps its own clock.
    openWithHead();
    audio(100, 1000);
    mux.EndAudio();
    for (int i = 0; i < 40; ++i)
        video(100, 67, i == 0);
    EXPECT_DOUBLE_EQ(40 * 67.0, mux.video_time);
}

TEST_F(Mp4MuxTest, SecondSaveWithoutMediaKeepsTheIndexInPlace)
{
    openWithHead();
    video(2000, 40, 1);
    audio(200, 32);
    ASSERT_EQ(1, mux.SaveData());
    const Bytes first = readFile(path);
    const uint32_t pos = mux.moov_pos;
    ASSERT_EQ(1, mux.SaveData());
    EXPECT_EQ(pos, mux.moov_pos);
    EXPECT_EQ(first, readFile(path));
}

TEST_F(Mp4MuxTest, MediaAfterAnIndexFillItsPlaceAtTheNextSave)
{
    openWithHead();
    video(2000, 40, 1, 3);
    audio(200, 32, 4);
    ASSERT_EQ(1, mux.SaveData());
    const uint32_t old_pos = mux.moov_pos;
    const uint32_t old_len = mux.moov_len;
    const Bytes before = readFile(path);

    // Fewer bytes than the index: all held, the file is untouched.
    video(old_len / 3, 40, 0, 5);
    audio(old_len / 3, 32, 6);
    EXPECT_EQ(2 * (old_len / 3), mux.held_len);
    ASSERT_EQ(1, mux.file->flush());
    EXPECT_EQ(before, readFile(path));

    ASSERT_EQ(1, mux.SaveData());
    const Written w = reread(path);
    const Bytes v = pattern(old_len / 3, 5);
    const Bytes a = pattern(old_len / 3, 6);
    EXPECT_EQ(0, std::memcmp(&w.file[old_pos], v.data(), v.size()));
    EXPECT_EQ(0, std::memcmp(&w.file[old_pos + v.size()], a.data(), a.size()));
    EXPECT_EQ(old_pos + v.size() + a.size(), w.moov.offset); // new index right behind them
    Box mdat;
    ASSERT_TRUE(findBox(w.file, "mdat", mdat));
    EXPECT_EQ(mdat.end(), w.moov.offset);

    // More bytes than the index: the rest goes to the file behind it.
    const uint32_t second_len = mux.moov_len;
    video(second_len + 5000, 40, 0, 7);
    EXPECT_EQ(second_len, mux.held_len);
    mux.Close();
    const Written last = reread(path);
    const Bytes big = pattern(second_len + 5000, 7);
    EXPECT_EQ(0, std::memcmp(&last.file[w.moov.offset], big.data(), big.size()));
    ASSERT_TRUE(findBox(last.file, "mdat", mdat));
    EXPECT_EQ(mdat.end(), last.moov.offset);
    EXPECT_EQ(w.moov.offset + big.size(), last.moov.offset);
    EXPECT_EQ(last.file.size(), last.moov.end()); // nothing behind the final index
}

TEST_F(Mp4MuxTest, RepeatedRefreshesKeepTheFileNearItsLogicalSize)
{
    openWithHead();
    for (int i = 0; i < 60; ++i) {
        video(i % 3 == 0 ? 5000 : 30, 40, i % 10 == 0, uint8_t(i));
        audio(20, 32, uint8_t(i));
        ASSERT_EQ(1, mux.SaveData());
        // At most the index and one copy of the previous one lie beyond the
        // media, however many refreshes there were.
        const uint64_t size = readFile(path).size();
        EXPECT_LE(size, uint64_t(mux.write_pos) + 2 * mux.moov_len) << "refresh " << i;
        const Written w = reread(path);
        Box mdat;
        ASSERT_TRUE(findBox(w.file, "mdat", mdat));
        EXPECT_EQ(mux.write_pos, mdat.end());
        EXPECT_EQ(mux.write_pos, w.moov.offset);
    }
}

TEST_F(Mp4MuxTest, ParameterSetsOutOfBoundsAreRefused)
{
    uint8_t big[101] = {0x67, 0x42, 0xC0, 0x15};
    EXPECT_EQ(0, mux.WriteVideoHead(kSps, sizeof kSps, kPps, sizeof kPps)); // not open
    openWithHead();
    EXPECT_EQ(0, mux.WriteVideoHead(big, 101, kPps, sizeof kPps));
    EXPECT_EQ(0, mux.WriteVideoHead(kSps, sizeof kSps, big, 101));
    EXPECT_EQ(0, mux.WriteVideoHead(kSps, 3, kPps, sizeof kPps));
    EXPECT_EQ(0, mux.WriteVideoHead(kSps, -1, kPps, sizeof kPps));
    EXPECT_EQ(sizeof kSps, mux.info->sps_len); // earlier sets untouched
    EXPECT_EQ(0, std::memcmp(mux.info->spsbuf, kSps, sizeof kSps));
    EXPECT_EQ(1, mux.WriteVideoHead(big, 100, kPps, sizeof kPps));
    EXPECT_EQ(100u, mux.info->sps_len);
}

TEST_F(Mp4MuxTest, WriterThatIsNotOpenRefusesEverything)
{
    const char s[8] = {};
    EXPECT_EQ(0, mux.WriteVideo(s, 8, 40, 1));
    EXPECT_EQ(0, mux.WriteAudio(s, 8, 32));
    EXPECT_EQ(0, mux.SaveData());
    EXPECT_EQ(0, mux.ReOpen());
    EXPECT_EQ(1, mux.Close());
    EXPECT_EQ(0, mux.Open("/nonexistent-dir/x.mp4", 320, 240, 25, 32000, 2));
    EXPECT_FALSE(mux.IsOpen());
    EXPECT_EQ(0, mux.WriteVideo(s, 8, 40, 1));
    EXPECT_EQ(0, mux.Open(path.c_str(), -1, 240, 25, 32000, 2));
    EXPECT_EQ(0, mux.Open(path.c_str(), 320, 240, 25, 32000, 9));
    EXPECT_EQ(0, mux.Open(nullptr, 320, 240, 25, 32000, 2));

    openWithHead();
    EXPECT_EQ(0, mux.WriteVideo(nullptr, 8, 40, 1));
    EXPECT_EQ(0, mux.WriteVideo(s, 0, 40, 1));
    EXPECT_EQ(0, mux.WriteAudio(s, -5, 32));
    EXPECT_EQ(0u, mux.video_samples + mux.audio_samples);
}

TEST_F(Mp4MuxTest, ContinuationFileNames)
{
    std::string dir = tempPath("with.dot");
    ASSERT_EQ(0, system(("mkdir -p '" + dir + "'").c_str()));
    const std::string base = dir + "/rec.mp4";
    ASSERT_EQ(1, mux.Open(base.c_str(), 320, 240, 25, 32000, 2));
    ASSERT_EQ(1, mux.ReOpen());
    EXPECT_EQ(dir + "/rec_1.mp4", mux.FileName());
    ASSERT_EQ(1, mux.ReOpen());
    EXPECT_EQ(dir + "/rec_1_1.mp4", mux.FileName());
    mux.Close();
    // A dot only in a folder name is not an extension.
    const std::string plain = dir + "/rec";
    ASSERT_EQ(1, mux.Open(plain.c_str(), 320, 240, 25, 32000, 2));
    ASSERT_EQ(1, mux.ReOpen());
    EXPECT_EQ(dir + "/rec_1.mp4", mux.FileName());
    mux.Close();
}

TEST_F(Mp4MuxTest, TableCounterStopsAtItsCap)
{
    openWithHead();
    video(1, 1, 1);
    const char s[1] = {0x55};
    for (uint32_t i = 1; i < kMp4TableCountCap + 3; ++i)
        ASSERT_EQ(1, mux.WriteVideo(s, 1, 1, 0));
    EXPECT_EQ(kMp4TableCountCap, mux.info->entry_count_stsz_video);
    EXPECT_EQ(kMp4TableCountCap, mux.info->entry_count_stco_video);
    EXPECT_EQ(kMp4TableCountCap + 3, mux.video_samples);
    // The last entry holds the latest sample.
    EXPECT_EQ(mux.write_pos - 1, mux.info->chunk_offset_stco_video[kMp4TableCountCap]);
    // The next key frame starts a continuation file.
    video(10, 1, 1);
    EXPECT_EQ(1u, mux.info->entry_count_stco_video);
    EXPECT_EQ(path.substr(0, path.size() - 4) + "_1.mp4", mux.FileName());
    mux.Close();
}

} // namespace

namespace {

// Sound fills its table first at low frame rates (about 18 h of 32 kHz AAC);
// the writer moves on to a continuation file instead of overwriting entries.
TEST_F(Mp4MuxTest, FullSoundTableStartsAContinuationInsteadOfOverwriting)
{
    openWithHead();
    video(10, 40, 1);
    const char s[1] = {0x66};
    while (mux.info->entry_count_stco_audio <= CMp4mux::kSplitAudioSamplesAtKey)
        ASSERT_EQ(1, mux.WriteAudio(s, 1, 32));
    video(10, 40, 0); // not a key frame: stays
    EXPECT_EQ(path, mux.FileName());
    video(10, 40, 1); // the next key frame moves on
    const std::string next = path.substr(0, path.size() - 4) + "_1.mp4";
    EXPECT_EQ(next, mux.FileName());
    EXPECT_EQ(1u, mux.video_samples);
    EXPECT_EQ(0u, mux.audio_samples);

    // Sound alone (no key frame coming) moves on when the table is full.
    mux.Close();
    openWithHead(0, 0);
    while (mux.FileName() == path)
        ASSERT_EQ(1, mux.WriteAudio(s, 1, 32));
    EXPECT_EQ(1u, mux.audio_samples);
    mux.Close();
    const Written w = reread(path);
    Box stsz;
    ASSERT_TRUE(findBox(w.file, "moov/trak/mdia/minf/stbl/stsz", stsz));
    EXPECT_EQ(CMp4mux::kSplitAudioSamples, be32At(w.file, stsz.payload() + 8));
    std::remove(path.c_str());
    std::remove(next.c_str());
}

} // namespace

namespace {

TEST_F(Mp4MuxTest, WritingSamplesAllocatesNothing)
{
    if (!allocationCountingAvailable())
        GTEST_SKIP() << "sanitizer builds keep their own operator new";
    {
        CountAllocations count; // the counter itself sees allocations
        ::operator delete(::operator new(16));
        ASSERT_EQ(1u, allocationsCounted());
    }
    openWithHead();
    const Bytes picture = pattern(3000, 1);
    const Bytes frame = pattern(300, 2);
    video(3000, 40, 1);
    ASSERT_EQ(1, mux.SaveData());
    int ok = 1;
    size_t allocations = 0;
    {
        CountAllocations count;
        for (int i = 0; i < 5000; ++i) {
            ok &= mux.WriteVideo(reinterpret_cast<const char*>(picture.data()), int(picture.size()), 40, i % 25 == 0);
            ok &= mux.WriteAudio(reinterpret_cast<const char*>(frame.data()), int(frame.size()), 32);
        }
        allocations = allocationsCounted();
    }
    EXPECT_EQ(1, ok);
    EXPECT_EQ(0u, allocations);
}

} // namespace
