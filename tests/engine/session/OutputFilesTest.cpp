#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "capture/synthetic/SyntheticScreen.h"
#include "engine/session/RecordingSession.h"
#include "tests/engine/session/SessionTestSupport.h"

// Recordings through the real writers on a scripted screen, checked by
// ffprobe and ffmpeg: a writer test must fail when the file would not play.

namespace quillet {
namespace {

using test::commandOutput;
using test::probe;
using test::toneEnergy;
using test::ManualClock;
using test::ScriptedAudioInput;
using test::TestHost;

std::string tempFolder()
{
    char pattern[] = "/tmp/quillet-out-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? std::string(dir) + "/" : std::string("/tmp/");
}

bool haveFfmpeg() { return std::system("ffprobe -version >/dev/null 2>&1 && ffmpeg -version >/dev/null 2>&1") == 0; }


struct FileRig {
    explicit FileRig(int width = 320, int height = 240) : screen(width, height)
    {
        env.screen = &screen;
        env.clock = &clock;
        env.runVideoThread = false;
        env.soundInput = &audio;
        env.sources.build(AudioSystemInfo{});
        settings.framesPerSecond = 10;
        settings.recordSound = true;
        settings.qualityLevel = 3;
        screen.fill(Rect{0, 0, 320, 240}, 0x204060);
    }

    // Records `seconds` of a moving square with a 1 kHz tone, ticking every
    // 10 ms and delivering a sound buffer whenever its time has come.
    void record(RecordingSession& s, int seconds)
    {
        uint64_t soundDue = clock.now;
        double phase = 0;
        const uint64_t end = clock.now + uint64_t(seconds) * 1000;
        int frame = 0;
        while (clock.now < end) {
            clock.now += 10;
            if (clock.now % 100 == 0) {
                const int x = (frame++ * 8) % 280;
                screen.fill(Rect{0, 0, 320, 240}, 0x204060);
                screen.fill(Rect{x, 100, x + 40, 140}, 0xF0E020);
            }
            s.frameTick();
            if (clock.now >= soundDue + 160 && audio.samples) {
                soundDue += 160;
                AudioBuffer* b = audio.fill(0);
                int16_t* p = reinterpret_cast<int16_t*>(b->data);
                const size_t frames = b->bytesRecorded / 4;
                for (size_t i = 0; i < frames; ++i) {
                    const int16_t v = int16_t(8000 * std::sin(phase));
                    phase += 2 * M_PI * 1000 / 32000;
                    p[2 * i] = p[2 * i + 1] = v;
                }
                soundFrames += frames;
                s.onAudioChunk(&audio, b);
            }
        }
    }

    // Every sample frame handed to the session must be in the file.
    void expectAllSoundStored(const std::string& file, size_t leadIn) const
    {
        const std::string bytes = commandOutput("ffmpeg -v error -i '" + file +
                                                "' -map 0:a -f s16le -ac 1 - | wc -c");
        const size_t decoded = static_cast<size_t>(std::atoll(bytes.c_str())) / 2;
        // At most one AAC frame of silence pads the last partial chunk.
        EXPECT_GE(decoded, soundFrames + leadIn) << file;
        EXPECT_LT(decoded, soundFrames + leadIn + 1024) << file;
    }

    size_t soundFrames = 0;
    SyntheticScreen screen;
    ManualClock clock;
    TestHost host;
    ScriptedAudioInput audio;
    SessionEnvironment env;
    RecordSettings settings;
};

void checkH264AacFile(const std::string& file, int seconds, int fps)
{
    EXPECT_EQ(probe(file, "v:0", "stream=codec_name"), "h264");
    EXPECT_EQ(probe(file, "a:0", "stream=codec_name"), "aac");
    const double duration = std::atof(probe(file, "v:0", "format=duration").c_str());
    EXPECT_NEAR(duration, seconds, seconds * 0.05) << file;
    // Every frame decodes, and their count matches the rate.
    const std::string decoded = commandOutput("ffmpeg -v error -i '" + file +
                                              "' -map 0:v:0 -f null - 2>&1 && echo decoded-ok");
    EXPECT_NE(decoded.find("decoded-ok"), std::string::npos) << decoded;
    const int frames = std::atoi(probe(file, "v:0", "stream=nb_read_frames -count_frames").c_str());
    EXPECT_NEAR(frames, seconds * fps, 2) << file;

    // The decoded sound holds the tone.
    const std::string raw = commandOutput("ffmpeg -v error -i '" + file + "' -map 0:a:0 -ac 1 -ar 32000 -f s16le -");
    ASSERT_GT(raw.size(), 32000u);
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    const double tone = toneEnergy(pcm, 1000, 32000);
    const double other = toneEnergy(pcm, 2500, 32000);
    EXPECT_GT(tone, 100 * other) << "tone " << tone << " other " << other;
    EXPECT_NEAR(double(pcm.size()) / 32000, seconds, 0.3);
}

TEST(OutputFiles, Mp4WithSoundPlays)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    FileRig rig;
    const std::string file = tempFolder() + "rec.mp4";
    rig.settings.outputFileName = file;
    RecordingSession s(rig.host, rig.env);
    ASSERT_EQ(s.start(rig.settings, "MP4", true, "", 0), 1);
    rig.record(s, 4);
    ASSERT_EQ(s.stop(), 1);
    EXPECT_TRUE(rig.host.messages.empty());
    checkH264AacFile(file, 4, 10);
    // Each picture stands for its own slot, none with zero length. The first,
    // taken at 50 ms and so stamped with the slot at 100 ms, also covers the
    // time before it: the track starts at 0.
    const std::string pts = commandOutput("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,"
                                          "duration_time -of csv=p=0 '" + file + "' | head -n 3");
    EXPECT_EQ(pts, "0.000000,0.200000\n0.200000,0.100000\n0.300000,0.100000\n");
    rig.expectAllSoundStored(file, 0);
    // The file declares the sound encoder's own delay (2048 samples at
    // 32000 Hz), so the first sound a player plays is the first captured.
    const std::string firstSound = commandOutput("ffprobe -v error -select_streams a:0 -show_entries packet=pts_time "
                                                 "-of default=nw=1:nk=1 '" + file + "' | head -n 1");
    EXPECT_EQ(firstSound, "-0.064000\n");
}

TEST(OutputFiles, FlvWithSoundPlays)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    FileRig rig;
    const std::string file = tempFolder() + "rec.flv";
    rig.settings.outputFileName = file;
    RecordingSession s(rig.host, rig.env);
    ASSERT_EQ(s.start(rig.settings, "FLV", true, "", 1), 1);
    rig.record(s, 4);
    ASSERT_EQ(s.stop(), 1);
    checkH264AacFile(file, 4, 10);
    // FLV cannot declare the encoder's 2048-sample lead-in; it plays as such.
    rig.expectAllSoundStored(file, 2048);
}

