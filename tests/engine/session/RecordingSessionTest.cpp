#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "capture/synthetic/SyntheticScreen.h"
#include "engine/session/RecordingSession.h"
#include "tests/engine/session/SessionTestSupport.h"

namespace quillet {
namespace {

using test::LoggingOutput;
using test::ManualClock;
using test::OutputLog;
using test::ScriptedAudioInput;
using test::TestHost;

// A session on a 640 x 480 scripted screen whose ticks the test drives.
struct Rig {
    Rig()
    {
        env.screen = &screen;
        env.clock = &clock;
        env.runVideoThread = false;
        env.soundInput = &audio;
        env.sources.build(AudioSystemInfo{});
        env.outputFactory = [this](OutputType t) -> std::unique_ptr<MediaOutput> {
            created.push_back(t);
            return std::make_unique<LoggingOutput>(log);
        };
        settings.framesPerSecond = 15;
        settings.recordSound = false;
        settings.qualityLevel = 2;
        settings.outputFileName = "/tmp/quillet-session-test.mp4";
    }
    std::unique_ptr<RecordingSession> make() { return std::make_unique<RecordingSession>(host, env); }
    int start(RecordingSession& s) { return s.start(settings, "MP4", true, "/tmp/", 0); }
    // Moves the clock in steps of `stepMs`, ticking after each.
    void run(RecordingSession& s, uint64_t totalMs, uint64_t stepMs = 10)
    {
        for (uint64_t t = 0; t < totalMs; t += stepMs) {
            clock.now += stepMs;
            s.frameTick();
        }
    }

