// quillet-cli recording onto a disk that fills up (a small tmpfs, or a file
// size limit where no tmpfs can be mounted): the recording ends at once with
// exit code 1 and the disk-full message naming the file and what it kept,
// and what is left plays: MP4 with its final index, FLV with its final
// metadata, PNG images all whole. Runs on the headless desktop with a picture
// of noise that fills a disk in seconds.
#include <sys/mount.h>

#include <filesystem>
#include <regex>

#include "tests/engine/recovery/KillHarness.h"

namespace quillet::killtest {
namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;
    int keptSeconds = -1; // from the message
    int keptImages = -1;
};

// Records `file` with the noise scene until the disk is full; `limit` is a
// shell prefix that sets a file-size limit, or empty.
Outcome recordUntilFull(const std::string& file, const std::string& limit)
{
    Outcome o;
    const std::string source = computerSoundIndex();
    const bool images = file.size() > 4 && file.compare(file.size() - 4, 4, ".png") == 0;
    const std::string cmd = limit + "timeout 60 ./quillet-cli record -o '" + file +
                            "' --seconds 50 --fps 15 --area 0,0,640,480 --no-countdown -y" +
                            (images ? " --quality 4" : " --sound on --source " + source);
    o.exitCode = muxtest::runCommand("bash -c \"" + cmd + "\"", &o.output);
    std::smatch m;
    if (std::regex_search(o.output, m, std::regex("Kept: ([0-9]+) seconds")))
        o.keptSeconds = std::atoi(m[1].str().c_str());
    if (std::regex_search(o.output, m, std::regex("Kept: ([0-9]+) images")))
        o.keptImages = std::atoi(m[1].str().c_str());
    return o;
}

void expectEndedByFullDisk(const std::string& file, const Outcome& o, int minImages = 1)
{
    SCOPED_TRACE(file);
    EXPECT_EQ(1, o.exitCode) << o.output;
    EXPECT_NE(std::string::npos, o.output.find("The disk is full")) << o.output;
    EXPECT_EQ(std::string::npos, o.output.find("could not be created")) << o.output;
    EXPECT_NE(0, access((file + ".journal").c_str(), F_OK)) << "a finalised file keeps no journal";
    EXPECT_NE(0, access((file + ".reserve").c_str(), F_OK)) << "the kept room is given back";
    const bool images = file.compare(file.size() - 4, 4, ".png") == 0;
    if (images) {
        ASSERT_GE(o.keptImages, minImages) << o.output;
        const std::string base = file.substr(0, file.size() - 4);
        int found = 0;
        for (int n = 0; n < 1000; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "_%03d.png", n);
            if (access((base + name).c_str(), F_OK) != 0)
                break;
            ++found;
            EXPECT_EQ("", muxtest::decodeErrors(base + name)) << name;
        }
        // No partial image is left behind the kept ones.
        EXPECT_EQ(o.keptImages, found);
        if (found > 0) {
            EXPECT_NE(std::string::npos, o.output.find(base + "_000.png")) << o.output;
        }
        return;
    }
    EXPECT_NE(std::string::npos, o.output.find(file)) << o.output;
    ASSERT_GE(o.keptSeconds, 0) << o.output;
    EXPECT_EQ("", muxtest::decodeErrors(file));
    // The message counts whole seconds of what the file really holds.
    const double video = streamEnd(file, "v");
    EXPECT_GE(video, 0.5);
    EXPECT_LE(std::abs(video - o.keptSeconds), 1.5) << o.output;
    EXPECT_GT(streamEnd(file, "a"), 0.0) << "the sound is kept too";
}

class DiskFullTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!desktopPresent())
            GTEST_SKIP() << "needs DISPLAY, a PulseAudio server and ffmpeg (test-env.sh)";
        ASSERT_TRUE(scene.start({"./recording_scene", "noise", "100000"}));
    }
    void TearDown() override { scene.killAndWait(); }
    Child scene;
};

TEST_F(DiskFullTest, SmallTmpfsEndsEachFormatWithAPlayableFile)
{
    for (int mib : {3, 6}) {
        const std::string dir = tempFolder();
        const std::string opts = "size=" + std::to_string(mib) + "m";
        if (mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) != 0) {
            std::filesystem::remove(dir);
            GTEST_SKIP() << "a tmpfs cannot be mounted here (" << std::strerror(errno)
                         << "); FileSizeLimitEndsEachFormatWithAPlayableFile covers the same path";
        }
        for (const char* ext : {"mp4", "flv", "png"}) {
            SCOPED_TRACE(std::to_string(mib) + " MiB, " + ext);
            const std::string file = dir + "full." + ext;
            expectEndedByFullDisk(file, recordUntilFull(file, ""));
            std::system(("rm -f '" + dir + "'*").c_str());
        }
        umount(dir.c_str());
        std::filesystem::remove(dir);
    }
}

// Where no tmpfs can be mounted (not root), a file-size limit makes writes
// fail the same way a full disk does. The limit is per file: 4 MiB for a
// movie; for images one smaller than a single image (900 kB of noise), so
// the first one already fails and must leave nothing behind.
TEST_F(DiskFullTest, FileSizeLimitEndsEachFormatWithAPlayableFile)
{
    const std::string dir = tempFolder();
    for (const char* ext : {"mp4", "flv", "png"}) {
        SCOPED_TRACE(ext);
        const std::string file = dir + "limited." + ext;
        const bool images = std::string(ext) == "png";
        // ulimit -f counts 1024-byte blocks.
        expectEndedByFullDisk(file, recordUntilFull(file, images ? "ulimit -f 512; " : "ulimit -f 4096; "),
                              images ? 0 : 1);
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace quillet::killtest
