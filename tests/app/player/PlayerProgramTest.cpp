// quillet-player on the headless desktop (scripts/test-env.sh), playing what
// the recorder made: every kind of recording opens and shows the recording's
// own pictures, first and after a seek (the screen codec's decoder for AVI
// and record files, ffmpeg for the rest); the sound reaches the sink with the
// tone that was recorded; a cut file plays to where it stops and says so;
// the flash and the click of the sync scene reach the screen and the sink
// together.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "tests/app/player/PlayerProcess.h"
#include "tests/app/player/ReferenceFrames.h"
#include "tests/app/player/SinkTimeline.h"
#include "tests/engine/session/CliTestSupport.h"

namespace quillet::player {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quillet::test::commandOutput;
using quillet::test::computerSoundIndex;
using quillet::test::decodeSound;
using quillet::test::Scene;
using quillet::test::spawn;
using quillet::test::tempFolder;
using quillet::test::toneEnergy;
using quillet::test::waitExit;
using test::PlayerProcess;
using test::RgbFrame;
using test::ShownLine;

constexpr int kSeconds = 4;
constexpr int64_t kSeekMs = 2300;

enum class Decoder { Ffmpeg, ScreenCodec, Images };

struct Recording {
    std::string ext;
    std::string file;
    Decoder decoder;
    bool sound;
};

// The tone and the changing desktop, with a moving test picture and the
// cursor walking over the recorded area.
struct BusyScene {
    explicit BusyScene(int seconds) : base(seconds, 1000)
    {
        video = spawn({"/usr/bin/ffplay", "-loglevel", "quiet", "-an", "-noborder", "-left", "40", "-top", "40", "-f",
                       "lavfi", "-i", "testsrc2=s=320x240:r=25"});
        mouse = spawn({"/bin/sh", "-c",
                       "while :; do for p in '100 100' '420 300' '600 120' '200 420'; do xdotool mousemove $p; "
                       "sleep 0.3; done; done"});
        std::this_thread::sleep_for(1500ms); // the video window comes up
    }
    ~BusyScene()
    {
        for (pid_t p : {video, mouse})
            if (p > 0) {
                kill(p, SIGTERM);
                waitExit(p);
            }
    }
    Scene base;
    pid_t video = -1, mouse = -1;
};

int record(const std::string& file, bool sound, const std::string& source, int seconds = kSeconds)
{
    std::vector<std::string> args = {"./quillet-cli", "record", "-o", file, "--seconds", std::to_string(seconds),
                                     "--fps", "10", "--area", "0,0,640,480", "--no-countdown", "-y"};
    // Images are PNG only at the lossless level.
    if (file.size() > 4 && file.compare(file.size() - 4, 4, ".png") == 0)
        args.insert(args.end(), {"--quality", "4"});
    if (sound) {
        args.insert(args.end(), {"--sound", "on", "--source", source});
    } else {
        args.insert(args.end(), {"--sound", "off"});
    }
    const pid_t pid = spawn(args);
    return pid > 0 ? waitExit(pid) : -1;
}

// One recording of every kind, made once for all tests.
const std::vector<Recording>& recordings()
{
    static const std::vector<Recording> all = [] {
        std::vector<Recording> out;
        const std::string folder = tempFolder();
        const std::string source = computerSoundIndex();
        BusyScene scene(60);
        for (const auto& [ext, decoder] : std::vector<std::pair<std::string, Decoder>>{
                 {"mp4", Decoder::Ffmpeg},
                 {"flv", Decoder::Ffmpeg},
                 {"avi", Decoder::ScreenCodec},
                 {"rec", Decoder::ScreenCodec},
                 {"wmv", Decoder::Ffmpeg},
                 {"jpg", Decoder::Images},
                 {"png", Decoder::Images}}) {
            const bool sound = decoder != Decoder::Images;
            const std::string file = folder + "played-" + ext + "." + ext;
            if (record(file, sound, source) == 0) {
                out.push_back({ext, file, decoder, sound});
            } else if (ext == "wmv" && !out.empty()) {
                // Without the recorder's WMV writer, ffmpeg's WMV of the MP4
                // stands in for it.
                std::system(("ffmpeg -v error -y -i '" + out[0].file +
                             "' -c:v wmv2 -b:v 4M -c:a wmav2 -b:a 64k '" + file + "'")
                                .c_str());
                if (fs::exists(file))
                    out.push_back({ext, file, decoder, sound});
            }
        }
        return out;
    }();
    return all;
}

// The numbered files of an image recording, in order.
std::vector<std::string> imageFiles(const Recording& r)
{
    const fs::path p(r.file);
    const std::string base = p.stem().string() + "_";
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(p.parent_path()))
        if (e.path().filename().string().rfind(base, 0) == 0 && e.path().extension() == p.extension())
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return files;
}