    SyntheticScreen screen{640, 480};
    ManualClock clock;
    TestHost host;
    ScriptedAudioInput audio;
    std::shared_ptr<OutputLog> log = std::make_shared<OutputLog>();
    std::vector<OutputType> created;
    SessionEnvironment env;
    RecordSettings settings;
};

TEST(RecordingSession, TypesWithoutAWriterEndTheStartWithAClearMessage)
{
    for (const char* name : {"/tmp/quillet-x.wmv", "/tmp/quillet-x.rec"}) {
        Rig rig;
        // Every type has a writer now; a factory without one for the type
        // stands in for a build that lacks it.
        rig.env.outputFactory = [](OutputType) { return std::unique_ptr<MediaOutput>(); };
        rig.settings.outputFileName = name;
        std::filesystem::remove(name);
        auto s = rig.make();
        EXPECT_EQ(rig.start(*s), 0) << name;
        EXPECT_EQ(s->state(), RecordingSession::Stopped);
        ASSERT_EQ(rig.host.messages.size(), 1u);
        EXPECT_EQ(rig.host.messages[0], RecordingSession::kTypeUnavailableKey);
        EXPECT_FALSE(std::filesystem::exists(name)) << "no empty file is left behind";
        EXPECT_EQ(rig.host.countdowns, 0);
    }
}

TEST(RecordingSession, CancelledConfirmationOpensNothing)
{
    Rig rig;
    rig.host.startAnswer = ConfirmAnswer::Cancel;
    auto s = rig.make();
    EXPECT_EQ(rig.start(*s), 0);
    EXPECT_TRUE(rig.created.empty());
    EXPECT_TRUE(rig.host.messages.empty());
    ASSERT_EQ(rig.host.confirmTexts.size(), 1u);
    EXPECT_EQ(rig.host.confirmTexts[0],
              "MP4<recFile>/tmp/quillet-session-test.mp4<recAudio><recNo><FPS><start1>");
}

TEST(RecordingSession, FailuresLeaveNothingOpen)
{
    {
        Rig rig; // an area that lies off the screen
        rig.settings.captureArea = Rect{1000, 0, 1100, 100};
        auto s = rig.make();
        EXPECT_EQ(rig.start(*s), 0);
        EXPECT_EQ(rig.host.messages, std::vector<std::string>{"startErr"});
        EXPECT_EQ(s->state(), RecordingSession::Stopped);
        EXPECT_EQ(rig.log->opens, 0);
    }
    {
        Rig rig; // the writer refuses
        rig.log->failKey = "h264Err";
        auto s = rig.make();
        EXPECT_EQ(rig.start(*s), 0);
        EXPECT_EQ(rig.host.messages, std::vector<std::string>{"h264Err"});
        EXPECT_EQ(s->state(), RecordingSession::Stopped);
        EXPECT_EQ(rig.host.countdowns, 0);
        EXPECT_EQ(rig.screen.picture().bits, nullptr) << "the grabber was released";
        // A later start works again.
        rig.log->failKey = nullptr;
        EXPECT_EQ(rig.start(*s), 1);
        EXPECT_EQ(s->stop(), 1);
    }
    {
        Rig rig; // sound on without any recording device: recording goes on silently
        rig.settings.recordSound = true;
        rig.env.soundInput = nullptr;
        auto s = rig.make();
        ASSERT_EQ(rig.start(*s), 1);
        EXPECT_EQ(rig.host.messages, std::vector<std::string>{"audioErr2"});
        EXPECT_EQ(s->counters().soundFailed, true);
        s->stop();
    }
}

TEST(RecordingSession, FramesFollowTheSlotsOfTheClock)
{
    Rig rig;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    EXPECT_EQ(rig.host.countdowns, 1);
    rig.run(*s, 1000, 10);
    auto c = s->counters();
    EXPECT_EQ(c.framesCounted, 15u);
    EXPECT_EQ(c.framesEncoded, 15u);
    ASSERT_GE(rig.log->timestamps.size(), 3u);
    // Each picture shows from the slot it was captured nearest to, one after
    // the count before it: the first, taken at 40 ms, at 66 ms, not at 0.
    EXPECT_EQ(rig.log->counted[0], 0u);
    EXPECT_EQ(rig.log->timestamps[0], 66u);
    EXPECT_EQ(rig.log->timestamps[1], 133u);
    EXPECT_EQ(rig.log->timestamps[2], 200u);
    // The first frame is a key frame (the count starts 20 s minus one frame in).
    EXPECT_TRUE(rig.log->keys[0]);
    EXPECT_FALSE(rig.log->keys[1]);

    // A quarter second without a tick: one frame for all the slots.
    rig.clock.now += 250;
    s->frameTick();
    EXPECT_EQ(rig.log->advances.back(), 4u);
    EXPECT_EQ(s->counters().framesEncoded, 16u);

    // Ten seconds lost (suspend): no burst, timing restarts from the count.
    const size_t before = rig.log->advances.size();
    rig.clock.now += 10000;
    s->frameTick();
    EXPECT_EQ(rig.log->advances.size(), before);
    rig.run(*s, 70, 10);
    EXPECT_EQ(rig.log->advances.size(), before + 1);
    EXPECT_EQ(rig.log->advances.back(), 1u);
    s->stop();
    EXPECT_EQ(rig.log->closes, 1);
    EXPECT_EQ(rig.log->closedFrames, s->counters().framesCounted);
}

TEST(RecordingSession, PauseDropsTheTimeAndResumeContinuesTheCount)
{
    Rig rig;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 1000);
    ASSERT_EQ(s->counters().framesCounted, 15u);
    EXPECT_EQ(s->pause(), 1);
    EXPECT_EQ(s->pause(), 0); // only when recording
    rig.run(*s, 5000);
    EXPECT_EQ(s->counters().framesCounted, 15u);
    const size_t confirms = rig.host.confirmTexts.size();
    ASSERT_EQ(rig.start(*s), 1); // resume: no confirmation, no countdown
    EXPECT_EQ(rig.host.confirmTexts.size(), confirms);
    EXPECT_EQ(rig.host.countdowns, 1);
    s->frameTick();
    EXPECT_EQ(s->counters().framesCounted, 15u) << "no frame is due right at the resume";
    rig.run(*s, 70);
    EXPECT_EQ(s->counters().framesCounted, 16u);
    EXPECT_EQ(rig.log->timestamps.back(), 1066u); // slot 16, right after the 15 before the pause
    EXPECT_EQ(rig.log->advances.back(), 1u);
    s->stop();
}

TEST(RecordingSession, ALimitPausesAndPostsTheStopCommand)
{
    Rig rig;
    rig.log->stopAfterFrame = true;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 100);
    EXPECT_EQ(s->state(), RecordingSession::Paused);
    EXPECT_EQ(rig.host.commands, std::vector<int>{kCommandStop});
    const size_t frames = rig.log->advances.size();
    rig.run(*s, 500);
    EXPECT_EQ(rig.log->advances.size(), frames) << "no frame after the limit";
    EXPECT_EQ(s->stop(), 1);
}

