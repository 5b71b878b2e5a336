// Fifty recordings each of MP4 and FLV with sound, killed with SIGKILL at
// random moments between 0.5 s and 40 s after their start. Prints the seed and
// the distribution of lost seconds. QUILLET_KILL_SEED replays other moments.
#include <cstdlib>
#include <string>

#include "tests/engine/recovery/KillHarness.h"

namespace quillet::killtest {
namespace {

TEST(KillHarnessSlow, FiftyKillsAtRandomMomentsLoseAtMostTwoSecondsEach)
{
    const char* slow = std::getenv("QUILLET_SLOW_TESTS");
    if (!slow || std::string(slow) != "1")
        GTEST_SKIP() << "slow: set QUILLET_SLOW_TESTS=1";
    if (!desktopPresent())
        GTEST_SKIP() << "needs DISPLAY, a PulseAudio server and ffmpeg (test-env.sh)";
    killAtRandomMoments(50, 0.5, 40.0, harnessSeed(20261209));
}

} // namespace
} // namespace quillet::killtest
