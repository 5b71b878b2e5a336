// SWF recordings of a scripted screen played in a real Flash-compatible
// player (Ruffle in headless Chromium, through tests/tools/swfplay): the
// picture, a moving window, the cursor, seeking with the player's bar and
// the sound, in block mode and in player mode at every quality level.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "capture/synthetic/SyntheticScreen.h"
#include "engine/session/RecordingSession.h"
#include "tests/engine/session/SessionTestSupport.h"

namespace quillet {
namespace {

constexpr int kW = 320, kH = 240;
constexpr int kFrames = 20;
constexpr double kPeriodMs = 1000.0 / 12;
constexpr uint32_t kBackground = 0x3060C0;
constexpr uint32_t kTitle = 0xC02020;
constexpr uint32_t kBody = 0xE0E0E0;
constexpr int kWindowY = 96;
constexpr double kToneHz = 660;
// Where the pointer stands until frame 10, and after.
constexpr int kPointer1X = 250, kPointer1Y = 176, kPointer2X = 280, kPointer2Y = 192;

int windowX(int frame) { return 16 * frame; }

// A photo-like square: smooth gradients in both directions.
uint32_t photo(int x, int y) { return uint32_t(40 + 2 * x) << 16 | uint32_t(60 + 2 * y) << 8 | uint32_t(90 + x + y); }
constexpr int kPhotoX = 224, kPhotoY = 16, kPhotoSide = 64;

struct Recording {
    std::string path;
    int level = 4;
    bool sound = false;
    // Also keep the file as a recording killed right after its first frame
    // would leave it.
    std::string killedCopy;
};

// Records kFrames frames of the scene through the engine.
bool record(const Recording& r)
{
    SyntheticScreen screen(kW, kH);
    test::ManualClock clock;
    test::TestHost host;
    test::ScriptedAudioInput audio;
    SessionEnvironment env;
    env.screen = &screen;
    env.clock = &clock;
    env.runVideoThread = false;
    env.soundInput = &audio;
    env.sources.build(AudioSystemInfo{});
    RecordSettings settings;
    settings.framesPerSecond = 15;
    settings.recordSound = r.sound;
    settings.qualityLevel = r.level;
    settings.outputFileName = r.path;
    screen.fill(Rect{0, 0, kW, kH}, kBackground);
    for (int y = 0; y < kPhotoSide; ++y)
        for (int x = 0; x < kPhotoSide; ++x)
            screen.fill(Rect{kPhotoX + x, kPhotoY + y, kPhotoX + x + 1, kPhotoY + y + 1}, photo(x, y));
    RecordingSession s(host, env);
    if (!s.start(settings, "SWF", true, "/tmp/", 4))
        return false;
    std::vector<uint8_t> pcm;
    AudioBuffer buffer;
    uint64_t sample = 0;
    for (int frame = 1; frame <= kFrames; ++frame) {
        const int x = windowX(frame);
        screen.fill(Rect{x - 16, kWindowY, x, kWindowY + 48}, kBackground);
        screen.fill(Rect{x, kWindowY, x + 64, kWindowY + 12}, kTitle);
        screen.fill(Rect{x, kWindowY + 12, x + 64, kWindowY + 48}, kBody);
        if (frame < 10)
            screen.setPointer(kPointer1X, kPointer1Y);
        else
            screen.setPointer(kPointer2X, kPointer2Y);
        clock.now += 84;
        s.frameTick();
        if (frame == 1 && !r.killedCopy.empty())
            std::filesystem::copy_file(r.path, r.killedCopy, std::filesystem::copy_options::overwrite_existing);
        if (r.sound) {
            pcm.resize(size_t(audio.samples) * 2);
            for (uint32_t i = 0; i < audio.samples; ++i, ++sample) {
                const int16_t v = int16_t(12000 * std::sin(2 * M_PI * kToneHz * double(sample) / 11025));
                pcm[2 * i] = uint8_t(v);
                pcm[2 * i + 1] = uint8_t(uint16_t(v) >> 8);
            }
            buffer.data = pcm.data();
            buffer.bufferLength = buffer.bytesRecorded = uint32_t(pcm.size());
            s.onAudioChunk(&audio, &buffer);
        }
    }
    return s.stop() == 1 && host.messages.empty();
}

struct Rgb {
    int r = -1, g = -1, b = -1;
};
Rgb rgbOf(uint32_t c) { return Rgb{int(c >> 16), int((c >> 8) & 0xFF), int(c & 0xFF)}; }
bool near(const Rgb& a, const Rgb& b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}
std::string str(const Rgb& c)
{
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

// One probe: a movie time (or a seek) and the colours expected at points.
struct Probe {
    std::string name;
    std::vector<std::pair<int, int>> points;
    std::vector<uint32_t> expected;
    int tolerance = 10;
};

// The points that show frame n: the window's title and body, where the window
// was one frame earlier, the photo, and the cursor's outline and fill.
Probe frameProbe(int n, int tolerance)
{
    Probe p;
    p.name = "frame " + std::to_string(n);
    p.tolerance = tolerance;
    const int x = windowX(n);
    const int px = n < 10 ? kPointer1X : kPointer2X, py = n < 10 ? kPointer1Y : kPointer2Y;
    p.points = {{x + 32, kWindowY + 6}, {x + 32, kWindowY + 30}, {x - 8, kWindowY + 30},
                {kPhotoX + 20, kPhotoY + 40}, {px, py + 5}, {px + 2, py + 5}, {20, 20}};
    p.expected = {kTitle, kBody, kBackground, photo(20, 40), 0x000000, 0xFFFFFF, kBackground};
    return p;
}

struct FileResult {
    bool loaded = false, panic = false;
    int errors = -1, warnings = -1, frames = -1;
    std::vector<std::string> messages;
    std::map<int, std::vector<Rgb>> pixels;
    std::map<int, std::pair<double, std::vector<double>>> sound;
};

std::map<int, FileResult> readResults(const std::string& path)
{
    std::map<int, FileResult> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string kind;
        int i = 0;
        ls >> kind >> i;
        FileResult& f = out[i];
        std::string word;
        if (kind == "file") {
            int loaded = 0, panic = 0;
            ls >> word >> loaded >> word >> panic >> word >> f.errors >> word >> f.warnings >> word >> f.frames;
            f.loaded = loaded;
            f.panic = panic;
        } else if (kind == "message") {
            f.messages.push_back(line);
        } else if (kind == "pixels") {
            int step = 0;
            ls >> step;
            Rgb c;
            while (ls >> c.r >> c.g >> c.b)
                f.pixels[step].push_back(c);
        } else if (kind == "sound") {
            int step = 0;
            double peak = 0, level = 0;
            ls >> step >> peak;
            std::vector<double> levels;
            while (ls >> level)
                levels.push_back(level);
            f.sound[step] = {peak, levels};
        }
    }
    return out;
}

TEST(SwfPlay, RecordingsPlayInARealPlayer)
{
#ifndef QUILLET_NODE
    GTEST_SKIP() << "node is not installed: SWF files cannot be played headless (install with scripts/install-deps.sh)";
#else
    const std::string harness = QUILLET_SWFPLAY_DIR;
    ASSERT_TRUE(std::filesystem::exists(harness + "/node_modules/@ruffle-rs/ruffle/ruffle.js"))
        << "the SWF player harness is not installed: run scripts/install-deps.sh";
    ASSERT_TRUE(std::filesystem::exists("/usr/bin/chromium")) << "chromium is missing: run scripts/install-deps.sh";
    const std::string dir = "/tmp/quillet-swfplay-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);

    // Block mode and player mode at each level; two of them with sound.
    std::vector<Recording> recs;
    for (int level = 0; level <= 4; ++level)
        recs.push_back({dir + "/level" + std::to_string(level) + ".swf", level, false, {}});
    recs.push_back({dir + "/level4-sound.swf", 4, true, {}});
    recs.push_back({dir + "/level1-sound.swf", 1, true, {}});
    recs[2].killedCopy = dir + "/killed.swf";
    for (const Recording& r : recs)
        ASSERT_TRUE(record(r)) << r.path;
    const size_t killed = recs.size();
    recs.push_back({dir + "/killed.swf", 2, false, {}});

    // The player shows frame n for movie times [n P, (n + 1) P): probe mid-frame.
    const std::vector<int> probeFrames = {1, 4, 9, 15};
    std::ostringstream job;
    std::vector<std::vector<Probe>> probes(recs.size());
    job << "{\"files\": [";
    for (size_t i = 0; i < recs.size(); ++i) {
        const Recording& r = recs[i];
        job << (i ? "," : "") << "{\"path\": \"" << r.path << "\", \"width\": " << kW << ", \"height\": " << kH
            << ", \"steps\": [";
        if (r.sound) {
            // Stream sound plays in real time and the player follows it, so
            // these files are checked for their sound only.
            job << "{\"sound\": 1500}";
        } else if (i == killed) {
            probes[i].push_back(frameProbe(1, 24));
            job << "{\"at\": " << int(1.5 * kPeriodMs) << ", \"points\": [";
            for (size_t q = 0; q < probes[i].back().points.size(); ++q)
                job << (q ? "," : "") << "[" << probes[i].back().points[q].first << ","
                    << probes[i].back().points[q].second << "]";
            job << "]}";
        } else {
            // JPEG at level 0 (quality 25) gets a wide margin for the photo.
            const int tolerance = r.level == 0 ? 40 : r.level < 4 ? 24 : 6;
            for (size_t k = 0; k < probeFrames.size(); ++k) {
                const int n = probeFrames[k];
                probes[i].push_back(frameProbe(n, tolerance));
                job << (k ? "," : "") << "{\"at\": " << int((n + 0.5) * kPeriodMs) << ", \"points\": [";
                for (size_t q = 0; q < probes[i].back().points.size(); ++q)
                    job << (q ? "," : "") << "[" << probes[i].back().points[q].first << ","
                        << probes[i].back().points[q].second << "]";
                job << "]}";
            }
            if (r.level < 4) {
                // The movie waits on its last frame; a click on the bar's
                // track seeks: track x 30 .. width - 10 maps to frames 1 .. N.
                const int target = 6;
                const int clickX = 30 + int(std::lround((kW - 40) * double(target - 1) / (kFrames - 1)));
                job << ",{\"at\": " << int((kFrames + 2) * kPeriodMs) << ", \"points\": []}";
                job << ",{\"click\": [" << clickX << ", " << kH - 11 << "]}";
                Probe p = frameProbe(target, tolerance);
                p.name = "after seeking to frame " + std::to_string(target);
                // The bar covers nothing the probe reads.
                job << ",{\"at\": " << int((kFrames + 3) * kPeriodMs) << ", \"points\": [";
                for (size_t q = 0; q < p.points.size(); ++q)
                    job << (q ? "," : "") << "[" << p.points[q].first << "," << p.points[q].second << "]";
                job << "]}";
                probes[i].push_back(Probe{}); // the settle step
                probes[i].push_back(Probe{}); // the click
                probes[i].push_back(p);
            }
        }
        job << "]}";
    }
    job << "]}";
    const std::string jobPath = dir + "/job.json", resultPath = dir + "/result.json";
    std::ofstream(jobPath) << job.str();
    const std::string cmd = std::string(QUILLET_NODE) + " " + harness + "/play.mjs " + jobPath + " " + resultPath +
                            " > " + dir + "/harness.log 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "the harness failed; see " << dir << "/harness.log";
    std::map<int, FileResult> results = readResults(resultPath + ".txt");
    ASSERT_EQ(results.size(), recs.size());

    for (size_t i = 0; i < recs.size(); ++i) {
        const FileResult& f = results[int(i)];
        SCOPED_TRACE(recs[i].path);
        EXPECT_TRUE(f.loaded);
        EXPECT_FALSE(f.panic);
        EXPECT_EQ(f.errors, 0);
        for (const std::string& m : f.messages)
            if (i != killed || m.find(" error ") != std::string::npos)
                ADD_FAILURE() << m;
        if (i == killed) {
            EXPECT_EQ(f.frames, 1) << "a killed recording plays up to its last key frame";
        } else {
            EXPECT_EQ(f.warnings, 0) << "the player warns about a well-formed file";
        }
        if (recs[i].sound) {
            ASSERT_EQ(f.sound.count(0), 1u);
            const auto& [peak, levels] = f.sound.at(0);
            int loud = 0;
            for (double l : levels)
                loud += l > 0.02;
            EXPECT_GE(loud, int(levels.size()) / 2) << "the sound is silent for much of the recording";
            EXPECT_NEAR(peak, kToneHz, 15.0) << "the tone's pitch";
            continue;
        }
        if (i != killed) {
            EXPECT_EQ(f.frames, kFrames);
        }
        for (size_t k = 0; k < probes[i].size(); ++k) {
            const Probe& p = probes[i][k];
            if (p.points.empty())
                continue;
            ASSERT_EQ(f.pixels.count(int(k)), 1u) << p.name;
            const std::vector<Rgb>& got = f.pixels.at(int(k));
            ASSERT_EQ(got.size(), p.expected.size()) << p.name;
            for (size_t q = 0; q < got.size(); ++q) {
                // The photo is the only photo-like content; the rest are flat colours.
                const int tol = q == 3 ? p.tolerance : 6;
                EXPECT_TRUE(near(got[q], rgbOf(p.expected[q]), tol))
                    << p.name << ", point (" << p.points[q].first << ", " << p.points[q].second << "): got "
                    << str(got[q]) << ", expected " << str(rgbOf(p.expected[q]));
            }
        }
    }
    if (!HasFailure() && !getenv("QUILLET_KEEP_SWFPLAY"))
        std::filesystem::remove_all(dir);
#endif
}

} // namespace
} // namespace quillet
