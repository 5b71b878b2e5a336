// The side journal's own reading (whole records only, a torn end dropped) and
// the repair of MP4 recordings whose writer vanished without Close: the
// repair stops at the first sample whose bytes are not what was written,
// refuses a recording still being written and leaves a recording with
// nothing in it untouched.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "mux/journal/RecordingJournal.h"
#include "mux/mp4/Mp4Repair.h"
#include "tests/mux/MuxFeed.h"
#include "tests/mux/MuxTestMedia.h"

using namespace quillet;
using namespace quillet::muxtest;

namespace {

TEST(RecordingJournal, ReaderKeepsWholeRecordsAndNoticesATornEnd)
{
    const std::string path = tempPath("records.journal");
    {
        JournalWriter w;
        ASSERT_EQ(1, w.create(path, JournalKind::Flv));
        EXPECT_TRUE(journalInUse(path)) << "a writer holds its journal";
        ASSERT_EQ(1, w.append(5, "abc", 3));
        ASSERT_EQ(1, w.append(6, "de", 2, "fgh", 3));
        ASSERT_EQ(1, w.preallocate(4096));
        ASSERT_EQ(1, w.close());
        EXPECT_FALSE(journalInUse(path));
    }
    JournalContents j;
    ASSERT_EQ(1, readJournal(path, &j));
    EXPECT_EQ(JournalKind::Flv, j.kind);
    ASSERT_EQ(2u, j.records.size());
    EXPECT_EQ(6, j.records[1].type);
    EXPECT_EQ("defgh", std::string(reinterpret_cast<const char*>(j.records[1].data), j.records[1].size));
    EXPECT_FALSE(j.torn) << "the unused room of a preallocated file is no damage";

    // A record cut in the middle of its payload (killed inside the write).
    ASSERT_EQ(0, truncate(path.c_str(), off_t(JournalWriter::kHeaderBytes + 12 + 8)));
    ASSERT_EQ(1, readJournal(path, &j));
    EXPECT_EQ(1u, j.records.size());
    EXPECT_TRUE(j.torn);

    // A record whose bytes changed does not check, nor does anything behind it.
    JournalWriter w;
    ASSERT_EQ(1, w.create(path, JournalKind::Flv));
    ASSERT_EQ(1, w.append(5, "abc", 3));
    ASSERT_EQ(1, w.append(5, "xyz", 3));
    w.close();
    Bytes f = readFile(path);
    f[JournalWriter::kHeaderBytes + 6] ^= 1;
    FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(f.data(), 1, f.size(), out);
    std::fclose(out);
    ASSERT_EQ(1, readJournal(path, &j));
    EXPECT_TRUE(j.records.empty());
    EXPECT_TRUE(j.torn);
}

// A writer with its journal that vanishes after `pictures` pictures, as a
// killed process would: no Close, no destructor.
void writeAndVanish(const std::string& path, uint32_t pictures, bool withSound = true)
{
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const VideoClip& v = testVideo();
        const AudioClip& a = testAudioStereo();
        auto* mux = new CMp4mux;
        if (!mux->Open(path.c_str(), v.width, v.height, 25, withSound ? a.sample_rate : 0, withSound ? a.channels : 0) ||
            !mux->EnableJournal() ||
            !mux->WriteVideoHead(v.sps.data(), int(v.sps.size()), v.pps.data(), int(v.pps.size())))
            _exit(2);
        MuxFeed feed{&v, withSound ? &a : nullptr, pictures};
        feed.on_key = [&](uint32_t) { mux->SaveData(); };
        _exit(feed.run(*mux) ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Mp4Repair, StopsAtTheFirstSampleWhoseBytesChanged)
{
    const std::string path = tempPath("damaged.mp4");
    writeAndVanish(path, 72); // refreshed at the key frames 0, 25 and 50, then 21 more pictures
    // Damage picture 68, behind the bytes held in memory after the last
    // refresh (those come back from the journal whatever the file holds).
    constexpr uint32_t kDamaged = 68;
    const VideoClip& v = testVideo();
    uint64_t at = 0;
    {
        // Its offset, in the feed's order: audio frames up to a picture's time first.
        uint64_t pos = 48; // ftyp 32, free 8, mdat header 8
        const AudioClip& a = testAudioStereo();
        uint32_t j = 0;
        for (uint32_t i = 0; i < kDamaged; ++i) {
            for (; j * 32 <= i * 40; ++j)
                pos += a.raw[j % a.raw.size()].size();
            pos += v.samples[i % v.samples.size()].size();
        }
        for (; j * 32 <= kDamaged * 40; ++j)
            pos += a.raw[j % a.raw.size()].size();
        at = pos + 10;
    }
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(nullptr, f);
    std::fseek(f, long(at), SEEK_SET);
    const int c = std::fgetc(f);
    std::fseek(f, long(at), SEEK_SET);
    std::fputc(c ^ 0x55, f);
    std::fclose(f);

    RecordingRepairReport r;
    ASSERT_EQ(1, repairMp4Recording(path, &r)) << r.error;
    EXPECT_EQ(kDamaged, r.videoSamples);
    EXPECT_GT(r.droppedSamples, 0u);
    const DecodeReport d = decodeAndList(path);
    EXPECT_EQ("", d.errors);
    EXPECT_EQ(kDamaged, d.video.size());
    EXPECT_NE(0, access((path + ".journal").c_str(), F_OK));
    EXPECT_NE(0, access((path + ".reserve").c_str(), F_OK));
}

TEST(Mp4Repair, RefusesWhatItCannotOrMustNotRepair)
{
    RecordingRepairReport r;
    const std::string missing = tempPath("missing.mp4");
    EXPECT_EQ(0, repairMp4Recording(missing, &r));
    EXPECT_NE(std::string::npos, r.error.find("no journal"));

    // Still being written: the journal is held by a live writer.
    const std::string live = tempPath("live.mp4");
    {
        CMp4mux mux;
        const VideoClip& v = testVideo();
        ASSERT_EQ(1, mux.Open(live.c_str(), v.width, v.height, 25, 0, 0));
        ASSERT_EQ(1, mux.EnableJournal());
        EXPECT_EQ(0, repairMp4Recording(live, &r));
        EXPECT_NE(std::string::npos, r.error.find("still being written"));
    }
    EXPECT_NE(0, access((live + ".journal").c_str(), F_OK)) << "a clean close removes the journal";

    // Killed before its first picture: nothing to give an index to, and the
    // file is left as it was.
    const std::string empty = tempPath("empty.mp4");
    writeAndVanish(empty, 0);
    const Bytes before = readFile(empty);
    EXPECT_EQ(0, repairMp4Recording(empty, &r));
    EXPECT_NE(std::string::npos, r.error.find("nothing was recorded"));
    EXPECT_EQ(before, readFile(empty));
}

} // namespace
