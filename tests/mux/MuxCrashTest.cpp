// Crash safety for real: a helper process writes an MP4 or FLV recording and is
// killed with SIGKILL at random moments after its first refresh. Every cut file
// must decode without a single error and hold every sample up to the last
// refresh the helper reported (a later refresh may also have made it).
#include "tests/mux/MuxCrashCheck.h"

using namespace quillet::muxtest;

namespace {

TEST(MuxCrashTest, KilledMp4WriterLeavesAPlayableFile)
{
    crashAndCheck("mp4", 10, 1234, 600);
}

// Most kill moments fall inside an index refresh here: the previous index must
// stay in force until the new one is complete.
TEST(MuxCrashTest, Mp4WriterKilledDuringIndexRefreshesLeavesAPlayableFile)
{
    crashAndCheck("mp4-every", 10, 555, 400);
}

// With the journal, a killed recording is repaired up to its last whole
// sample, wherever the kill fell: between samples, inside a sample's write,
// or inside an index refresh while the media that belong where the old index
// stood were held in memory.
TEST(MuxCrashTest, KilledJournaledMp4IsRepairedToItsLastSample)
{
    crashRepairAndCheck("journal", 12, 2024, 1500);
}

// The continuation file of a split recording has its own journal.
TEST(MuxCrashTest, KilledContinuationFileIsRepairedAndTheFirstStaysWhole)
{
    crashRepairAndCheck("journal-split", 6, 77, 1200);
}

TEST(MuxCrashTest, KilledFlvWriterLeavesAPlayableFile)
{
    crashAndCheck("flv", 10, 4321, 600);
}

// A killed FLV plays as it is; the repair gives it the duration it really has.
TEST(MuxCrashTest, KilledFlvGetsItsDurationFromTheRepair)
{
    crashRepairAndCheck("flv-journal", 6, 99, 1500);
}

} // namespace