// How far the player's picture may be from the other decoder's. The screen
// codec's decoder is the player's own: exact. ffmpeg decodes the same
// streams with the same library but converts to RGB on another path (to
// 24-bit pixels rather than 32), which rounds differently here and there.
void expectSamePicture(const Recording& r, const RgbFrame& shown, const RgbFrame* reference, const std::string& what)
{
    ASSERT_NE(reference, nullptr) << what << ": no such picture in the recording";
    const test::Difference d = test::compare(shown, *reference);
    std::printf("%s %s: mean %.3f max %d\n", r.ext.c_str(), what.c_str(), d.mean, d.max);
    if (r.decoder == Decoder::ScreenCodec) {
        EXPECT_EQ(d.max, 0) << what;
    } else {
        EXPECT_LT(d.mean, 1.0) << what;
        EXPECT_LE(d.max, 24) << what;
    }
}

TEST(PlayerProgram, EveryRecordingShowsItsOwnPicturesFirstAndAfterASeek)
{
    REQUIRE_DESKTOP();
    ASSERT_GE(recordings().size(), 6u) << "the recorder could not make the test recordings";
    const std::string folder = tempFolder();
    for (const Recording& r : recordings()) {
        SCOPED_TRACE(r.ext);
        std::vector<RgbFrame> reference;
        std::vector<std::string> images;
        if (r.decoder == Decoder::Ffmpeg)
            reference = test::ffmpegFrames(r.file);
        else if (r.decoder == Decoder::ScreenCodec)
            reference = test::screenCodecFrames(r.file);
        else
            images = imageFiles(r);
        auto referenceFor = [&](const ShownLine& s) -> const RgbFrame* {
            if (r.decoder != Decoder::Images)
                return test::frameStartingAt(reference, s.startMs);
            if (s.index < 0 || size_t(s.index) >= images.size())
                return nullptr;
            reference = {test::ffmpegImage(images[size_t(s.index)])};
            return &reference[0];
        };

        PlayerProcess p({"--paused", r.file});
        ASSERT_TRUE(p.started());
        std::string line;
        ASSERT_TRUE(p.expect("opened ", &line)) << p.transcript();
        EXPECT_NE(line.find(" 640x480 "), std::string::npos) << line;
        EXPECT_EQ(line.find("sound=0/") == std::string::npos, r.sound) << line;
        ShownLine first, sought;
        ASSERT_TRUE(p.expect("shown ", &line)) << p.transcript();
        ASSERT_TRUE(test::parseShown(line, first));
        EXPECT_TRUE(first.seek);
        if (!reference.empty())
            EXPECT_EQ(first.startMs, reference[0].startMs) << "the recording's first picture";
        else
            EXPECT_EQ(first.index, 0);
        const std::string firstDump = folder + r.ext + "-first.ppm";
        p.send("dump " + firstDump);
        ASSERT_TRUE(p.expect("dumped ")) << p.transcript();
        RgbFrame shown;
        ASSERT_TRUE(test::readPpm(firstDump, shown));
        expectSamePicture(r, shown, referenceFor(first), "first picture");

        p.send("seek " + std::to_string(kSeekMs));
        ASSERT_TRUE(p.expect("shown ", &line)) << p.transcript();
        ASSERT_TRUE(test::parseShown(line, sought));
        EXPECT_TRUE(sought.seek);
        EXPECT_LE(sought.startMs, kSeekMs) << "the picture that shows at the time";
        EXPECT_GT(sought.endMs, kSeekMs);
        const std::string seekDump = folder + r.ext + "-seek.ppm";
        p.send("dump " + seekDump);
        ASSERT_TRUE(p.expect("dumped ")) << p.transcript();
        ASSERT_TRUE(test::readPpm(seekDump, shown));
        expectSamePicture(r, shown, referenceFor(sought), "picture after the seek");

        if (r.ext == "avi") {
            // What the screen shows where the window paints the picture.
            const std::string grab = folder + "grab.png";
            p.send("grab " + grab);
            ASSERT_TRUE(p.expect("grabbed ")) << p.transcript();
            RgbFrame onScreen;
            ASSERT_TRUE(test::readPng(grab, onScreen));
            const test::Difference d = test::compare(onScreen, shown);
            EXPECT_EQ(d.max, 0) << "the window shows another picture";
        }
        EXPECT_EQ(p.finish(), 0) << p.transcript();
    }
}

