// The whole recorder into AVI and own record files and back: a scripted
// desktop recorded by the session through the real writers, read back by the
// player and compared frame by frame with what was captured; the cursor where
// it was; the AVI read by ffprobe and ffmpeg; the sound converted to MP4 and
// heard as the tone that was recorded; a recording cut off while it ran.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/playback/RecordingConverter.h"
#include "engine/playback/RecordingPlayer.h"
#include "engine/session/RecordingSession.h"
#include "tests/engine/playback/PlaybackScene.h"
#include "tests/engine/playback/PlaybackTestFiles.h"
#include "tests/engine/session/SessionTestSupport.h"
#include "tests/video/screen/ScreenTestSupport.h"

namespace quillet {
namespace {

using test::commandOutput;
using test::ManualClock;
using test::probe;
using test::ScriptedAudioInput;
using test::TestHost;

bool haveFfmpeg() { return std::system("ffprobe -version >/dev/null 2>&1 && ffmpeg -version >/dev/null 2>&1") == 0; }

struct Case {
    const char* ext;
    int bpp;
    int32_t width; // of the screen; the area is the whole screen but 8 pixels each side
    int32_t height;
    // The video-like picture has a tile to itself and goes through the
    // H.264 side data (AVI only).
    bool sideData;
};

std::string caseName(const ::testing::TestParamInfo<Case>& i)
{
    return std::string(i.param.ext) + "_" + std::to_string(i.param.bpp) + "bit_" + std::to_string(i.param.width) +
           "x" + std::to_string(i.param.height);
}

// One recording of the scene, with what was captured at every frame.
struct Recording {
    std::string file;
    std::string snapshot; // the file as it stood halfway, as a killed recorder leaves it
    uint32_t snapshotFrames = 0;
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<ScreenFrame> frames;
    std::vector<std::pair<int32_t, int32_t>> cursors;
    std::vector<int> shapes;
    RecordingSession::Counters counters;
    std::vector<std::string> messages;
};

constexpr int kFps = 10;
constexpr int kSeconds = 6;
constexpr double kToneHz = 440;

Recording record(const Case& c)
{
    Recording out;
    SyntheticScreen screen(c.width, c.height, static_cast<uint8_t>(c.bpp));
    ManualClock clock;
    TestHost host;
    ScriptedAudioInput audio;
    SessionEnvironment env;
    env.screen = &screen;
    env.clock = &clock;
    env.runVideoThread = false;
    env.soundInput = &audio;
    env.sources.build(AudioSystemInfo{});
    RecordSettings settings;
    settings.framesPerSecond = kFps;
    settings.recordSound = true;
    settings.qualityLevel = 2;
    // An area of (value + 9) rounded down to 16 pixels: unusual sizes.
    const Rect area{8, 8, c.width - 8, c.height - 8};
    settings.captureArea = Rect{area.left, area.top, area.right - 9, area.bottom - 9};
    out.file = test::scratchPath(std::string("scene_") + std::to_string(c.bpp) + "_" + std::to_string(c.width) + "." +
                                 c.ext);
    settings.outputFileName = out.file;
    test::PlaybackScene scene(screen, area);
    scene.paint(0);

    RecordingSession s(host, env);
    if (s.start(settings, c.ext, true, "", 0) != 1) {
        out.messages = host.messages;
        return out;
    }
    double phase = 0;
    uint64_t soundDue = clock.now;
    const uint64_t end = clock.now + kSeconds * 1000;
    int t = 0;
    while (clock.now < end) {
        clock.now += 10;
        if (clock.now % (1000 / kFps) == 0)
            scene.paint(++t);
        const uint32_t before = s.counters().framesEncoded;
        s.frameTick();
        if (s.counters().framesEncoded != before) {
            out.pictures.emplace_back();
            out.frames.emplace_back();
            scene.capture(out.frames.back(), out.pictures.back());
            out.cursors.emplace_back(scene.cursorX(), scene.cursorY());
            out.shapes.push_back(scene.shape());
        }
        // Level 2 records 16000 Hz mono; a buffer each quarter second.
        constexpr double kRate = 16000;
        if (audio.samples && clock.now >= soundDue + uint64_t(1000 * audio.samples / kRate)) {
            soundDue += uint64_t(1000 * audio.samples / kRate);
            AudioBuffer* b = audio.fill(0);
            int16_t* p = reinterpret_cast<int16_t*>(b->data);
            const size_t n = b->bytesRecorded / 2;
            for (size_t i = 0; i < n; ++i) {
                p[i] = static_cast<int16_t>(9000 * std::sin(phase));
                phase += 2 * M_PI * kToneHz / kRate;
            }
            s.onAudioChunk(&audio, b);
        }
        if (out.snapshot.empty() && clock.now >= end - kSeconds * 500) {
            out.snapshot = out.file + ".killed";
            test::writeBytes(out.snapshot, test::readBytes(out.file));
            out.snapshotFrames = s.counters().framesEncoded;
        }
    }
    // The frames' ScreenFrame::bits point into pictures, which moved while
    // growing: point them again.
    for (size_t i = 0; i < out.frames.size(); ++i)
        out.frames[i].bits = out.pictures[i].data();
    out.counters = s.counters();
    s.stop();
    out.messages = host.messages;
    return out;
}

// Each case is recorded once and read by every test.
const Recording& recordingOf(const Case& c)
{
    static std::map<std::string, Recording> made;
    const std::string key = std::string(c.ext) + std::to_string(c.bpp) + "x" + std::to_string(c.width);
    auto it = made.find(key);
    if (it == made.end())
        it = made.emplace(key, record(c)).first;
    return it->second;
}

class RecordedPlayback : public ::testing::TestWithParam<Case> {};

TEST_P(RecordedPlayback, EveryPictureIsWhatWasCapturedWithTheCursorWhereItWas)
{
    const Case c = GetParam();
    const Recording& rec = recordingOf(c);
    ASSERT_TRUE(rec.messages.empty()) << rec.messages.front();
    ASSERT_GT(rec.frames.size(), 40u);

    RecordingPlayer player;
    ASSERT_EQ(player.open(rec.file), 1) << player.error();
    const RecordingInfo& info = player.info();
    EXPECT_EQ(info.frames, rec.counters.framesEncoded);
    EXPECT_EQ(info.ticks, rec.counters.framesCounted);
    EXPECT_EQ(info.framesPerSecond, kFps);
    EXPECT_TRUE(info.finished);
    EXPECT_FALSE(info.damaged) << info.damage;
    EXPECT_EQ(info.declaredDurationMs, rec.counters.framesCounted * 1000 / kFps);
    EXPECT_TRUE(info.sound.present);

    PlayerFrame f;
    size_t i = 0;
    size_t lossy = 0;
    double worstLossyPsnr = 99;
    for (; player.next(f); ++i) {
        ASSERT_LT(i, rec.frames.size());
        ASSERT_TRUE(f.decoded) << "frame " << i << ": " << (player.warnings().empty() ? "" : player.warnings().back());
        const test::FrameCheck check = test::check_frame(rec.frames[i], player.decodedPicture(), player.lossyBlocks());
        ASSERT_EQ(check.mismatchedBlocks, 0u) << "frame " << i;
        lossy = std::max(lossy, check.lossyBlocks);
        worstLossyPsnr = std::min(worstLossyPsnr, check.lossyPsnr);
        // The cursor from its own track, at the place and in the shape it had.
        ASSERT_TRUE(player.cursor().hasPicture()) << i;
        EXPECT_EQ(player.cursor().x(), rec.cursors[i].first) << i;
        EXPECT_EQ(player.cursor().y(), rec.cursors[i].second) << i;
        const int32_t px = rec.cursors[i].first + 1, py = rec.cursors[i].second + 8;
        const uint8_t* p = f.picture->row_from_top(py) + px * 4;
        const uint32_t rgb = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        EXPECT_EQ(rgb, test::PlaybackScene::cursorColour(rec.shapes[i])) << i;
    }
    EXPECT_EQ(i, rec.frames.size());
    EXPECT_GT(lossy, 0u) << "the video-like picture is coded lossily";
    // AVI sends the video-like picture through the H.264 side data; the own
    // file, which has no side data, through the DCT.
    RecordingSource src;
    ASSERT_EQ(src.open(rec.file), 1);
    size_t sideFrames = 0;
    for (int item; (item = src.next()) != RecordingSource::End;)
        if (item == RecordingSource::Frame && !src.frame().sideData.empty())
            ++sideFrames;
    if (c.sideData) {
        EXPECT_GT(sideFrames, rec.frames.size() / 2);
    } else if (std::string(c.ext) != "avi") {
        EXPECT_EQ(sideFrames, 0u);
    }
    EXPECT_GT(worstLossyPsnr, 26.0);
    EXPECT_TRUE(player.warnings().empty()) << player.warnings().front();
}

TEST_P(RecordedPlayback, ConvertsToMp4WithTheRecordedTone)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    const Case c = GetParam();
    const Recording& rec = recordingOf(c);
    ASSERT_TRUE(rec.messages.empty());
    const std::string mp4 = rec.file + ".mp4";
    RecordingConverter conv;
    ConvertReport report;
    std::string error;
    ASSERT_EQ(conv.toMp4(rec.file, mp4, {}, &report, &error), 1) << error;
    EXPECT_EQ(report.frames, rec.counters.framesEncoded);
    EXPECT_EQ(probe(mp4, "v:0", "stream=codec_name"), "h264");
    EXPECT_EQ(probe(mp4, "v:0", "stream=nb_frames"), std::to_string(rec.counters.framesEncoded));
    EXPECT_NEAR(std::atof(probe(mp4, "v:0", "stream=duration").c_str()), kSeconds, 0.25);
    const std::string raw = commandOutput("ffmpeg -v error -i '" + mp4 + "' -map 0:a:0 -ac 1 -ar 32000 -f s16le -");
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    EXPECT_NEAR(double(pcm.size()) / 32000, kSeconds, 0.5);
    const double tone = test::toneEnergy(pcm, kToneHz, 32000);
    EXPECT_GT(tone, 100 * test::toneEnergy(pcm, 1000, 32000));
    EXPECT_GT(tone, 100 * test::toneEnergy(pcm, 3000, 32000));