TEST(RecordingSession, AFailedWriterEndsTheRecordingAndSaysSo)
{
    Rig rig;
    rig.log->failAfterFrame = true; // the disk fills up
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 100);
    EXPECT_EQ(s->state(), RecordingSession::Paused);
    EXPECT_EQ(rig.host.commands, std::vector<int>{kCommandStop});
    EXPECT_EQ(s->stop(), 1);
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"fileErr"});
}

TEST(RecordingSession, StopTwiceAndStopWhileExiting)
{
    Rig rig;
    auto s = rig.make();
    EXPECT_EQ(s->stop(), 0); // nothing to stop
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 200);
    EXPECT_EQ(s->stop(), 1);
    const size_t confirms = rig.host.confirmTexts.size();
    EXPECT_EQ(s->stop(), 0);
    EXPECT_EQ(rig.host.confirmTexts.size(), confirms);
    EXPECT_EQ(rig.log->closes, 1);

    ASSERT_EQ(rig.start(*s), 1);
    s->setExiting(true);
    const size_t beforeExit = rig.host.confirmTexts.size();
    EXPECT_EQ(s->stop(), 1);
    EXPECT_EQ(rig.host.confirmTexts.size(), beforeExit) << "no end message while exiting";
    EXPECT_EQ(rig.log->closes, 2) << "the file is still finalised";
}

TEST(RecordingSession, EndMessageWarnsAboutSlowCapture)
{
    Rig rig;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.clock.now += 300; // one frame covering 5 slots: 1 of 5 produced
    s->frameTick();
    s->stop();
    EXPECT_EQ(s->lastEndMessage(), "<FpsErr><RecEnd>/tmp/quillet-session-test.mp4<FPS>");
    Rig rig2;
    auto s2 = rig2.make();
    ASSERT_EQ(rig2.start(*s2), 1);
    rig2.run(*s2, 300);
    s2->stop();
    EXPECT_EQ(s2->lastEndMessage(), "<RecEnd>/tmp/quillet-session-test.mp4<FPS>");
}

TEST(RecordingSession, StatusShowsRecordedTimeOnly)
{
    Rig rig;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 2000);
    s->onStatusTimer();
    EXPECT_EQ(rig.host.elapsed, "00:02");
    const int icon = rig.host.trayIcon;
    s->pause();
    rig.run(*s, 3000);
    s->onStatusTimer();
    EXPECT_EQ(rig.host.elapsed, "00:02");
    EXPECT_EQ(rig.host.trayIcon, icon);
    s->stop();
}

// Sound through the real AAC encoder into the logging writer.
struct SoundRig : Rig {
    SoundRig()
    {
        settings.recordSound = true;
        settings.qualityLevel = 3; // 32000 Hz stereo for MP4
    }
};

TEST(RecordingSession, SoundIsTheMasterClock)
{
    SoundRig rig;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    EXPECT_EQ(rig.audio.samples, 5120u); // five AAC frames per buffer at 32000 Hz
    EXPECT_EQ(rig.audio.openedDevice, "");

    // Before the first frame sound is not stored.
    s->onAudioChunk(&rig.audio, rig.audio.fill(1000));
    EXPECT_TRUE(rig.log->aacEnds.empty());
    EXPECT_EQ(rig.audio.requeues, 1);

    rig.run(*s, 100);
    s->onAudioChunk(&rig.audio, rig.audio.fill(1000));
    ASSERT_EQ(rig.log->aacEnds.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(rig.log->aacEnds[i], 32u * (i + 1));
        EXPECT_EQ(rig.log->aacDurations[i], 32u);
    }
    EXPECT_EQ(s->counters().audioMs, 160u);
    EXPECT_EQ(s->counters().soundLevel, 1000);

    // The video clock is 2 s ahead of 160 ms of sound: pulled back.
    rig.clock.now += 2000;
    s->onAudioChunk(&rig.audio, rig.audio.fill(0));
    auto c = s->counters();
    EXPECT_EQ(c.audioMs, 320u);
    EXPECT_EQ(static_cast<int64_t>(rig.clock.now) - c.startTick, 320);

    // 400 ms ahead: left alone.
    rig.clock.now += 400 + 160;
    const int64_t anchor = s->counters().startTick;
    s->onAudioChunk(&rig.audio, rig.audio.fill(0));
    EXPECT_EQ(s->counters().startTick, anchor);

    // While paused, sound is thrown away and the clock stands still.
    s->pause();
    const size_t frames = rig.log->aacEnds.size();
    s->onAudioChunk(&rig.audio, rig.audio.fill(0));
    EXPECT_EQ(rig.log->aacEnds.size(), frames);
    EXPECT_EQ(s->counters().audioMs, 480u);
    rig.start(*s);
    rig.run(*s, 100);
    s->onAudioChunk(&rig.audio, rig.audio.fill(0));
    EXPECT_EQ(s->counters().audioMs, 640u);
    EXPECT_EQ(rig.log->aacDurations.back(), 32u);
    s->stop();
    EXPECT_FALSE(rig.audio.running());
}

