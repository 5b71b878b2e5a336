// quillet-cli recording AVI and own record files on a real X server and
// PulseAudio daemon (scripts/test-env.sh): the computer's sound and the
// screen come back through convert, and a recorder killed midway leaves a
// file that convert turns into everything up to the kill.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/playback/PlaybackTestFiles.h"
#include "tests/engine/session/SessionTestSupport.h"

extern char** environ;

namespace quillet {
namespace {

using test::commandOutput;
using test::probe;

bool desktopPresent()
{
    return std::getenv("DISPLAY") && std::system("xdpyinfo >/dev/null 2>&1") == 0 &&
           std::system("pactl info >/dev/null 2>&1") == 0 && std::system("ffprobe -version >/dev/null 2>&1") == 0;
}

pid_t spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

int waitExit(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The computer's own sound: the last entry of "quillet-cli devices".
std::string computerSoundIndex()
{
    const std::string out = commandOutput("./quillet-cli devices 2>/dev/null | grep -E 'own sound|monitor' | tail -n1");
    const size_t p = out.find_first_not_of(' ');
    return p == std::string::npos ? std::string() : out.substr(p, out.find(' ', p) - p);
}

// A 440 Hz tone into the default sink and a changing desktop, while it lives.
struct Scene {
    explicit Scene(int seconds)
    {
        const std::string wav = test::scratchPath("tone.wav");
        std::system(("sox -n -r 48000 -c 2 '" + wav + "' synth " + std::to_string(seconds) +
                     " sine 440 vol 0.5 2>/dev/null")
                        .c_str());
        tone = spawn({"/usr/bin/paplay", wav});
        mover = spawn({"/bin/sh", "-c",
                       "i=0; while :; do xsetroot -solid \"#$(printf '%02x%02x40' $((i*37%256)) $((i*91%256)))\"; "
                       "i=$((i+1)); sleep 0.2; done"});
    }
    ~Scene()
    {
        for (pid_t p : {tone, mover})
            if (p > 0) {
                kill(p, SIGTERM);
                waitExit(p);
            }
    }
    pid_t tone = -1, mover = -1;
};

std::vector<int16_t> decodeSound(const std::string& file)
{
    const std::string raw = commandOutput("ffmpeg -v error -i '" + file + "' -map 0:a:0 -ac 1 -ar 32000 -f s16le -");
    std::vector<int16_t> pcm(raw.size() / 2);
    if (!pcm.empty())
        std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

TEST(CliScreenCodec, RecordingsConvertToTheScreenAndTheToneThatPlayed)
{
    if (!desktopPresent())
        GTEST_SKIP() << "needs DISPLAY, a PulseAudio server and ffmpeg (test-env.sh)";
    const std::string source = computerSoundIndex();
    ASSERT_FALSE(source.empty());
    for (const char* ext : {"avi", "rec"}) {
        Scene scene(8);
        const std::string file = test::scratchPath(std::string("played.") + ext);
        const pid_t pid = spawn({"./quillet-cli", "record", "-o", file, "--seconds", "5", "--fps", "10", "--area",
                                 "0,0,327,231", "--sound", "on", "--source", source, "--no-countdown", "-y"});
        ASSERT_GT(pid, 0);
        EXPECT_EQ(waitExit(pid), 0) << ext;
        const std::string info = commandOutput("./quillet-cli info '" + file + "' 2>&1");
        EXPECT_NE(info.find("picture:   336x240 at 10 frames per second"), std::string::npos) << info;
        EXPECT_NE(info.find("state:     finished"), std::string::npos) << info;
        const std::string mp4 = file + ".mp4";
        EXPECT_EQ(std::system(("./quillet-cli convert '" + file + "' '" + mp4 + "' >/dev/null 2>&1").c_str()), 0);
        EXPECT_NEAR(std::atof(probe(mp4, "v:0", "format=duration").c_str()), 5.0, 0.3) << ext;
        const std::vector<int16_t> pcm = decodeSound(mp4);
        // The monitor stream may start late by a few hundred milliseconds.
        EXPECT_GT(pcm.size(), size_t(32000 * 4)) << ext;
        const double tone = test::toneEnergy(pcm, 440, 32000);
        EXPECT_GT(tone, 100 * test::toneEnergy(pcm, 1000, 32000)) << ext;
        if (std::string(ext) == "avi") {
            EXPECT_EQ(probe(file, "v:0", "stream=codec_tag_string"), "QVS2");
            EXPECT_EQ(probe(file, "a:0", "stream=codec_name"), "mp3");
            EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + file + "' -map 0:a -f null - 2>&1"), "");
        }
    }
}

TEST(CliScreenCodec, AKilledRecorderLeavesWhatItHadWritten)
{
    if (!desktopPresent())
        GTEST_SKIP() << "needs DISPLAY, a PulseAudio server and ffmpeg (test-env.sh)";
    const std::string source = computerSoundIndex();
    for (const char* ext : {"avi", "rec"}) {
        Scene scene(10);
        const std::string file = test::scratchPath(std::string("killed.") + ext);
        const pid_t pid = spawn({"./quillet-cli", "record", "-o", file, "--fps", "10", "--area", "0,0,327,231",
                                 "--sound", "on", "--source", source, "--no-countdown", "-y"});
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::seconds(4));
        kill(pid, SIGKILL);
        waitExit(pid);
        const std::string info = commandOutput("./quillet-cli info '" + file + "' 2>&1");
        EXPECT_NE(info.find("not finished"), std::string::npos) << info;
        const std::string mp4 = file + ".mp4";
        EXPECT_EQ(std::system(("./quillet-cli convert '" + file + "' '" + mp4 + "' >/dev/null 2>&1").c_str()), 0)
            << info;
        // About four seconds were recorded; start-up takes some of them.
        const double seconds = std::atof(probe(mp4, "v:0", "format=duration").c_str());
        EXPECT_GT(seconds, 2.5) << ext;
        EXPECT_LT(seconds, 4.5) << ext;
        EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + mp4 + "' -f null - 2>&1"), "") << ext;
        EXPECT_EQ(probe(mp4, "a:0", "stream=codec_name"), "aac") << ext;
    }
}

} // namespace
} // namespace quillet