    if (std::string(c.ext) == "avi") {
        // What common tools see in our AVI.
        EXPECT_EQ(probe(rec.file, "v:0", "stream=codec_tag_string"), "QVS2");
        EXPECT_EQ(probe(rec.file, "v:0", "stream=r_frame_rate"), std::to_string(kFps) + "/1");
        EXPECT_EQ(probe(rec.file, "v:0", "stream=nb_frames"), std::to_string(rec.counters.framesCounted));
        EXPECT_NEAR(std::atof(probe(rec.file, "v:0", "stream=duration").c_str()),
                    rec.counters.framesCounted / double(kFps), 0.001);
        EXPECT_EQ(probe(rec.file, "a:0", "stream=codec_name"), "mp3");
        EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + rec.file + "' -map 0:a -f null - 2>&1"), "");
        // The index's key flags sit on the frames the codec coded as key frames.
        const std::string flags = commandOutput("ffprobe -v error -select_streams v:0 -show_entries "
                                                "packet=size,flags -of csv=p=0 '" + rec.file + "'");
        RecordingPlayer p;
        ASSERT_EQ(p.open(rec.file), 1);
        size_t k = 0, at = 0;
        while (at < flags.size()) {
            const size_t eol = flags.find('\n', at);
            const std::string line = flags.substr(at, eol - at);
            at = eol == std::string::npos ? flags.size() : eol + 1;
            if (line.empty() || line[0] == '0')
                continue; // the empty samples of repeated ticks
            ASSERT_LT(k, p.index().size());
            EXPECT_EQ(line.find(",K") != std::string::npos, p.index()[k].key) << "frame " << k;
            ++k;
        }
        EXPECT_EQ(k, p.index().size());
    }
}

