#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "audio/input/AudioPlatform.h"
#include "audio/input/WaveFormatRecord.h"
#include "audio/loopback/LoopbackCapture.h"
#include "audio/pulse/PulseMonitorDevice.h"
#include "tests/audio/SoundTestKit.h"

namespace quillet {
namespace {

using namespace soundtest;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> requestRecord(uint16_t channels, uint32_t rate)
{
    WaveFormatRecord r;
    r.channels = channels;
    r.sampleRate = rate;
    r.bitsPerSample = 16;
    r.blockAlign = static_cast<uint16_t>(channels * 2);
    r.avgBytesPerSecond = rate * r.blockAlign;
    std::vector<uint8_t> rec(WaveFormatRecord::kSize);
    r.write(rec.data());
    return rec;
}

// A null sink that has just started (or just gained its first reader)
// answers only after about two seconds, then in one burst. Fetch and drop
// until fetches come back partly filled several times in a row: the backlog is
// gone and sound arrives as it plays.
bool waitForSteadySound(const std::function<int32_t(uint8_t*, int32_t)>& fetch, int32_t room)
{
    std::vector<uint8_t> buf(static_cast<size_t>(room));
    int steady = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(8);
    while (steady < 5 && Clock::now() < deadline) {
        const int32_t n = fetch(buf.data(), room);
        steady = (n > 0 && n < room) ? steady + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return steady >= 5;
}

// Fetches the way the engine's clock does, once per 40 ms with a buffer's
// worth of room, for the given time. Returns the sound and checks each result.
std::vector<uint8_t> fetchFor(LookbackCallFn entry, int milliseconds, int32_t room, int frameBytes)
{
    std::vector<uint8_t> all;
    std::vector<uint8_t> buf(static_cast<size_t>(room));
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
        const int32_t n = entry(buf.data(), room);
        EXPECT_GE(n, 0);
        EXPECT_LE(n, room);
        EXPECT_EQ(n % frameBytes, 0);
        all.insert(all.end(), buf.begin(), buf.begin() + std::max(0, n));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return all;
}

// Switches the default output to a new mono sink, records it, then removes it.
void followTheDefaultOutputAndSurviveItsRemoval()
{
    const std::string sinkName = "qout" + std::to_string(getpid());
    PulseModule sink("module-null-sink sink_name=" + sinkName + " rate=44100 channels=1");
    ASSERT_TRUE(sink.loaded());
    // Restores the shared default even when an assertion ends the test early.
    struct RestoreDefault {
        ~RestoreDefault() { runCommand("pactl set-default-sink speaker"); }
    } restore;
    bool ok = false;
    runCommand("pactl set-default-sink " + sinkName, &ok);
    ASSERT_TRUE(ok);
    const std::string tone = writeToneWav(700, 5, 44100);
    ChildProcess player;
    ASSERT_EQ(player.start({"paplay", "-d", sinkName, tone}), 1);

    LoopbackCapture capture(std::make_unique<PulseMonitorDevice>());
    std::vector<uint8_t> rec = requestRecord(2, 32000);
    ASSERT_EQ(capture.call(rec.data(), kLookbackStart), 1) << capture.lastError();
    EXPECT_EQ(WaveFormatRecord::read(rec.data()).channels, 1);
    EXPECT_EQ(WaveFormatRecord::read(rec.data()).sampleRate, 44100u);

    ASSERT_TRUE(waitForSteadySound([&](uint8_t* b, int32_t n) { return capture.call(b, n); }, 20480));
    std::vector<uint8_t> buf(20480);
    std::vector<uint8_t> pcm;
    const auto end = Clock::now() + std::chrono::milliseconds(1500);
    while (Clock::now() < end) {
        const int32_t n = capture.call(buf.data(), 20480);
        pcm.insert(pcm.end(), buf.begin(), buf.begin() + n);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    // A mono output recorded as stereo: the sound on the left, silence on the right.
    const Spectrum left = analyse(channelOf(pcm, 2, 0), 32000);
    EXPECT_NEAR(left.peakHz, 700.0, 4.0);
    EXPECT_GT(left.rms, 0.1);
    const std::vector<int16_t> right = channelOf(pcm, 2, 1);
    EXPECT_TRUE(std::all_of(right.begin(), right.end(), [](int16_t v) { return v == 0; }));

    player.kill();
    sink.unload();
    // The output is gone: fetches return promptly with nothing, never hang.
    const auto t0 = Clock::now();
    int32_t afterRemoval = 0;
    for (int i = 0; i < 10; ++i) {
        afterRemoval = capture.call(buf.data(), 20480);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(afterRemoval, 0);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 2.0);
    EXPECT_FALSE(capture.lastError().empty());
    EXPECT_EQ(capture.call(nullptr, kLookbackStop), 0);
}

// One test, not several: the second half changes the default output, which
// would disturb a computer-sound test running beside it.
TEST(PulseLoopback, ComputerSoundInMonoAndStereoFollowingTheDefaultOutput)
{
    REQUIRE_TEST_SOUND_SERVER();
    const LookbackCallFn entry = platformLookbackCall();
    ASSERT_NE(entry, nullptr);
    const std::string tone = writeToneWav(1500, 12);
    ASSERT_FALSE(tone.empty());
    ChildProcess player;
    ASSERT_EQ(player.start({"paplay", "-d", "speaker", tone}), 1);

    // Mono at 32000 Hz from the 48000 Hz stereo speaker.
    std::vector<uint8_t> rec = requestRecord(1, 32000);
    ASSERT_EQ(entry(rec.data(), kLookbackStart), 1);
    const WaveFormatRecord dev = WaveFormatRecord::read(rec.data());
    EXPECT_EQ(dev.formatTag, 1);
    EXPECT_EQ(dev.channels, 2);
    EXPECT_EQ(dev.sampleRate, 48000u);
    EXPECT_EQ(dev.bitsPerSample, 16);
    EXPECT_EQ(dev.blockAlign, 4);

    std::vector<uint8_t> untouched(200, 0xAB);
    EXPECT_EQ(entry(untouched.data(), 50), 0);
    EXPECT_EQ(untouched, std::vector<uint8_t>(200, 0xAB));

    ASSERT_TRUE(waitForSteadySound(entry, 10240));
    const auto started = Clock::now();
    const std::vector<uint8_t> mono = fetchFor(entry, 2000, 10240, 2);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    // The converted stream runs at the requested rate: about 64000 bytes a second.
    EXPECT_GT(static_cast<double>(mono.size()), 0.7 * seconds * 64000);
    EXPECT_LT(static_cast<double>(mono.size()), 1.1 * seconds * 64000 + 10240);
    Spectrum s = analyse(channelOf(mono, 1, 0), 32000);
    EXPECT_NEAR(s.peakHz, 1500.0, 4.0);
    EXPECT_GT(s.peakShare, 0.8);
    EXPECT_GT(s.rms, 0.1);
    EXPECT_EQ(entry(nullptr, kLookbackStop), 0);
    EXPECT_EQ(entry(untouched.data(), 200), 0) << "no sound after stop";

    // Stereo at 32000 Hz: the speaker's two channels stay two channels.
    rec = requestRecord(2, 32000);
    ASSERT_EQ(entry(rec.data(), kLookbackStart), 1);
    ASSERT_TRUE(waitForSteadySound(entry, 20480));
    const std::vector<uint8_t> stereo = fetchFor(entry, 1500, 20480, 4);
    EXPECT_EQ(entry(nullptr, kLookbackStop), 0);
    for (int ch = 0; ch < 2; ++ch) {
        s = analyse(channelOf(stereo, 2, ch), 32000);
        EXPECT_NEAR(s.peakHz, 1500.0, 4.0) << "channel " << ch;
        EXPECT_GT(s.peakShare, 0.8) << "channel " << ch;
    }

    player.kill();
    ASSERT_NO_FATAL_FAILURE(followTheDefaultOutputAndSurviveItsRemoval());
}

} // namespace
} // namespace quillet