TEST(RecordingSession, ASoundThatStartsLateIsPutAtItsRealTime)
{
    // The device's first sound comes 2 s into the recording: the sound track
    // starts with silence up to it, instead of the video clock being pulled
    // back over two seconds of pictures already written.
    SoundRig rig;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    const int64_t anchor = s->counters().startTick;
    rig.run(*s, 2000);
    s->onAudioChunk(&rig.audio, rig.audio.fill(1000));
    const auto c = s->counters();
    EXPECT_EQ(c.startTick, anchor);
    // 1840 ms of silence, then the 160 ms buffer: 62 whole 32-ms AAC frames
    // so far (the encoder keeps the part of a frame that is left over).
    EXPECT_EQ(c.audioMs, 1984u);
    ASSERT_FALSE(rig.log->aacEnds.empty());
    EXPECT_EQ(rig.log->aacEnds.front(), 32u);
    EXPECT_EQ(rig.log->aacEnds.back(), 1984u);
    for (uint32_t d : rig.log->aacDurations)
        EXPECT_EQ(d, 32u);
    s->stop();
}

TEST(RecordingSession, TheSoundTrackStartsWithTheRecordingAtLowFrameRates)
{
    // At 2 frames per second the first picture comes half a second in, and
    // the sound before it is not stored; the first sound stored is put at its
    // time, so sound and pictures share one timeline from the start.
    SoundRig rig;
    rig.settings.framesPerSecond = 2;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.clock.now += 170;
    s->onAudioChunk(&rig.audio, rig.audio.fill(1000)); // before the first picture
    EXPECT_TRUE(rig.log->aacEnds.empty());
    rig.run(*s, 340, 10); // the first picture at 500 ms
    ASSERT_EQ(s->counters().framesCounted, 1u);
    s->onAudioChunk(&rig.audio, rig.audio.fill(1000)); // at 510 ms: 350 ms late
    // 350 ms of silence and the 160 ms buffer: 15 whole AAC frames so far.
    EXPECT_EQ(s->counters().audioMs, 480u);
    // A start nearly on time gets the few milliseconds it is late.
    SoundRig quick;
    auto q = quick.make();
    ASSERT_EQ(quick.start(*q), 1);
    quick.run(*q, 180);
    q->onAudioChunk(&quick.audio, quick.audio.fill(1000));
    EXPECT_EQ(q->counters().audioMs, 160u);
    q->stop();
    s->stop();
}

TEST(RecordingSession, ALostSoundDeviceLeavesTheVideoItsOwnClock)
{
    SoundRig rig;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 200);
    s->onAudioChunk(&rig.audio, rig.audio.fill(1000));
    s->onAudioFailed(&rig.audio);
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"devLost"});
    EXPECT_EQ(rig.log->soundEndedCalls, 1);
    const int64_t anchor = s->counters().startTick;
    rig.run(*s, 3000);
    // Every slot of the 3.2 s is there, 15 per second: the stopped sound
    // clock (160 ms) pulls nothing back.
    EXPECT_EQ(s->counters().startTick, anchor);
    EXPECT_EQ(s->counters().framesCounted, 48u);
    s->stop();
}

TEST(RecordingSession, AnInterruptedCountdownLeavesNoFile)
{
    Rig rig;
    rig.settings.outputFileName = "/tmp/quillet-cancel-" + std::to_string(getpid()) + ".mp4";
    std::FILE* f = std::fopen(rig.settings.outputFileName.c_str(), "w"); // as the writer's open would
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    rig.host.cancelCountdown = true;
    auto s = rig.make();
    EXPECT_EQ(rig.start(*s), 0);
    EXPECT_TRUE(s->lastStartCancelled());
    EXPECT_EQ(s->state(), RecordingSession::Stopped);
    EXPECT_EQ(rig.log->closes, 1);
    EXPECT_FALSE(std::filesystem::exists(rig.settings.outputFileName));
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"recCancel"});
    EXPECT_TRUE(rig.host.confirmTexts.size() == 1) << "no end message";
    EXPECT_EQ(rig.screen.picture().bits, nullptr) << "the grabber was released";
    // The next start is a normal one.
    rig.host.cancelCountdown = false;
    EXPECT_EQ(rig.start(*s), 1);
    EXPECT_FALSE(s->lastStartCancelled());
    s->stop();
    std::filesystem::remove(rig.settings.outputFileName);
}

