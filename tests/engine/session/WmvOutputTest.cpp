// WMV recordings through the session and the real writer on a scripted
// screen, read back by ffprobe and ffmpeg; and the queue that carries the raw
// sound from the sound side to the video thread.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/synthetic/SyntheticScreen.h"
#include "engine/QualityLevel.h"
#include "engine/outputs/PcmQueue.h"
#include "engine/outputs/WmvOutput.h"
#include "engine/session/RecordingSession.h"
#include "tests/engine/session/SessionTestSupport.h"

namespace quillet {
namespace {

using test::commandOutput;
using test::ManualClock;
using test::probe;
using test::ScriptedAudioInput;
using test::TestHost;
using test::toneEnergy;

bool haveFfmpeg() { return std::system("ffprobe -version >/dev/null 2>&1 && ffmpeg -version >/dev/null 2>&1") == 0; }

std::string tempFolder()
{
    char pattern[] = "/tmp/quillet-wmv-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? std::string(dir) + "/" : std::string("/tmp/");
}

std::vector<double> packetTimes(const std::string& file, const char* stream)
{
    const std::string csv = commandOutput(std::string("ffprobe -v error -select_streams ") + stream +
                                          " -show_entries packet=pts_time -of csv=p=0 '" + file + "'");
    std::vector<double> t;
    for (size_t at = 0; at < csv.size();) {
        size_t end = csv.find('\n', at);
        if (end == std::string::npos)
            end = csv.size();
        if (end > at)
            t.push_back(std::atof(csv.c_str() + at));
        at = end + 1;
    }
    return t;
}

// A session recording WMV from a 320 x 240 scripted screen at 15 fps, with a
// 440 Hz tone in quarter-second buffers of 22050 Hz mono.
struct WmvRig {
    WmvRig()
    {
        settings.framesPerSecond = 15;
        settings.recordSound = true;
        settings.qualityLevel = 2;
        settings.outputFileName = file;
        screen.fill(Rect{0, 0, 320, 240}, 0x204060);
    }
    SessionEnvironment environment()
    {
        SessionEnvironment e;
        e.screen = &screen;
        e.clock = &clock;
        e.runVideoThread = false;
        e.soundInput = &audio;
        e.sources.build(AudioSystemInfo{});
        return e;
    }

    int start() { return session.start(settings, "WMV", true, "", 3); }

    // One buffer of the tone, continuing where the last one ended.
    void deliverSound()
    {
        AudioBuffer* b = audio.fill(0);
        int16_t* p = reinterpret_cast<int16_t*>(b->data);
        const size_t frames = b->bytesRecorded / 2;
        for (size_t i = 0; i < frames; ++i)
            p[i] = int16_t(8000 * std::sin(2 * M_PI * 440 * double(soundFrames + i) / 22050));
        soundFrames += frames;
        session.onAudioChunk(&audio, b);
    }

    // Ticks every 10 ms for `ms`, moving a square every 100 ms; sound buffers
    // arrive unless `withSound` is false.
    void record(uint64_t ms, bool withSound = true)
    {
        const uint64_t end = clock.now + ms;
        int frame = 0;
        while (clock.now < end) {
            clock.now += 10;
            if (clock.now % 100 == 0) {
                const int x = (frame++ * 8) % 280;
                screen.fill(Rect{0, 0, 320, 240}, 0x204060);
                screen.fill(Rect{x, 100, x + 40, 140}, 0xF0E020);
            }
            session.frameTick();
            // A buffer arrives when its quarter second has been recorded,
            // the first a quarter second after the first frame.
            if (withSound && session.counters().framesCounted > 0 && soundDue == 0)
                soundDue = clock.now + 250;
            if (withSound && soundDue > 0 && clock.now >= soundDue) {
                soundDue += 250;
                deliverSound();
            }
        }
    }

    ~WmvRig() { std::filesystem::remove_all(folder); }

    std::string folder = tempFolder();
    std::string file = folder + "rec.wmv";
    uint64_t soundDue = 0;
    size_t soundFrames = 0;
    SyntheticScreen screen{320, 240};
    ManualClock clock;
    TestHost host;
    ScriptedAudioInput audio;
    SessionEnvironment env = environment();
    RecordSettings settings;
    RecordingSession session{host, env};
};

TEST(WmvOutput, RecordingWithSoundPlaysWithThePictureSizeAndTheTone)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    WmvRig rig;
    // A white 16 x 16 cursor at (240, 40), over the dark top of the screen.
    CursorImage cursor;
    cursor.serial = 1;
    cursor.width = cursor.height = 16;
    cursor.argb.assign(16 * 16, 0xFFFFFFFFu);
    rig.screen.setCursor(cursor);
    rig.screen.setPointer(240, 40);
    ASSERT_EQ(rig.start(), 1);
    EXPECT_EQ(rig.audio.samples, 5512u) << "a quarter second per buffer";
    rig.record(4000);
    const RecordingSession::Counters c = rig.session.counters();
    ASSERT_EQ(rig.session.stop(), 1);
    EXPECT_TRUE(rig.host.messages.empty());

