#include <gtest/gtest.h>

#include <vector>

#include "engine/session/AudioPacing.h"

namespace quillet {
namespace {

TEST(AudioPacing, PullBackOnlyBeyondHalfASecond)
{
    // Video clock says 10 s elapsed; sound has 9.4 s: pulled back exactly.
    EXPECT_EQ(pullBackStartTick(20000, 10000, 9400), 20000 - 9400);
    // 400 ms behind: unchanged.
    EXPECT_EQ(pullBackStartTick(20000, 10000, 9600), 10000);
    // 500 ms exactly: unchanged.
    EXPECT_EQ(pullBackStartTick(20000, 10000, 9500), 10000);
}

TEST(AudioPacing, MillisecondsFromBytesDoNotWrapAfterHours)
{
    // 32000 Hz stereo: 128000 bytes/s. Ten hours is more than 2^32 bytes.
    const uint64_t tenHours = 128000ull * 36000;
    EXPECT_EQ(audioMsForBytes(tenHours, 128000), 36000000u);
    EXPECT_EQ(audioMsForBytes(4096, 128000), 32u);   // one stereo AAC frame
    EXPECT_EQ(audioMsForBytes(2048, 64000), 32u);    // one mono AAC frame
    EXPECT_EQ(audioMsForBytes(100, 0), 0u);          // no rate: no time
    EXPECT_EQ(mulDivU64(1, 3, 2), 2u);               // halves round up
}

std::vector<uint8_t> unit(size_t rawLength, uint8_t fill)
{
    std::vector<uint8_t> u;
    const size_t l = rawLength + 7;
    u.push_back(uint8_t(l));
    u.push_back(uint8_t(l >> 8));
    u.insert(u.end(), 7, 0xFF); // header
    u.insert(u.end(), rawLength, fill);
    return u;
}

TEST(AudioPacing, AacWalkHandsOutFramesWithoutHeaders)
{
    std::vector<uint8_t> buf;
    for (uint8_t i = 1; i <= 3; ++i) {
        auto u = unit(10u * i, i);
        buf.insert(buf.end(), u.begin(), u.end());
    }
    std::vector<std::pair<size_t, uint8_t>> seen;
    const int n = forEachAacUnit(buf.data(), buf.size(), [&](const uint8_t* raw, size_t len) {
        seen.emplace_back(len, raw[0]);
        for (size_t i = 0; i < len; ++i)
            ASSERT_EQ(raw[i], raw[0]);
    });
    EXPECT_EQ(n, 3);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(size_t(10), uint8_t(1)));
    EXPECT_EQ(seen[2], std::make_pair(size_t(30), uint8_t(3)));
}

TEST(AudioPacing, AacWalkStopsAtACorruptUnit)
{
    auto good = unit(5, 1);
    std::vector<uint8_t> buf = good;
    buf.push_back(200); // claims 200 bytes, only 3 follow
    buf.push_back(0);
    buf.insert(buf.end(), 3, 0);
    int calls = 0;
    EXPECT_EQ(forEachAacUnit(buf.data(), buf.size(), [&](const uint8_t*, size_t) { ++calls; }), 1);
    EXPECT_EQ(calls, 1);
    // A length shorter than the ADTS header is not a frame.
    const uint8_t tiny[] = {3, 0, 1, 2, 3};
    EXPECT_EQ(forEachAacUnit(tiny, sizeof tiny, [&](const uint8_t*, size_t) { ++calls; }), 0);
    // A lone length byte at the end is ignored.
    EXPECT_EQ(forEachAacUnit(tiny, 1, [&](const uint8_t*, size_t) { ++calls; }), 0);
}

TEST(AudioPacing, LevelTakesEverySecondSample)
{
    // Samples: 100, 30000 (odd index, ignored), -5000, 200.
    const int16_t s[] = {100, 30000, -5000, 200};
    EXPECT_EQ(soundLevel(reinterpret_cast<const uint8_t*>(s), sizeof s), 100);
    const int16_t neg[] = {-100, 5, -3, 7};
    EXPECT_EQ(soundLevel(reinterpret_cast<const uint8_t*>(neg), sizeof neg), 0);
    EXPECT_EQ(soundLevel(nullptr, 10), 0);
    // An odd byte count never reads past the end.
    EXPECT_EQ(soundLevel(reinterpret_cast<const uint8_t*>(s), 1), 0);
}

TEST(LoopbackPacer, DeliversTheByteRateOverTime)
{
    // 32000 Hz stereo, 5120-frame chunks (160 ms, 20480 bytes).
    LoopbackPacer p(5120, 32000, 128000, 4, 0);
    EXPECT_EQ(p.periodMs(), 160u);
    int chunks = 0;
    for (uint64_t t = 0; t <= 10000; t += 10)
        if (p.poll(t))
            ++chunks;
    // 10 s hold 62.5 chunks of sound: the pacer stays within one chunk.
    EXPECT_GE(chunks, 62);
    EXPECT_LE(chunks, 63);
}

TEST(LoopbackPacer, AStallIsNotMadeUpWithABurst)
{
    LoopbackPacer p(5120, 32000, 128000, 4, 0);
    for (uint64_t t = 0; t <= 1000; t += 10)
        p.poll(t);
    const uint64_t before = p.deliveredBytes();
    // Five seconds without a wake-up, then polling again.
    int burst = 0;
    for (uint64_t t = 6000; t <= 6160; t += 10)
        if (p.poll(t))
            ++burst;
    EXPECT_LE(burst, 2);
    EXPECT_LE(p.deliveredBytes() - before, 2u * p.chunkBytes());
}

TEST(LoopbackPacer, ShortChunksRunAtTheMinimumPeriod)
{
    LoopbackPacer p(100, 32000, 64000, 2, 0); // 3 ms of sound per chunk
    EXPECT_EQ(p.periodMs(), 40u);
    EXPECT_FALSE(p.poll(39));
    EXPECT_EQ(p.sleepAfterMs(), 10u);
    EXPECT_TRUE(p.poll(40));
    EXPECT_EQ(p.sleepAfterMs(), 20u); // half the next wait
}

} // namespace
} // namespace quillet
