// Long runs, skipped unless QUILLET_SLOW_TESTS=1: many more crash cut points,
// and one real split of an MP4 recording that grows past 4 GiB - 20 MiB.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "mux/mp4/Mp4Mux.h"
#include "tests/mux/MuxCrashCheck.h"

using namespace quillet;
using namespace quillet::muxtest;

namespace {

bool slowTestsWanted()
{
    const char* v = std::getenv("QUILLET_SLOW_TESTS");
    return v && std::string(v) == "1";
}

TEST(MuxSlowTest, ManyCrashCutPoints)
{
    if (!slowTestsWanted())
        GTEST_SKIP() << "slow: set QUILLET_SLOW_TESTS=1";
    crashAndCheck("mp4", 100, 99, 3000);
    crashAndCheck("mp4-every", 100, 88, 1500);
    crashAndCheck("flv", 100, 77, 3000);
}

// Pictures padded with a filler-data NAL unit (which decoders skip) to 256 KiB,
// so that about 16 000 real pictures fill 4 GiB while a key-frame interval (25
// pictures, 6.25 MiB) still fits between the two split thresholds (8 MiB).
TEST(MuxSlowTest, RealRecordingSplitsBefore4GiBAndBothFilesPlay)
{
    if (!slowTestsWanted())
        GTEST_SKIP() << "slow: set QUILLET_SLOW_TESTS=1";
    const VideoClip& v = testVideo();
    const AudioClip& a = testAudioStereo();
    const std::string path = tempPath("big.mp4");
    const std::string next = tempPath("big_1.mp4");
    constexpr size_t kPadded = 256 << 10;
    CMp4mux mux;
    ASSERT_EQ(1, mux.Open(path.c_str(), v.width, v.height, 25, a.sample_rate, a.channels));
    ASSERT_EQ(1, mux.WriteVideoHead(v.sps.data(), int(v.sps.size()), v.pps.data(), int(v.pps.size())));
    Bytes sample;
    sample.reserve(kPadded);
    uint32_t j = 0, pictures = 0, first_file_pictures = 0;
    for (uint32_t i = 0; mux.FileName() == path || pictures < first_file_pictures + 100; ++i) {
        const uint32_t t = i * 40;
        for (; j * 32 <= t; ++j) {
            const Bytes& f = a.raw[j % a.raw.size()];
            ASSERT_EQ(1, mux.WriteAudio(reinterpret_cast<const char*>(f.data()), int(f.size()), 32));
        }
        const size_t k = i % v.samples.size();
        sample = v.samples[k];
        const size_t filler = kPadded - sample.size() - 4;
        const uint8_t len[4] = {uint8_t(filler >> 24), uint8_t(filler >> 16), uint8_t(filler >> 8), uint8_t(filler)};
        sample.insert(sample.end(), len, len + 4);
        sample.push_back(0x0C); // filler data NAL unit
        sample.insert(sample.end(), filler - 2, 0xFF);
        sample.push_back(0x80); // stop bit
        const bool before = mux.FileName() == path;
        ASSERT_EQ(1, mux.WriteVideo(reinterpret_cast<const char*>(sample.data()), int(sample.size()), 40, v.keys[k]));
        ++pictures;
        if (before && mux.FileName() == path)
            first_file_pictures = pictures;
        if (v.keys[k] && t > 10000 && mux.FileName() == path && i % 250 == 0) {
            ASSERT_EQ(1, mux.SaveData());
        }
    }
    ASSERT_EQ(1, mux.Close());
    const uint64_t size = std::filesystem::file_size(path);
    EXPECT_GT(size, uint64_t(CMp4mux::kSplitAtKeyFrame));
    EXPECT_LT(size, uint64_t(1) << 32);
    EXPECT_EQ(0u, first_file_pictures % 25); // the continuation starts at an IDR picture
    const DecodeReport first = decodeAndList(path);
    const DecodeReport second = decodeAndList(next);
    EXPECT_EQ("", first.errors);
    EXPECT_EQ("", second.errors);
    EXPECT_EQ(first_file_pictures, first.video.size());
    EXPECT_EQ(pictures - first_file_pictures, second.video.size());
    EXPECT_EQ(j, first.audio.size() + second.audio.size());
    std::remove(path.c_str());
    std::remove(next.c_str());
}

} // namespace