    const std::string& f = rig.file;
    EXPECT_EQ(commandOutput("ffmpeg -nostdin -v error -i '" + f + "' -f null - 2>&1"), "");
    test::expectWmvStreams(f, 320, 240);
    // The cursor is in the picture.
    const std::string rgb = commandOutput("ffmpeg -v error -i '" + f + "' -frames:v 1 -f rawvideo -pix_fmt gray -");
    ASSERT_EQ(rgb.size(), 320u * 240u);
    EXPECT_GT(uint8_t(rgb[48 * 320 + 248]), 200) << "cursor";
    EXPECT_LT(uint8_t(rgb[48 * 320 + 200]), 100) << "screen";
    // The file lasts what was recorded, within one picture.
    const double recorded = c.framesCounted / 15.0;
    EXPECT_NEAR(std::atof(probe(f, "v:0", "format=duration").c_str()), recorded, 1.0 / 15);
    // The sound clock counts the PCM handed over, and the file holds the tone.
    EXPECT_EQ(c.audioBytes, rig.soundFrames * 2);
    const std::string raw = commandOutput("ffmpeg -v error -i '" + f + "' -map 0:a:0 -f s16le -");
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    EXPECT_GT(toneEnergy(pcm, 440, 22050), 100 * toneEnergy(pcm, 1000, 22050));
    EXPECT_NEAR(double(pcm.size()) / 22050, double(rig.soundFrames) / 22050, 0.2);
}

// Sound that stops for a while, then comes again `behindMs` behind the
// picture clock: the frame after it compares the clocks.
struct PullBack {
    int64_t startTickBefore, startTickAfter;
    uint64_t now, audioMs;
};
PullBack soundFallsBehind(WmvRig& rig, int64_t behindMs)
{
    rig.record(1000);
    RecordingSession::Counters c = rig.session.counters();
    // After the next buffer the sound ends 250 ms later than now.
    const int64_t elapsed = int64_t(rig.clock.now) - c.startTick;
    rig.record(uint64_t(int64_t(c.audioMs) + 250 + behindMs - elapsed), false);
    PullBack p;
    p.startTickBefore = rig.session.counters().startTick;
    rig.deliverSound();
    const uint32_t counted = rig.session.counters().framesCounted;
    while (rig.session.counters().framesCounted == counted) {
        rig.clock.now += 10;
        rig.session.frameTick();
    }
    c = rig.session.counters();
    p.startTickAfter = c.startTick;
    p.now = rig.clock.now;
    p.audioMs = c.audioMs;
    EXPECT_EQ(c.audioBytes, rig.soundFrames * 2);
    return p;
}

TEST(WmvOutput, ThePictureClockFallsBackToTheSoundAndPictureTimesStillGrow)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    {
        // 400 ms behind (give or take the frame that notices): left alone.
        WmvRig rig;
        ASSERT_EQ(rig.start(), 1);
        const PullBack p = soundFallsBehind(rig, 400 - 40);
        EXPECT_EQ(p.startTickAfter, p.startTickBefore);
        rig.session.stop();
    }
    // 1.5 s behind: the picture clock is moved back to the sound's end.
    WmvRig rig;
    ASSERT_EQ(rig.start(), 1);
    const PullBack p = soundFallsBehind(rig, 1500);
    EXPECT_EQ(int64_t(p.now) - p.startTickAfter, int64_t(p.audioMs));
    // Recording goes on; pictures resume once the sound has caught up.
    const uint32_t counted = rig.session.counters().framesCounted;
    rig.record(3000);
    EXPECT_GT(rig.session.counters().framesCounted, counted + 15);
    ASSERT_EQ(rig.session.stop(), 1);

    EXPECT_EQ(commandOutput("ffmpeg -nostdin -v error -i '" + rig.file + "' -f null - 2>&1"), "");
    const std::vector<double> t = packetTimes(rig.file, "v:0");
    ASSERT_GT(t.size(), 40u);
    for (size_t i = 1; i < t.size(); ++i)
        EXPECT_GT(t[i], t[i - 1]) << i;
}

