// MP4 files checked by a real reader (ffprobe/ffmpeg): plain recordings, the
// file after every index refresh, a full disk, short memory and the split into
// continuation files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "mux/mp4/Mp4Mux.h"
#include "tests/mux/Mp4BoxReader.h"
#include "tests/mux/MuxFeed.h"
#include "tests/mux/MuxTestMedia.h"

using namespace quillet;
using namespace quillet::muxtest;

namespace {

std::vector<uint32_t> sizesOf(const std::vector<Bytes>& samples, uint32_t count)
{
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < count; ++i)
        out.push_back(uint32_t(samples[i % samples.size()].size()));
    return out;
}

class Mp4DecodeTest : public ::testing::Test {
protected:
    std::string path = tempPath(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".mp4");
    CMp4mux mux;

    void SetUp() override
    {
        ASSERT_FALSE(testVideo().samples.empty()) << "test clips missing in " << mediaDir();
        ASSERT_EQ(250u, testVideo().samples.size());
        ASSERT_FALSE(testAudioStereo().raw.empty());
    }
    void openFor(const VideoClip* v, const AudioClip* a)
    {
        ASSERT_EQ(1, mux.Open(path.c_str(), v ? v->width : 0, v ? v->height : 0, 25, a ? a->sample_rate : 0,
                              a ? a->channels : 0));
        if (v) {
            ASSERT_EQ(1, mux.WriteVideoHead(v->sps.data(), int(v->sps.size()), v->pps.data(), int(v->pps.size())));
        }
    }
};

