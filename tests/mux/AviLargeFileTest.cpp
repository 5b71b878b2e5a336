// A real AVI past the AVI 1.0 limit (skipped unless QUILLET_SLOW_TESTS=1):
// 2.2 GiB of frames with sound, read whole by ffprobe and by our reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mux/avi/AviReader.h"
#include "mux/avi/AviWriter.h"
#include "tests/mux/MuxTestMedia.h"

namespace quillet {
namespace {

TEST(AviLargeFile, TwoGigabytesStayWholeForPlayersAndOurReader)
{
    const char* slow = std::getenv("QUILLET_SLOW_TESTS");
    if (!slow || std::string(slow) != "1")
        GTEST_SKIP() << "slow: set QUILLET_SLOW_TESTS=1";
    const std::string path = muxtest::tempPath("large.avi");
    AviWriter w;
    AviVideoFormat f;
    f.width = 1920;
    f.height = 1088;
    f.sizeImage = 1920 * 1088 * 2;
    const uint8_t wfx[30] = {0x55, 0, 1, 0, 0x80, 0x3E, 0, 0, 0xB8, 0x0B, 0, 0, 1, 0, 16, 0, 12, 0};
    ASSERT_EQ(w.Open(path.c_str(), 15, f, wfx, sizeof wfx), 1);
    // 11000 frames of 200 KiB with a key frame every 150, a sound chunk every
    // fourth: about 2.2 GiB, three RIFFs.
    const int frames = 11000;
    std::vector<uint8_t> packet(200 * 1024, 0x5A);
    std::vector<uint8_t> sound(750, 0xFF);
    for (int i = 0; i < frames; ++i) {
        packet[0] = static_cast<uint8_t>(i);
        ASSERT_EQ(w.WriteVideo(packet.data(), packet.size(), 1, i % 150 == 0), 1) << i;
        if (i % 4 == 0) {
            ASSERT_EQ(w.WriteAudio(sound.data(), sound.size()), 1);
        }
    }
    EXPECT_GE(w.RiffCount(), 3);
    ASSERT_EQ(w.Close(), 1);

    EXPECT_EQ(muxtest::probeEntry(path, "v", "stream", "nb_frames"), std::to_string(frames));
    std::string flags;
    muxtest::runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" + path +
                            "' | sort | uniq -c",
                        &flags, false);
    EXPECT_NE(flags.find("74 K_"), std::string::npos) << flags;    // ceil(11000 / 150)
    EXPECT_NE(flags.find("10926 __"), std::string::npos) << flags;
    AviReader r;
    ASSERT_EQ(r.open(path), 1);
    AviChunk c;
    int video = 0;
    while (r.next(c))
        video += c.stream == 0;
    EXPECT_EQ(video, frames);
    EXPECT_FALSE(r.damaged()) << r.error();
    std::remove(path.c_str());
}

} // namespace
} // namespace quillet