TEST(WmvOutput, WithoutSoundOnlyTheVideoStreamAndSilentDevicesDoNotHoldThePictures)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    {
        WmvRig rig;
        rig.settings.recordSound = false;
        ASSERT_EQ(rig.start(), 1);
        EXPECT_EQ(rig.audio.opens, 0);
        rig.record(2000, false);
        ASSERT_EQ(rig.session.stop(), 1);
        EXPECT_EQ(probe(rig.file, "v:0", "stream=codec_name"), "wmv2");
        EXPECT_EQ(probe(rig.file, "a", "stream=codec_name"), "");
    }
    // Sound is on but the device never delivers: with no sound written the
    // picture clock has nothing to follow, and pictures go on.
    WmvRig rig;
    ASSERT_EQ(rig.start(), 1);
    rig.record(3000, false);
    EXPECT_GE(rig.session.counters().framesCounted, 44u);
    ASSERT_EQ(rig.session.stop(), 1);
    EXPECT_NEAR(std::atof(probe(rig.file, "v:0", "format=duration").c_str()), 3.0, 0.1);
}

TEST(WmvOutput, AFileThatCannotBeCreatedGivesWmvErr)
{
    WmvRig rig;
    rig.settings.outputFileName = "/nonexistent-quillet-dir/rec.wmv";
    EXPECT_EQ(rig.start(), 0);
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"wmvErr"});
    EXPECT_EQ(rig.session.state(), RecordingSession::Stopped);
    EXPECT_EQ(rig.audio.opens, 0) << "the sound device is never opened";
}

TEST(WmvOutput, SoundThatArrivesWhilePicturesWaitIsNotLost)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    WmvRig rig;
    ASSERT_EQ(rig.start(), 1);
    rig.record(500);
    // Four seconds of sound before the next picture: more than the queue
    // holds, so the sound side writes it itself.
    const size_t before = rig.soundFrames;
    for (int i = 0; i < 16; ++i)
        rig.deliverSound();
    EXPECT_GT((rig.soundFrames - before) * 2, WmvOutput::kQueueBytes);
    rig.record(1000);
    ASSERT_EQ(rig.session.stop(), 1);
    // All of it is in the file, tone throughout.
    const std::string raw = commandOutput("ffmpeg -v error -i '" + rig.file + "' -map 0:a:0 -f s16le -");
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    EXPECT_NEAR(double(pcm.size()) / 22050, double(rig.soundFrames) / 22050, 0.2);
    for (size_t at = 4096; at + 2205 < pcm.size(); at += 2205) {
        const std::vector<int16_t> slice(pcm.begin() + long(at), pcm.begin() + long(at + 2205));
        EXPECT_GT(toneEnergy(slice, 440, 22050), 1e5) << "silent at " << double(at) / 22050 << " s";
    }
}

TEST(WmvOutput, TheWriterGetsTheQualityLevelsRatesAndCodecChoice)
{
    for (int level : {0, 2, 4}) {
        WmvRig rig;
        WmvOutput* output = nullptr;
        rig.settings.qualityLevel = level;
        rig.env.outputFactory = [&](OutputType t) -> std::unique_ptr<MediaOutput> {
            EXPECT_EQ(t, OutputWmv);
            auto o = std::make_unique<WmvOutput>();
            output = o.get();
            return o;
        };
        RecordingSession s(rig.host, rig.env);
        ASSERT_EQ(s.start(rig.settings, "WMV", true, "", 3), 1) << level;
        ASSERT_NE(output, nullptr);
        EXPECT_EQ(output->writer().VideoBitRate(), wmvBitrate(320, 240, level)) << level;
        EXPECT_EQ(output->writer().CodecChoice(), level > 0 ? 1 : 0) << level;
        // Every level records 3000 bytes/s or less, which the coder's lowest
        // rate of 24000 bits/s matches best.
        EXPECT_EQ(output->writer().AudioBitRate(), 24000) << level;
        s.stop();
    }
}

TEST(WmvOutput, PausedTimeIsLeftOutOfPicturesAndSound)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    WmvRig rig;
    ASSERT_EQ(rig.start(), 1);
    rig.record(1500);
    ASSERT_EQ(rig.session.pause(), 1);
    // Two seconds of pause; the sound that comes meanwhile is not kept.
    for (int i = 0; i < 8; ++i) {
        rig.clock.now += 250;
        rig.session.onAudioChunk(&rig.audio, rig.audio.fill(1000));
        rig.session.frameTick();
    }
    ASSERT_EQ(rig.session.start(rig.settings, "WMV", true, "", 3), 1);
    rig.soundDue = rig.clock.now + 250; // the device went on delivering meanwhile
    rig.record(1500);
    const RecordingSession::Counters c = rig.session.counters();
    ASSERT_EQ(rig.session.stop(), 1);
    EXPECT_EQ(commandOutput("ffmpeg -nostdin -v error -i '" + rig.file + "' -f null - 2>&1"), "");
    EXPECT_NEAR(std::atof(probe(rig.file, "v:0", "format=duration").c_str()), c.framesCounted / 15.0, 1.0 / 15);
    EXPECT_NEAR(c.framesCounted / 15.0, 3.0, 0.1);
    const std::vector<double> t = packetTimes(rig.file, "v:0");
    for (size_t i = 1; i < t.size(); ++i)
        EXPECT_GT(t[i], t[i - 1]) << i;
    // The sound is the tone alone, nothing of the pause.
    const std::string raw = commandOutput("ffmpeg -v error -i '" + rig.file + "' -map 0:a:0 -f s16le -");
    EXPECT_NEAR(double(raw.size() / 2) / 22050, double(rig.soundFrames) / 22050, 0.15);
}