TEST_P(RecordedPlayback, ARecordingCutOffWhileRunningConvertsUpToWhereItWas)
{
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg/ffprobe missing";
    const Recording& rec = recordingOf(GetParam());
    ASSERT_FALSE(rec.snapshot.empty());
    RecordingPlayer player;
    ASSERT_EQ(player.open(rec.snapshot), 1) << player.error();
    EXPECT_FALSE(player.info().finished);
    // Every frame written before the cut is there.
    EXPECT_EQ(player.info().frames, rec.snapshotFrames);
    const std::string mp4 = rec.snapshot + ".mp4";
    RecordingConverter conv;
    ConvertReport report;
    std::string error;
    ASSERT_EQ(conv.toMp4(rec.snapshot, mp4, {}, &report, &error), 1) << error;
    EXPECT_EQ(probe(mp4, "v:0", "stream=nb_frames"), std::to_string(rec.snapshotFrames));
    EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + mp4 + "' -f null - 2>&1"), "");
}

INSTANTIATE_TEST_SUITE_P(Recorder, RecordedPlayback,
                         ::testing::Values(Case{"avi", 32, 720, 496, true}, Case{"avi", 16, 224, 160, false},
                                           Case{"rec", 32, 720, 496, false}, Case{"rec", 16, 352, 224, false}),
                         caseName);

} // namespace
} // namespace quillet
