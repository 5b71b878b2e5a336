// Finding the recordings a killed program left unfinished in a folder, and
// repairing one by the kind its journal names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/recovery/UnfinishedRecordings.h"
#include "mux/flv/FlvWriter.h"
#include "mux/journal/RecordingJournal.h"
#include "tests/mux/MuxTestMedia.h"

namespace quillet {
namespace {

std::string freshFolder()
{
    char pattern[] = "/tmp/quillet-unfinished-XXXXXX";
    return std::string(mkdtemp(pattern)) + "/";
}

TEST(UnfinishedRecordings, FoundByTheirJournalsUnlessStillBeingWritten)
{
    const std::string dir = freshFolder();
    JournalWriter killed, live;
    ASSERT_EQ(1, killed.create(dir + "b.mp4.journal", JournalKind::Mp4));
    killed.close();
    ASSERT_EQ(1, live.create(dir + "c.flv.journal", JournalKind::Flv)); // another program records c.flv
    std::ofstream(dir + "a.mp4") << "x";
    std::ofstream(dir + "notes.journal.txt") << "x";
    std::filesystem::create_directory(dir + "d.mp4.journal"); // not a file

    EXPECT_EQ(std::vector<std::string>{dir + "b.mp4"}, findUnfinishedRecordings(dir));
    // The folder may be given without its trailing slash.
    EXPECT_EQ(std::vector<std::string>{dir + "b.mp4"}, findUnfinishedRecordings(dir.substr(0, dir.size() - 1)));
    live.close();
    EXPECT_EQ((std::vector<std::string>{dir + "b.mp4", dir + "c.flv"}), findUnfinishedRecordings(dir));
    EXPECT_TRUE(findUnfinishedRecordings(dir + "missing").empty());

    RecordingRepairReport r;
    EXPECT_EQ(0, repairRecording(dir + "a.mp4", &r)) << "no journal, nothing to repair";
    EXPECT_FALSE(r.error.empty());
    std::filesystem::remove_all(dir);
}

// An FLV whose writer went away without finishing (the journal stays, the
// metadata still says 0 s) gets the duration its pictures reach.
TEST(UnfinishedRecordings, KilledFlvIsFinalisedByItsJournalsKind)
{
    using namespace muxtest;
    const std::string dir = freshFolder();
    const std::string file = dir + "cut.flv";
    const VideoClip& v = testVideo();
    ASSERT_FALSE(v.samples.empty());
    {
        FlvWriter flv;
        ASSERT_EQ(1, flv.CreateFlvFile(file.c_str()));
        ASSERT_EQ(1, flv.EnableJournal(25));
        const Bytes head = flvAvcHeaderTag(v.sps, v.pps);
        ASSERT_EQ(1, flv.WriteFlvHeader(v.width, v.height, 2, head.data(), int(head.size())));
        for (uint32_t i = 0; i < 75; ++i) {
            const Bytes tag = flvVideoTag(v.samples[i], v.keys[i], i * 40);
            ASSERT_EQ(1, flv.WriteFlvVideo(tag.data(), int(tag.size()), v.keys[i], i * 40));
        }
        // Gone without FinishFlv: what a killed program leaves.
    }
    ASSERT_EQ(std::vector<std::string>{file}, findUnfinishedRecordings(dir));
    RecordingRepairReport r;
    ASSERT_EQ(1, repairRecording(file, &r)) << r.error;
    EXPECT_EQ(75u, r.videoSamples);
    EXPECT_EQ(3000u, r.durationMs);
    EXPECT_EQ("3.000000", probeEntry(file, nullptr, "format", "duration").substr(0, 8));
    EXPECT_EQ("", decodeErrors(file));
    EXPECT_TRUE(findUnfinishedRecordings(dir).empty());
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace quillet