TEST(OutputFiles, UnwritableFolderGivesFileErrAndNoFile)
{
    for (const char* ext : {"mp4", "flv"}) {
        FileRig rig;
        const std::string file = std::string("/nonexistent-quillet-dir/rec.") + ext;
        rig.settings.outputFileName = file;
        RecordingSession s(rig.host, rig.env);
        EXPECT_EQ(s.start(rig.settings, ext, true, "", 0), 0);
        EXPECT_EQ(rig.host.messages, std::vector<std::string>{"fileErr"}) << ext;
        EXPECT_EQ(s.state(), RecordingSession::Stopped);
        EXPECT_EQ(rig.audio.opens, 0) << "the sound device is never opened";
    }
}

int countFiles(const std::string& folder, const std::string& ext)
{
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().extension() == ext)
            ++n;
    return n;
}

TEST(OutputFiles, ImagesOnlyWhenTheScreenChanges)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffprobe missing";
    for (int level : {2, 4}) {
        FileRig rig(640, 480);
        const std::string ext = level == 4 ? ".png" : ".jpg";
        const std::string folder = tempFolder();
        rig.settings.outputFileName = folder + "shot" + ext;
        rig.settings.qualityLevel = level;
        RecordingSession s(rig.host, rig.env);
        ASSERT_EQ(s.start(rig.settings, "images", true, "", 5), 1);
        EXPECT_EQ(rig.audio.opens, 0) << "image output never records sound";
        auto tick = [&] {
            rig.clock.now += 100;
            s.frameTick();
        };
        // The first capture sees the whole screen once.
        tick();
        const int first = countFiles(folder, ext);
        for (int i = 0; i < 5; ++i)
            tick();
        EXPECT_EQ(countFiles(folder, ext), first) << "a still screen writes nothing";
        rig.screen.fill(Rect{10, 10, 200, 200}, 0xFF0000); // top-left tile only
        tick();
        tick();
        EXPECT_EQ(countFiles(folder, ext), first) << "changes in the top-left tile do not count";
        rig.screen.fill(Rect{300, 200, 600, 460}, 0x00FF00);
        tick();
        ASSERT_EQ(countFiles(folder, ext), first + 1);
        s.stop();
        char name[32];
        std::snprintf(name, sizeof name, "shot_%03d%s", first, ext.c_str());
        const std::string path = folder + name;
        EXPECT_EQ(probe(path, "v:0", "stream=width"), "640") << path;
        EXPECT_EQ(probe(path, "v:0", "stream=codec_name"), level == 4 ? "png" : "mjpeg");
    }
}

TEST(OutputFiles, ASmallAreaWithOneTileStillWritesImages)
{
    FileRig rig(320, 240); // one tile: the top-left one
    const std::string folder = tempFolder();
    rig.settings.outputFileName = folder + "small.jpg";
    RecordingSession s(rig.host, rig.env);
    ASSERT_EQ(s.start(rig.settings, "images", true, "", 5), 1);
    rig.clock.now += 100;
    s.frameTick();
    const int first = countFiles(folder, ".jpg");
    rig.clock.now += 100;
    s.frameTick();
    EXPECT_EQ(countFiles(folder, ".jpg"), first) << "still";
    rig.screen.fill(Rect{0, 0, 320, 240}, 0x00FF00);
    rig.clock.now += 100;
    s.frameTick();
    EXPECT_EQ(countFiles(folder, ".jpg"), first + 1) << "a change of the only tile writes an image";
    s.stop();
}

} // namespace
} // namespace quillet