TEST(RecordingSession, ALostScreenEndsTheRecordingThroughTheStop)
{
    Rig rig;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 500);
    const uint32_t frames = s->counters().framesCounted;
    rig.screen.loseConnection();
    rig.run(*s, 200);
    EXPECT_EQ(s->counters().framesCounted, frames);
    EXPECT_EQ(s->state(), RecordingSession::Paused);
    EXPECT_EQ(rig.host.commands, std::vector<int>{kCommandStop}) << "asked once";
    EXPECT_EQ(s->stop(), 1);
    EXPECT_EQ(rig.log->closes, 1);
    ASSERT_EQ(rig.host.messages, std::vector<std::string>{"xLost"});
}

TEST(RecordingSession, ImageRecordingsNameWhatTheyWrote)
{
    Rig rig;
    rig.log->files = 0;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 300);
    s->stop();
    // Nothing written: said so, and no file is offered.
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"imgNone"});
    EXPECT_EQ(rig.host.confirmTexts.size(), 1u);
    rig.log->files = 3;
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 300);
    s->stop();
    ASSERT_EQ(rig.host.confirmTexts.size(), 3u);
    EXPECT_EQ(rig.host.confirmTexts.back(), "<RecEnd><imgSaved><FPS>");
}

TEST(RecordingSession, StaleBuffersAfterStopAreIgnored)
{
    SoundRig rig;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 100);
    AudioBuffer* b = rig.audio.fill(5);
    s->stop();
    const int requeues = rig.audio.requeues;
    s->onAudioChunk(&rig.audio, b);
    EXPECT_EQ(rig.audio.requeues, requeues);
    s->onAudioChunk(nullptr, nullptr);
}

TEST(RecordingSession, VideoThreadRunsAndEndsWithinTheStopWait)
{
    Rig rig;
    rig.env.clock = nullptr; // the real clock
    rig.env.runVideoThread = true;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    usleep(300 * 1000);
    EXPECT_EQ(s->stop(), 1);
    EXPECT_EQ(s->stopWaitOverruns(), 0);
    EXPECT_GE(rig.log->advances.size(), 2u);
    EXPECT_EQ(rig.host.notices, std::vector<int>{kNoticeVideoThreadEnded * 10000});
}

TEST(RecordingSession, StoredRateAboveTwentyFiveRunsAtTwentyFive)
{
    Rig rig;
    rig.settings.framesPerSecond = 30;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    EXPECT_EQ(s->counters().framesPerSecond, 25);
    rig.run(*s, 1000, 40);
    // One frame per 40-ms tick, each covering one slot: nothing repeated.
    EXPECT_EQ(s->counters().framesCounted, 25u);
    EXPECT_EQ(s->counters().framesEncoded, 25u);
    s->stop();
    EXPECT_EQ(s->counters().framesPerSecond, 30); // the setting again
}

TEST(RecordingSession, StopAndPauseWakeTheSleepingVideoThread)
{
    // At 2 frames per second the thread sleeps half a second between ticks;
    // stop must not wait for the end of that sleep.
    Rig rig;
    rig.env.clock = nullptr;
    rig.env.runVideoThread = true;
    rig.settings.framesPerSecond = 2;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    usleep(100 * 1000); // the first tick is over: asleep until 500 ms
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(s->stop(), 1);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_LT(ms.count(), 250) << "stop waited for the sleep to run out";
    EXPECT_EQ(s->stopWaitOverruns(), 0);
}

TEST(RecordingSession, TickTraceRecordsEachTick)
{
    const std::string path = "/tmp/quillet-tick-trace-" + std::to_string(getpid()) + ".txt";
    Rig rig;
    rig.env.clock = nullptr;
    rig.env.runVideoThread = true;
    rig.env.tickTracePath = path;
    rig.settings.framesPerSecond = 25;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    usleep(400 * 1000);
    EXPECT_EQ(s->stop(), 1);
    FILE* f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[128];
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr); // header
    int ticks = 0, frames = 0;
    unsigned late = 0, duration = 0, advance = 0;
    while (std::fscanf(f, "%u %u %u", &late, &duration, &advance) == 3) {
        ++ticks;
        frames += advance > 0;
    }
    std::fclose(f);
    std::remove(path.c_str());
    EXPECT_GE(ticks, 5); // about ten in 400 ms
    EXPECT_EQ(frames, int(rig.log->advances.size()));
}

