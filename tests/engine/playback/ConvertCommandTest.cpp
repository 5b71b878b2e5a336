// quillet-cli convert and info on recordings made by the outputs: MP4 and PNG
// frames that real decoders read, FLV and MP4 remuxed both ways, and failures
// that name the file and leave no partial output behind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/playback/RecordingPlayer.h"
#include "tests/engine/playback/KeyFrameRecording.h"
#include "tests/engine/playback/PlaybackTestFiles.h"
#include "tests/engine/session/CliTestSupport.h"
#include "tests/engine/session/SessionTestSupport.h"

namespace quillet {
namespace {

using test::commandOutput;
using test::probe;

bool haveFfmpeg() { return std::system("ffprobe -version >/dev/null 2>&1 && ffmpeg -version >/dev/null 2>&1") == 0; }

// Runs the command line tool; returns its exit code and everything it printed.
int cli(const std::string& args, std::string* out, const std::string& prefix = "")
{
    return test::run(prefix + "./quillet-cli " + args, out);
}

bool exists(const std::string& p)
{
    struct stat st {};
    return stat(p.c_str(), &st) == 0;
}

class ConvertCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveFfmpeg())
            GTEST_SKIP() << "ffmpeg/ffprobe missing";
    }
};

TEST_F(ConvertCommand, InfoTellsWhatARecordingHolds)
{
    const auto w = test::writeKeyFrameRecording("avi", "info");
    std::string out;
    ASSERT_EQ(cli("info '" + w.file + "'", &out), 0) << out;
    EXPECT_NE(out.find("type:      AVI, screen codec QVS2"), std::string::npos) << out;
    EXPECT_NE(out.find("picture:   400x272 at 5 frames per second"), std::string::npos) << out;
    EXPECT_NE(out.find("frames:    40 pictures over 50 frame slots, 7 key frames"), std::string::npos) << out;
    EXPECT_NE(out.find("duration:  10.000 s"), std::string::npos) << out;
    EXPECT_NE(out.find("state:     finished"), std::string::npos) << out;
    const auto r = test::writeKeyFrameRecording("rec", "info");
    ASSERT_EQ(cli("info '" + r.file + "'", &out), 0) << out;
    EXPECT_NE(out.find("own record file"), std::string::npos) << out;
    EXPECT_EQ(cli("info /nonexistent/x.avi", &out), 1);
    EXPECT_NE(out.find("/nonexistent/x.avi"), std::string::npos) << out;
}

TEST_F(ConvertCommand, MakesMp4AndLosslessFramesThatDecoders)
{
    const auto w = test::writeKeyFrameRecording("rec", "convert");
    const std::string mp4 = test::scratchPath("convert.mp4");
    std::string out;
    ASSERT_EQ(cli("convert '" + w.file + "' '" + mp4 + "'", &out), 0) << out;
    EXPECT_NE(out.find("converting: 100%"), std::string::npos) << out;
    EXPECT_EQ(probe(mp4, "v:0", "stream=nb_frames"), "40");
    EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + mp4 + "' -f null - 2>&1"), "");

    const std::string dir = test::scratchPath("frames");
    ASSERT_EQ(cli("convert '" + w.file + "' --frames '" + dir + "'", &out), 0) << out;
    size_t pngs = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        pngs += e.path().extension() == ".png";
    EXPECT_EQ(pngs, 40u);
    // A frame decodes (libpng through ffmpeg) to exactly the player's picture.
    const std::string rgb = commandOutput("ffmpeg -v error -i '" + dir + "/frame_000017.png' -f rawvideo -pix_fmt bgr24 -");
    RecordingPlayer p;
    ASSERT_EQ(p.open(w.file), 1);
    PlayerFrame f;
    for (int i = 0; i <= 17; ++i)
        ASSERT_EQ(p.next(f), 1);
    ASSERT_EQ(rgb.size(), size_t(400 * 272 * 3));
    size_t differ = 0;
    for (int y = 0; y < 272; ++y)
        for (int x = 0; x < 400; ++x)
            for (int c = 0; c < 3; ++c)
                differ += uint8_t(rgb[(size_t(y) * 400 + x) * 3 + c]) != f.picture->row_from_top(y)[x * 4 + c];
    EXPECT_EQ(differ, 0u);
}

TEST_F(ConvertCommand, RemuxesFlvAndMp4BothWays)
{
    const std::string flv = test::scratchPath("src.flv");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=10 -f lavfi -i "
                           "sine=frequency=440:sample_rate=32000 -t 3 -c:v libx264 -c:a aac '" + flv + "'").c_str()),
              0);
    const std::string mp4 = test::scratchPath("remuxed.mp4");
    std::string out;
    ASSERT_EQ(cli("convert '" + flv + "' '" + mp4 + "'", &out), 0) << out;
    EXPECT_EQ(probe(mp4, "v:0", "stream=codec_name"), "h264");
    EXPECT_EQ(probe(mp4, "a:0", "stream=codec_name"), "aac");
    EXPECT_EQ(probe(mp4, "v:0", "stream=nb_frames"), "30");
    const std::string back = test::scratchPath("back.flv");
    ASSERT_EQ(cli("convert '" + mp4 + "' '" + back + "'", &out), 0) << out;
    EXPECT_EQ(probe(back, "v:0", "stream=codec_name"), "h264");
    EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + back + "' -f null - 2>&1"), "");
}

TEST_F(ConvertCommand, FailuresNameTheFileAndLeaveNoPartialOutput)
{
    std::string out;
    const std::string mp4 = test::scratchPath("never.mp4");
    EXPECT_EQ(cli("convert /nonexistent/x.rec '" + mp4 + "'", &out), 1);
    EXPECT_NE(out.find("/nonexistent/x.rec"), std::string::npos) << out;
    EXPECT_FALSE(exists(mp4));

    // A recording whose head is damaged: the message names file and offset.
    const auto w = test::writeKeyFrameRecording("rec", "broken");
    test::Bytes b = test::readBytes(w.file);
    b[12] = 99; // the header size field
    const std::string broken = test::scratchPath("broken-head.rec");
    test::writeBytes(broken, b);
    EXPECT_EQ(cli("convert '" + broken + "' '" + mp4 + "'", &out), 1);
    EXPECT_NE(out.find(broken + ": unknown header size at offset 12"), std::string::npos) << out;
    EXPECT_FALSE(exists(mp4));

    // The disk fills up while converting (a file size limit stands in for it).
    EXPECT_EQ(cli("convert '" + w.file + "' '" + mp4 + "'", &out, "ulimit -f 16; trap '' XFSZ; "), 1) << out;
    EXPECT_NE(out.find(mp4), std::string::npos) << out;
    EXPECT_FALSE(exists(mp4)) << "the partial file is removed";

    EXPECT_EQ(cli("convert '" + w.file + "' '" + w.file + "'", &out), 2);
    EXPECT_EQ(cli("convert '" + w.file + "'", &out), 2);
    EXPECT_NE(out.find("usage"), std::string::npos);
}

} // namespace
} // namespace quillet