TEST_F(Mp4DecodeTest, VideoOnlyAudioOnlyAndBothPlayWithTheWrittenSamples)
{
    struct Case {
        const VideoClip* v;
        const AudioClip* a;
        const char* what;
    };
    const Case cases[] = {{&testVideo(), nullptr, "video only"},
                          {nullptr, &testAudioStereo(), "audio only"},
                          {&testVideo(), &testAudioMono(), "both"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        openFor(c.v, c.a);
        MuxFeed feed{c.v, c.a, 300};
        ASSERT_EQ(1, feed.run(mux));
        ASSERT_EQ(1, mux.Close());
        const DecodeReport r = decodeAndList(path);
        EXPECT_EQ("", r.errors);
        EXPECT_EQ(c.v ? sizesOf(c.v->samples, feed.video_written) : std::vector<uint32_t>{}, r.video);
        EXPECT_EQ(c.a ? sizesOf(c.a->raw, feed.audio_written) : std::vector<uint32_t>{}, r.audio);
        if (c.v) {
            EXPECT_EQ("12.000000", streamField(path, "v", "duration"));
        }
        if (c.a) {
            EXPECT_NEAR(feed.audio_written * 0.032, std::atof(streamField(path, "a", "duration").c_str()), 0.002);
            // Average bit rate as measured: bytes * 8 over the frames' nominal time.
            uint64_t bytes = 0;
            for (uint32_t s : sizesOf(c.a->raw, feed.audio_written))
                bytes += s;
            const double expect = double(bytes) * 8 * c.a->sample_rate / (feed.audio_written * 1024.0);
            EXPECT_NEAR(expect, std::atof(streamField(path, "a", "bit_rate").c_str()), 1.0);
        }
    }
}

// A real decoder honours the declared encoder delay: the sound comes out the
// same, only without its first 2048 sample frames, and still starts at 0.
TEST_F(Mp4DecodeTest, DeclaredEncoderDelayIsSkippedByTheDecoder)
{
    const AudioClip& a = testAudioMono();
    auto decode = [&](uint32_t delay) {
        openFor(nullptr, &a);
        if (delay) {
            EXPECT_EQ(1, mux.SetAudioEncoderDelay(delay));
        }
        MuxFeed feed{nullptr, &a, 100};
        EXPECT_EQ(1, feed.run(mux));
        EXPECT_EQ(1, mux.Close());
        EXPECT_EQ("0.000000", streamField(path, "a", "start_time"));
        std::string raw;
        EXPECT_EQ(0, runCommand("ffmpeg -v error -i '" + path + "' -map 0:a:0 -f s16le -", &raw, false));
        std::vector<int16_t> pcm(raw.size() / 2);
        std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
        return pcm;
    };
    const std::vector<int16_t> plain = decode(0);
    const std::vector<int16_t> skipped = decode(2048);
    ASSERT_GT(plain.size(), 40000u);
    EXPECT_EQ(plain.size() - 2048, skipped.size());
    size_t differing = 0;
    for (size_t i = 0; i + 2048 < plain.size() && i < skipped.size(); ++i)
        differing += plain[i + 2048] != skipped[i];
    EXPECT_EQ(0u, differing);
}

TEST_F(Mp4DecodeTest, FileAfterEveryRefreshIsCompleteUpToThatPoint)
{
    openFor(&testVideo(), &testAudioStereo());
    int checked = 0;
    MuxFeed feed{&testVideo(), &testAudioStereo(), 500};
    feed.on_key = [&](uint32_t key_ms) {
        if (key_ms <= 10000 || (key_ms / 1000) % 4 != 0)
            return;
        ASSERT_EQ(1, mux.SaveData());
        // What a killed process would leave: the file as it is on disk now.
        const std::string copy = path + ".cut";
        ASSERT_EQ(0, std::system(("cp '" + path + "' '" + copy + "'").c_str()));
        const DecodeReport r = decodeAndList(copy);
        EXPECT_EQ("", r.errors) << "at " << key_ms << " ms";
        EXPECT_EQ(feed.video_written, r.video.size());
        EXPECT_EQ(feed.audio_written, r.audio.size());
        ++checked;
    };
    ASSERT_EQ(1, feed.run(mux));
    EXPECT_GE(checked, 2);
    ASSERT_EQ(1, mux.Close());
    const DecodeReport r = decodeAndList(path);
    EXPECT_EQ("", r.errors);
    EXPECT_EQ(500u, r.video.size());
}

// A disk that fills up: writes fail (here through the file-size limit) and the
// writer must say so. Close then writes the final index behind the last whole
// sample when the index still fits; when not even that fits (as here: without
// the journal's room, which a per-file limit cannot show, see the tmpfs test
// of the recorder), the file stays as it was at the last good refresh. Either
// way it plays.
TEST_F(Mp4DecodeTest, FullDiskIsReportedAndTheFileKeepsItsLastIndex)
{
    const std::string counts = path + ".counts";
    for (rlim_t limit : {rlim_t(90000), rlim_t(150000), rlim_t(230000)}) {
        SCOPED_TRACE(limit);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl{limit, limit};
            setrlimit(RLIMIT_FSIZE, &rl);
            CMp4mux m;
            const VideoClip& v = testVideo();
            const AudioClip& a = testAudioStereo();
            if (!m.Open(path.c_str(), v.width, v.height, 25, a.sample_rate, a.channels) ||
                !m.WriteVideoHead(v.sps.data(), int(v.sps.size()), v.pps.data(), int(v.pps.size())))
                _exit(2);
            uint32_t saved_v = 0, saved_a = 0, saves = 0;
            MuxFeed feed{&v, &a, 2000};
            bool save_failed = false;
            feed.on_key = [&](uint32_t) {
                if (save_failed)
                    return;
                if (m.SaveData()) {
                    saved_v = feed.video_written;
                    saved_a = feed.audio_written;
                    ++saves;
                } else {
                    save_failed = true;
                }
            };
            const int fed = feed.run(m);
            const int out_of_space = m.OutOfSpace();
            const int closed = m.Close();
            std::ofstream(counts) << fed << ' ' << closed << ' ' << saves << ' ' << saved_v << ' ' << saved_a << ' '
                                  << feed.video_written << ' ' << feed.audio_written << ' ' << out_of_space << ' '
                                  << m.Failed();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        int fed = -1, closed = -1, out_of_space = -1, failed = -1;
        uint32_t saves = 0, saved_v = 0, saved_a = 0, written_v = 0, written_a = 0;
        std::ifstream(counts) >> fed >> closed >> saves >> saved_v >> saved_a >> written_v >> written_a >>
            out_of_space >> failed;
        EXPECT_EQ(0, fed); // the refusal reached the caller
        EXPECT_EQ(1, out_of_space);
        EXPECT_EQ(1, failed) << "the cut is still reported after Close";
        ASSERT_GE(saves, 1u);
        const DecodeReport r = decodeAndList(path);
        EXPECT_EQ("", r.errors);
        if (closed) {
            EXPECT_EQ(sizesOf(testVideo().samples, written_v), r.video);
            EXPECT_EQ(sizesOf(testAudioStereo().raw, written_a), r.audio);
        } else {
            EXPECT_EQ(sizesOf(testVideo().samples, saved_v), r.video);
            EXPECT_EQ(sizesOf(testAudioStereo().raw, saved_a), r.audio);
        }
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLET_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUILLET_SANITIZED 1
#endif
#endif

TEST_F(Mp4DecodeTest, ShortMemoryAtOpenLeavesTheWriterClosed)
{
#ifdef QUILLET_SANITIZED
    GTEST_SKIP() << "address-space limits do not mix with sanitizer shadow memory";
#else
    const std::string out = path + ".stdout";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (!freopen(out.c_str(), "w", stdout))
            _exit(10);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        // Room for a few tables, not for all thirteen (8 MiB each).
        const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + 40u * 1024 * 1024;
        struct rlimit rl{limit, limit};
        setrlimit(RLIMIT_AS, &rl);
        CMp4mux m;
        const char s[16] = {};
        int bad = 0;
        bad |= m.Open(path.c_str(), 320, 240, 25, 32000, 2) != 0;
        bad |= (m.IsOpen() || m.info) ? 2 : 0;
        bad |= m.WriteVideoHead(s, 16, s, 4) != 0 ? 4 : 0;
        bad |= m.WriteVideo(s, 16, 40, 1) != 0 ? 8 : 0;
        bad |= m.WriteAudio(s, 16, 32) != 0 ? 16 : 0;
        bad |= m.SaveData() != 0 ? 32 : 0;
        bad |= m.ReOpen() != 0 ? 64 : 0;
        fflush(stdout);
        _exit(bad);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    const Bytes text = readFile(out);
    const std::string s(text.begin(), text.end());
    EXPECT_NE(std::string::npos, s.find("Error: Allocate Meory To video_audio_info_t->")) << s;
    EXPECT_NE(std::string::npos, s.find("  Buffer Failed ")) << s;
#endif
}

// The split thresholds lie near 4 GiB; a leading gap (a hole in the file) puts
// the writer there at once while every offset stays true.
TEST_F(Mp4DecodeTest, KeyFrameBeyondTheThresholdStartsThePlayableContinuation)
{
    const VideoClip& v = testVideo();
    const AudioClip& a = testAudioStereo();
    const uint32_t start = 0xFEBFFFFFu - 60000; // about 4 GiB - 20 MiB - 60 kB
    ASSERT_EQ(1, mux.OpenWithLeadingGap(path.c_str(), v.width, v.height, 25, a.sample_rate, a.channels,
                                        start - 48));
    ASSERT_EQ(1, mux.WriteVideoHead(v.sps.data(), int(v.sps.size()), v.pps.data(), int(v.pps.size())));
    ASSERT_EQ(start, mux.write_pos);
    // Pictures written into the first file after it passed the key threshold.
    uint32_t past_threshold = 0;
    for (uint32_t i = 0; i < 400; ++i) {
        const bool before = mux.write_pos > CMp4mux::kSplitAtKeyFrame && mux.FileName() == path;
        const size_t k = i % v.samples.size();
        ASSERT_EQ(1, mux.WriteVideo(reinterpret_cast<const char*>(v.samples[k].data()), int(v.samples[k].size()), 40,
                                    v.keys[k]));
        if (before && mux.FileName() == path)
            ++past_threshold;
    }
    const std::string next = path.substr(0, path.size() - 4) + "_1.mp4";
    ASSERT_EQ(next, mux.FileName());
    ASSERT_EQ(1, mux.Close());

    const DecodeReport first = decodeAndList(path);
    const DecodeReport second = decodeAndList(next);
    EXPECT_EQ("", first.errors);
    EXPECT_EQ("", second.errors);
    EXPECT_GT(past_threshold, 0u); // non-key pictures beyond the threshold stay in the first file
    EXPECT_EQ(0u, first.video.size() % 25); // the continuation starts at an IDR picture
    std::vector<uint32_t> all = first.video;
    all.insert(all.end(), second.video.begin(), second.video.end());
    EXPECT_EQ(sizesOf(v.samples, 400), all);

    // Offsets in the first file lie above the threshold and are true.
    uint64_t index_at = 0;
    const Bytes head = readRange(path, 0, 48);
    index_at = 40 + uint64_t(getBE32(&head[40]));
    const Bytes moov = readIndexTail(path);
    Box stco;
    ASSERT_TRUE(findBox(moov, "moov/trak/mdia/minf/stbl/stco", stco));
    const uint32_t last_offset = be32At(moov, stco.end() - 4);
    EXPECT_GT(last_offset, CMp4mux::kSplitAtKeyFrame);
    EXPECT_LT(last_offset, index_at);
    const Bytes& last = v.samples[(first.video.size() - 1) % v.samples.size()];
    EXPECT_EQ(last, readRange(path, last_offset, last.size()));
    std::remove(path.c_str());
    std::remove(next.c_str());
}

TEST_F(Mp4DecodeTest, AnySampleBeyondTheLastThresholdStartsTheContinuation)
{
    const uint32_t start = CMp4mux::kSplitAnyFrame - 3000;
    const Bytes p(1000, 0x41);
    const char* s = reinterpret_cast<const char*>(p.data());
    const std::string next = path.substr(0, path.size() - 4) + "_1.mp4";
    // A non-key picture: written while write_pos is at or below the threshold.
    ASSERT_EQ(1, mux.OpenWithLeadingGap(path.c_str(), 320, 240, 25, 32000, 2, start - 48));
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(1, mux.WriteVideo(s, 1000, 40, 0));
    EXPECT_EQ(path, mux.FileName());
    EXPECT_GT(mux.write_pos, CMp4mux::kSplitAnyFrame);
    ASSERT_EQ(1, mux.WriteVideo(s, 1000, 40, 0));
    EXPECT_EQ(next, mux.FileName());
    EXPECT_EQ(1u, mux.video_samples);
    EXPECT_EQ(0u, mux.sync_samples);
    EXPECT_EQ(48u + 1000, mux.write_pos);
    ASSERT_EQ(1, mux.Close());
    // Sound alone never meets a key frame and splits at the same place.
    ASSERT_EQ(1, mux.OpenWithLeadingGap(path.c_str(), 0, 0, 25, 32000, 2, start - 44));
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(1, mux.WriteAudio(s, 1000, 32));
    EXPECT_EQ(path, mux.FileName());
    ASSERT_EQ(1, mux.WriteAudio(s, 1000, 32));
    EXPECT_EQ(next, mux.FileName());
    EXPECT_EQ(1u, mux.audio_samples);
    ASSERT_EQ(1, mux.Close());
    std::remove(path.c_str());
    std::remove(next.c_str());
}

// Near the last threshold a large index reaches past 4 GiB, and the copy that
// keeps the previous index in force while it is replaced needs the 64-bit form
// of the media header for a moment. The final file must be back to the 32-bit
// layout and read as usual.
TEST_F(Mp4DecodeTest, IndexReachingPast4GiBNearTheThreshold)
{
    // An IDR picture just below the key-frame threshold, then 16-byte pictures
    // filling most of the 8 MiB up to the last threshold.
    const uint32_t pictures = 500000; // an index of about 14 MB
    const uint32_t start = CMp4mux::kSplitAtKeyFrame - 100;
    ASSERT_EQ(1, mux.OpenWithLeadingGap(path.c_str(), 320, 240, 25, 0, 0, start - 48));
    const VideoClip& v = testVideo();
    ASSERT_EQ(1, mux.WriteVideoHead(v.sps.data(), int(v.sps.size()), v.pps.data(), int(v.pps.size())));
    const char one[16] = {0x33};
    ASSERT_EQ(1, mux.WriteVideo(one, 16, 40, 1));
    for (uint32_t i = 1; i < pictures; ++i)
        ASSERT_EQ(1, mux.WriteVideo(one, 16, 40, 0));
    ASSERT_EQ(path, mux.FileName());
    ASSERT_EQ(1, mux.SaveData());
    EXPECT_GT(uint64_t(mux.write_pos) + mux.moov_len, uint64_t(1) << 32);
    const uint32_t last_offset = mux.write_pos;
    ASSERT_EQ(1, mux.WriteVideo(one, 16, 40, 0));
    ASSERT_EQ(1, mux.SaveData()); // the copy lies beyond 4 GiB
    ASSERT_EQ(path, mux.FileName());
    ASSERT_EQ(1, mux.Close());
    const Bytes head = readRange(path, 32, 16);
    EXPECT_EQ(0, std::memcmp(head.data(), "\0\0\0\x08" "free", 8));
    EXPECT_EQ(0, std::memcmp(head.data() + 12, "mdat", 4));
    // The pictures are not decodable; read the index instead.
    const Bytes moov = readIndexTail(path);
    Box stsz;
    ASSERT_TRUE(findBox(moov, "moov/trak/mdia/minf/stbl/stsz", stsz));
    EXPECT_EQ(pictures + 1, be32At(moov, stsz.payload() + 8));
    Box stco;
    ASSERT_TRUE(findBox(moov, "moov/trak/mdia/minf/stbl/stco", stco));
    EXPECT_EQ(last_offset, be32At(moov, stco.end() - 4));
    std::remove(path.c_str());
}

} // namespace