TEST(WmvOutput, TheVideoThreadAndTheSoundShareTheWriter)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    // The real video thread and clock, with this thread standing in for the
    // host's delivering sound: under TSan this checks the queue, the clocks
    // and the writer.
    WmvRig rig;
    rig.env.clock = nullptr;
    rig.env.runVideoThread = true;
    RecordingSession s(rig.host, rig.env);
    ASSERT_EQ(s.start(rig.settings, "WMV", true, "", 3), 1);
    for (int i = 0; i < 12; ++i) {
        usleep(125 * 1000);
        AudioBuffer* b = rig.audio.fill(0);
        int16_t* p = reinterpret_cast<int16_t*>(b->data);
        for (size_t k = 0; k < b->bytesRecorded / 2; ++k)
            p[k] = int16_t(8000 * std::sin(2 * M_PI * 440 * double(k) / 22050));
        s.onAudioChunk(&rig.audio, b);
        if (i == 4)
            s.pause();
        if (i == 6)
            s.start(rig.settings, "WMV", true, "", 3);
        s.onStatusTimer();
    }
    EXPECT_EQ(s.stop(), 1);
    EXPECT_EQ(commandOutput("ffmpeg -nostdin -v error -i '" + rig.file + "' -f null - 2>&1"), "");
    EXPECT_EQ(probe(rig.file, "a:0", "stream=codec_name"), "wmav2");
    EXPECT_GT(packetTimes(rig.file, "v:0").size(), 5u);
}

TEST(WmvOutput, PicturesShowAQuarterPeriodBeforeTheirSlotEachInASlotOfItsOwn)
{
    EXPECT_EQ(WmvOutput::pictureTimeMs(0, 15), 0u);
    EXPECT_EQ(WmvOutput::pictureTimeMs(1, 15), 50u);
    EXPECT_EQ(WmvOutput::pictureTimeMs(9, 15), 583u);
    EXPECT_EQ(WmvOutput::pictureTimeMs(10, 10), 975u);
    // A reader that counts time in frame periods finds every picture in a
    // slot of its own.
    for (int fps : {2, 5, 10, 12, 15, 20, 25}) {
        int64_t previous = -1;
        for (uint32_t slot = 1; slot < 2000; ++slot) {
            const int64_t periods = std::llround(double(WmvOutput::pictureTimeMs(slot, fps)) * fps / 1000);
            EXPECT_GT(periods, previous) << fps << " fps, slot " << slot;
            previous = periods;
        }
    }
}

TEST(PcmQueue, KeepsOrderAcrossTheWrapAndDropsWholeBlocksUntilEmptied)
{
    PcmQueue q(10);
    const uint8_t a[] = {1, 2, 3, 4, 5, 6}, b[] = {7, 8, 9, 10}, c[] = {11, 12};
    uint8_t out[16] = {};
    EXPECT_EQ(q.put(a, 6), 1);
    EXPECT_EQ(q.take(out, 4), 4u); // 5 6 left
    EXPECT_EQ(q.put(b, 4), 1);     // wraps
    EXPECT_EQ(q.put(c, 2), 1);
    EXPECT_EQ(q.size(), 8u);
    EXPECT_EQ(q.take(out, 16), 8u);
    const uint8_t expected[] = {5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(0, std::memcmp(out, expected, 8));

    // A block that does not fit is dropped whole, and so is everything after
    // it while older sound waits, even what would fit.
    EXPECT_EQ(q.put(a, 6), 1);
    EXPECT_EQ(q.put(a, 6), 0);
    EXPECT_EQ(q.put(c, 2), 0);
    EXPECT_TRUE(q.hasDropped());
    EXPECT_EQ(q.takeDropped(), 0u) << "not while sound is queued";
    EXPECT_EQ(q.take(out, 16), 6u);
    EXPECT_EQ(q.takeDropped(), 8u);
    EXPECT_FALSE(q.hasDropped());
    EXPECT_EQ(q.put(c, 2), 1);
}

} // namespace
} // namespace quillet
