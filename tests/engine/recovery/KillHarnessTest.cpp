// A few killed recordings on every test run; the full fifty run as a slow test
// (KillHarnessSlowTest.cpp). QUILLET_KILL_SEED replays other moments.
#include "tests/engine/recovery/KillHarness.h"

namespace quillet::killtest {
namespace {

TEST(KillHarness, RecordingsKilledAtAFewMomentsKeepAllButTheirLastSeconds)
{
    if (!desktopPresent())
        GTEST_SKIP() << "needs DISPLAY, a PulseAudio server and ffmpeg (test-env.sh)";
    killAtRandomMoments(3, 0.5, 9.0, harnessSeed(41));
}

} // namespace
} // namespace quillet::killtest
