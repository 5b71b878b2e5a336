// The computer's own sound keeps the output's pace over a whole recording:
// quillet-cli records the default sink's monitor (48000 Hz) into an MP4 at
// 32000 Hz while a file with a click every few seconds plays; in the decoded
// file the clicks must stay as far apart as they were played. Runs under
// scripts/test-env.sh and skips without a display, a sound server or ffmpeg.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/ByteOrder.h"

namespace quillet {
namespace {

std::string shellOutput(const std::string& cmd)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

bool desktopPresent()
{
    return std::getenv("DISPLAY") && std::system("xdpyinfo >/dev/null 2>&1") == 0 &&
           std::system("pactl info >/dev/null 2>&1") == 0 && std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

constexpr uint32_t kPlayRate = 48000;
constexpr uint32_t kRecordRate = 32000;

// A quiet 440 Hz tone (so the track is never plain silence) with a 2 ms
// full-scale click every periodSeconds, starting at firstSeconds.
bool writeClickWav(const std::string& path, double seconds, double firstSeconds, double periodSeconds)
{
    const uint32_t frames = static_cast<uint32_t>(seconds * kPlayRate);
    std::vector<uint8_t> file(44 + size_t(frames) * 2);
    uint8_t* h = file.data();
    std::memcpy(h, "RIFF", 4);
    putLE32(h + 4, static_cast<uint32_t>(file.size() - 8));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    putLE32(h + 16, 16);
    putLE16(h + 20, 1);             // PCM
    putLE16(h + 22, 1);             // channels
    putLE32(h + 24, kPlayRate);     // sample rate
    putLE32(h + 28, kPlayRate * 2); // bytes per second
    putLE16(h + 32, 2);             // block align
    putLE16(h + 34, 16);            // bits per sample
    std::memcpy(h + 36, "data", 4);
    putLE32(h + 40, frames * 2);
    const uint32_t period = static_cast<uint32_t>(periodSeconds * kPlayRate);
    const uint32_t first = static_cast<uint32_t>(firstSeconds * kPlayRate);
    const uint32_t clickLength = kPlayRate / 500;
    for (uint32_t i = 0; i < frames; ++i) {
        double v = 0.05 * std::sin(2 * M_PI * 440.0 * i / kPlayRate);
        if (i >= first && (i - first) % period < clickLength)
            v = 0.95;
        putLE16(h + 44 + size_t(i) * 2, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 32767))));
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

// Seconds at which the decoded sound first exceeds half scale after at least
// a second of quiet: the click onsets.
std::vector<double> clickOnsets(const std::string& file)
{
    const std::string raw =
        shellOutput("ffmpeg -v error -i '" + file + "' -map 0:a:0 -ac 1 -ar 32000 -f s16le - 2>/dev/null");
    std::vector<double> onsets;
    int64_t lastLoud = -int64_t(kRecordRate);
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        const int v = static_cast<int16_t>(getLE16(reinterpret_cast<const uint8_t*>(raw.data()) + i));
        const int64_t k = static_cast<int64_t>(i / 2);
        if (std::abs(v) < 16384)
            continue;
        if (k - lastLoud >= int64_t(kRecordRate))
            onsets.push_back(double(k) / kRecordRate);
        lastLoud = k;
    }
    return onsets;
}

struct ClickRun {
    double recordSeconds;
    double periodSeconds;
    // How far the span from the first to the last click may differ from the
    // played span. The pick-based conversion moves a click by at most one
    // frame; the rest is room for the AAC coder's smearing of the onset.
    double toleranceMs;
};

void expectClicksInPlace(const ClickRun& run)
{
    const std::string dir = std::filesystem::temp_directory_path() / ("quillet-drift-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string wav = dir + "/clicks.wav";
    const std::string mp4 = dir + "/drift.mp4";
    ASSERT_TRUE(writeClickWav(wav, run.recordSeconds + 5, 1.0, run.periodSeconds));

    std::string source = shellOutput("./quillet-cli devices 2>/dev/null | grep -E 'own sound|monitor' | tail -n1");
    source = source.substr(0, source.find_first_of(" \n", source.find_first_not_of(' ')));
    source.erase(0, source.find_first_not_of(' '));
    ASSERT_FALSE(source.empty()) << "no computer-sound source listed";

    const pid_t player = fork();
    ASSERT_GE(player, 0);
    if (player == 0) {
        execl("/usr/bin/paplay", "paplay", "-d", "speaker", wav.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string cmd = "./quillet-cli record -o '" + mp4 + "' --seconds " +
                            std::to_string(static_cast<int>(run.recordSeconds)) +
                            " --fps 10 --area 0,0,320,240 --sound on --source " + source +
                            " --no-countdown -y >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    kill(player, SIGTERM);
    waitpid(player, nullptr, 0);
    ASSERT_EQ(rc, 0) << cmd;

    const std::vector<double> clicks = clickOnsets(mp4);
    std::string report = "clicks at:";
    for (double c : clicks)
        report += " " + std::to_string(c);
    // The recording starts while the player may still be starting up, so the
    // first click or two may fall before or after it; at least most must be in.
    ASSERT_GE(clicks.size(), static_cast<size_t>(run.recordSeconds / run.periodSeconds) - 2) << report;
    for (size_t i = 1; i < clicks.size(); ++i)
        EXPECT_NEAR(clicks[i] - clicks[i - 1], run.periodSeconds, 0.004) << "between clicks " << i - 1 << " and " << i
                                                                          << "; " << report;
    const double span = clicks.back() - clicks.front();
    const double played = run.periodSeconds * static_cast<double>(clicks.size() - 1);
    EXPECT_NEAR(span * 1000, played * 1000, run.toleranceMs) << report;
    std::printf("computer sound: %zu clicks over %.3f s, played %.3f s apart (drift %.2f ms, %.3f%%)\n",
                clicks.size(), span, played, (span - played) * 1000, 100 * (span - played) / played);
    std::filesystem::remove_all(dir);
}

TEST(ComputerSoundDrift, ClicksStayInPlaceOverTwentySeconds)
{
    if (!desktopPresent())
        GTEST_SKIP() << "needs DISPLAY, a PulseAudio server and ffmpeg (test-env.sh)";
    expectClicksInPlace({20, 2, 5});
}

TEST(ComputerSoundDrift, ClicksStayInPlaceOverAMinute)
{
    if (!desktopPresent())
        GTEST_SKIP() << "needs DISPLAY, a PulseAudio server and ffmpeg (test-env.sh)";
    if (!std::getenv("QUILLET_SLOW_TESTS") || std::string(std::getenv("QUILLET_SLOW_TESTS")) != "1")
        GTEST_SKIP() << "slow: set QUILLET_SLOW_TESTS=1";
    expectClicksInPlace({65, 10, 5});
}

} // namespace
} // namespace quillet