TEST(PlayerProgram, TheSinkPlaysTheRecordedTone)
{
    REQUIRE_DESKTOP();
    for (const Recording& r : recordings()) {
        if (!r.sound)
            continue;
        SCOPED_TRACE(r.ext);
        test::SinkTimeline sink;
        ASSERT_TRUE(sink.start());
        PlayerProcess p({r.file});
        EXPECT_TRUE(p.expect("ended ", nullptr, (kSeconds + 10) * 1000)) << p.transcript();
        sink.stop();
        EXPECT_EQ(p.finish(), 0);
        const std::vector<int16_t> pcm = sink.samples();
        // Count the 100 ms stretches that carry the tone.
        const size_t piece = test::SinkTimeline::kRate / 10;
        int toned = 0;
        for (size_t at = 0; at + piece <= pcm.size(); at += piece) {
            const std::vector<int16_t> part(pcm.begin() + long(at), pcm.begin() + long(at + piece));
            const double tone = toneEnergy(part, 1000, test::SinkTimeline::kRate);
            if (tone > 1e6 && tone > 100 * toneEnergy(part, 2500, test::SinkTimeline::kRate))
                ++toned;
        }
        // The recording's first few hundred milliseconds may be silent (the
        // sound server's monitor starts late).
        EXPECT_GE(toned, (kSeconds - 1) * 10) << r.ext << ": " << pcm.size() << " samples";
        EXPECT_LE(toned, (kSeconds + 1) * 10);
    }
}

TEST(PlayerProgram, ACutRecordingPlaysToWhereItStopsAndSaysSo)
{
    REQUIRE_DESKTOP();
    const std::string folder = tempFolder();
    for (const Recording& r : recordings()) {
        if (r.ext != "avi" && r.ext != "rec" && r.ext != "flv")
            continue;
        SCOPED_TRACE(r.ext);
        const std::string cut = folder + "cut." + r.ext;
        fs::copy_file(r.file, cut, fs::copy_options::overwrite_existing);
        const uintmax_t size = fs::file_size(cut);
        fs::resize_file(cut, size * 6 / 10);
        PlayerProcess p({cut});
        std::string message;
        ASSERT_TRUE(p.expect("message Stopped at ", &message, 20000)) << p.transcript();
        EXPECT_NE(message.find(cut), std::string::npos) << "names the file: " << message;
        std::string ended;
        ASSERT_TRUE(p.expect("ended ", &ended, 20000)) << p.transcript();
        // It played the part that is there: more than a second, less than all.
        int64_t last = 0;
        for (const std::string& l : p.lines()) {
            ShownLine s;
            if (test::parseShown(l, s))
                last = std::max(last, s.startMs);
        }
        EXPECT_GT(last, 1000) << p.transcript();
        EXPECT_LT(last, kSeconds * 1000 - 500) << p.transcript();
        EXPECT_EQ(p.finish(), 0);
    }
}

// Click onsets (ms on the file's timeline) of the recording's own sound, by
// the same rule as those heard on the sink.
std::vector<int64_t> fileClicksMs(const std::string& file)
{
    const double soundStart = std::atof(
        commandOutput("ffprobe -v error -select_streams a:0 -show_entries frame=pts_time -of csv=p=0 '" + file +
                      "' 2>/dev/null | head -n1")
            .c_str());
    // decodeSound gives mono at 32000 Hz.
    std::vector<int64_t> out;
    for (size_t i : test::soundOnsets(decodeSound(file), 32000, 3000, 300))
        out.push_back(std::llround(soundStart * 1000) + int64_t(i) * 1000 / 32000);
    return out;
}

