// quillet-cli recording AVI and own record files on a real X server and
// PulseAudio daemon (scripts/test-env.sh): the computer's sound and the
// screen come back through convert, and a recorder killed midway leaves a
// file that convert turns into everything up to the kill.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/engine/playback/PlaybackTestFiles.h"
#include "tests/engine/session/CliTestSupport.h"
#include "tests/engine/session/SessionTestSupport.h"

namespace quillet {
namespace {

using test::commandOutput;
using test::computerSoundIndex;
using test::decodeSound;
using test::probe;
using test::Scene;
using test::spawn;
using test::waitExit;

TEST(CliScreenCodec, RecordingsConvertToTheScreenAndTheToneThatPlayed)
{
    REQUIRE_DESKTOP();
    const std::string source = computerSoundIndex();
    ASSERT_FALSE(source.empty());
    for (const char* ext : {"avi", "rec"}) {
        Scene scene(8, 440);
        const std::string file = scene.folder + "played." + ext;
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
    REQUIRE_DESKTOP();
    const std::string source = computerSoundIndex();
    for (const char* ext : {"avi", "rec"}) {
        Scene scene(10, 440);
        const std::string file = scene.folder + "killed." + ext;
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