TEST(RecordingSession, VideoThreadAndSoundShareTheWriter)
{
    // The video thread ticks while this thread, standing in for the host's,
    // delivers sound: run under TSan this checks the shared clocks and writer.
    SoundRig rig;
    rig.env.clock = nullptr;
    rig.env.runVideoThread = true;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    for (int i = 0; i < 30; ++i) {
        usleep(20 * 1000);
        s->onAudioChunk(&rig.audio, rig.audio.fill(int16_t(i * 100)));
        if (i == 10)
            s->pause();
        if (i == 15)
            rig.start(*s);
        s->onStatusTimer();
    }
    EXPECT_EQ(s->stop(), 1);
    EXPECT_FALSE(rig.log->advances.empty());
    EXPECT_FALSE(rig.log->aacEnds.empty());
    for (size_t i = 1; i < rig.log->aacEnds.size(); ++i)
        EXPECT_EQ(rig.log->aacEnds[i] - rig.log->aacEnds[i - 1], 32u);
}

// A computer-sound entry that delivers a constant sample value, and counts
// the calls of each kind.
struct FakeLoopback {
    static inline std::atomic<int> starts{0}, stops{0}, fetches{0};
    static inline std::atomic<bool> silent{false};
    static int32_t call(void* buffer, int32_t n)
    {
        if (n < 0) {
            ++starts;
            return 1;
        }
        if (n == 0) {
            ++stops;
            return 0;
        }
        if (n <= 100)
            return 0;
        ++fetches;
        if (silent)
            return 0;
        int16_t* p = static_cast<int16_t*>(buffer);
        for (int32_t i = 0; i < n / 2; ++i)
            p[i] = 1234;
        return n;
    }
};

TEST(RecordingSession, ComputerSoundTakesOverWhenTheDeviceFails)
{
    SoundRig rig;
    AudioSystemInfo info;
    info.defaultSinkMonitor = "speaker.monitor";
    rig.env.sources.build(info);
    rig.env.lookbackCall = &FakeLoopback::call;
    rig.env.clock = nullptr;
    rig.env.runVideoThread = true;
    rig.audio.openSucceeds = false; // the recording device cannot be opened
    rig.settings.audioSourceIndex = rig.env.sources.sourceCount();
    FakeLoopback::starts = FakeLoopback::stops = FakeLoopback::fetches = 0;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    EXPECT_EQ(FakeLoopback::starts.load(), 1);
    EXPECT_TRUE(rig.host.messages.empty()) << "no warning: computer sound is recorded";
    usleep(1200 * 1000);
    const auto c = s->counters();
    // About a second of sound paced by the tick count, in 160 ms chunks.
    EXPECT_GE(c.audioMs, 640u);
    EXPECT_LE(c.audioMs, 1600u);
    EXPECT_EQ(c.soundLevel, 1234);
    EXPECT_EQ(s->stop(), 1);
    EXPECT_EQ(s->stopWaitOverruns(), 0);
    EXPECT_EQ(FakeLoopback::stops.load(), 1);
    EXPECT_FALSE(rig.log->aacEnds.empty());
}

TEST(RecordingSession, ComputerSoundWithNothingPlayingIsSilenceOfTheRightLength)
{
    SoundRig rig;
    AudioSystemInfo info;
    info.defaultSinkMonitor = "speaker.monitor";
    rig.env.sources.build(info);
    rig.env.lookbackCall = &FakeLoopback::call;
    rig.settings.audioSourceIndex = rig.env.sources.sourceCount();
    FakeLoopback::silent = true;
    auto s = rig.make();
    ASSERT_EQ(rig.start(*s), 1);
    rig.run(*s, 100);
    // The device's buffer carries the microphone; the computer's sound (none)
    // replaces it, and the track still grows by the buffer's length.
    s->onAudioChunk(&rig.audio, rig.audio.fill(3000));
    EXPECT_EQ(s->counters().audioMs, 160u);
    EXPECT_EQ(s->counters().soundLevel, 0);
    s->stop();
    FakeLoopback::silent = false;
}

} // namespace
} // namespace quillet