// For every click: the offset (ms) between the flash reaching the screen and
// the click reaching the sink; negative: the click comes later. For MP4 less
// the offset the recording itself holds between that flash and click (the
// recorder's sync has its own test; a flash caught a frame late would
// otherwise count against the player), so what remains is the player's
// doing. ffmpeg keeps the MP3 coder's delay in an AVI's sound, which only our
// reader takes off, so there the offset played is judged whole.
std::vector<double> playbackOffsets(const std::string& file, Decoder decoder, std::string* report)
{
    const bool againstFile = decoder == Decoder::Ffmpeg;
    // When each flash begins in the recording.
    std::vector<int64_t> flashStarts;
    double previous = 0;
    auto take = [&](const RgbFrame& f) {
        const double level = test::meanLevel(f);
        if (level > 128 && previous <= 128)
            flashStarts.push_back(f.startMs);
        previous = level;
    };
    if (decoder == Decoder::ScreenCodec)
        test::forEachScreenCodecFrame(file, take);
    else
        test::forEachFfmpegFrame(file, take);

    test::SinkTimeline sink;
    std::vector<double> offsets;
    if (!sink.start()) {
        *report = "the sink's monitor cannot be read";
        return offsets;
    }
    PlayerProcess p({file});
    const bool ended = p.expect("ended ", nullptr, 30000);
    sink.stop();
    p.finish();
    if (!ended) {
        *report = "the player did not play to the end:\n" + p.transcript();
        return offsets;
    }
    // When each flash reached the screen: the first picture shown in it.
    std::vector<int64_t> flashShownUs, shownFlashStart;
    std::vector<ShownLine> shown;
    for (const std::string& l : p.lines()) {
        ShownLine s;
        if (test::parseShown(l, s))
            shown.push_back(s);
    }
    for (int64_t start : flashStarts)
        for (const ShownLine& s : shown)
            if (s.startMs >= start && s.startMs < start + 150) {
                flashShownUs.push_back(s.atUs);
                shownFlashStart.push_back(start);
                break;
            }
    const std::vector<int64_t> clicks = sink.onsetsUs(3000, 300);
    *report = "flashes at";
    for (int64_t f : flashStarts)
        *report += " " + std::to_string(f);
    *report += " ms; shown " + std::to_string(flashShownUs.size()) + ", clicks " + std::to_string(clicks.size());
    // Flashes and clicks pair by nearness, on the sink as in the file.
    auto nearest = [](const std::vector<int64_t>& in, int64_t at) {
        size_t best = 0;
        for (size_t i = 1; i < in.size(); ++i)
            if (std::llabs(in[i] - at) < std::llabs(in[best] - at))
                best = i;
        return best;
    };
    const std::vector<int64_t> inFile = fileClicksMs(file);
    *report += ", in the file " + std::to_string(inFile.size());
    std::string played = "; offsets played (ms):", recorded = "; in the file:";
    for (int64_t c : clicks) {
        if (flashShownUs.empty() || inFile.empty())
            break;
        const size_t i = nearest(flashShownUs, c);
        if (std::llabs(flashShownUs[i] - c) >= 500000)
            continue;
        const int64_t flashMs = shownFlashStart[i];
        const int64_t clickMs = inFile[nearest(inFile, flashMs)];
        if (std::llabs(flashMs - clickMs) >= 500)
            continue;
        const double playedMs = double(flashShownUs[i] - c) / 1000.0;
        offsets.push_back(againstFile ? playedMs - double(flashMs - clickMs) : playedMs);
        played += " " + std::to_string(std::lround(playedMs));
        recorded += " " + std::to_string(flashMs - clickMs);
    }
    *report += played + recorded + (againstFile ? "; the player's share:" : "; judged:");
    for (double o : offsets)
        *report += " " + std::to_string(int(std::lround(o)));
    return offsets;
}

TEST(PlayerProgram, FlashAndClickReachTheScreenAndTheSinkTogether)
{
    REQUIRE_DESKTOP();
    if (access("./av_sync_scene", X_OK) != 0)
        GTEST_SKIP() << "av_sync_scene was not built (libpulse-simple missing)";
    const std::string folder = tempFolder();
    for (const auto& [ext, decoder] :
         std::vector<std::pair<std::string, Decoder>>{{"mp4", Decoder::Ffmpeg}, {"avi", Decoder::ScreenCodec}}) {
        SCOPED_TRACE(ext);
        // The clicks go into the stand-in microphone, the recorder's default
        // recording device.
        const std::string file = folder + "sync." + ext;
        const pid_t scene = spawn({"./av_sync_scene", "12", "2000", "micfeed"});
        const pid_t rec = spawn({"./quillet-cli", "record", "-o", file, "--seconds", "9", "--fps", "25", "--area",
                                 "0,0,640,480", "--sound", "on", "--source", "0", "--no-countdown", "-y"});
        ASSERT_EQ(waitExit(rec), 0);
        kill(scene, SIGTERM);
        waitExit(scene);
        std::string report;
        const std::vector<double> offsets = playbackOffsets(file, decoder, &report);
        std::printf("%s playback: %s\n", ext.c_str(), report.c_str());
        ASSERT_GE(offsets.size(), 3u) << report;
        for (double ms : offsets)
            EXPECT_LE(std::abs(ms), 60.0) << report;
    }
}

} // namespace
} // namespace quillet::player
