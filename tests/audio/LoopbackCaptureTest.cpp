#include "audio/loopback/LoopbackCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "engine/AudioFormats.h"

namespace quillet {
namespace {

// A device whose packets the test scripts; it records what the capture did.
struct FakeState {
    WaveFormatRecord format;
    bool startOk = true;
    bool broken = false;
    std::deque<std::vector<uint8_t>> packets; // an empty vector with gap=true is a gap
    std::deque<bool> gaps;
    int starts = 0, stops = 0, takes = 0, releases = 0;
    bool holding = false;
    bool running = false;
};

class FakeDevice : public LoopbackDevice {
public:
    explicit FakeDevice(FakeState& s) : s_(s) {}
    int start(WaveFormatRecord& f) override
    {
        ++s_.starts;
        if (!s_.startOk)
            return 0;
        EXPECT_FALSE(s_.running) << "a capture was started over a running one";
        s_.running = true;
        f = s_.format;
        return 1;
    }
    int nextPacketSize(uint32_t& bytes) override
    {
        bytes = 0;
        for (const auto& p : s_.packets)
            bytes += static_cast<uint32_t>(p.size());
        return s_.broken ? 0 : 1;
    }
    int takePacket(const uint8_t*& data, uint32_t& bytes) override
    {
        EXPECT_FALSE(s_.holding);
        if (s_.packets.empty())
            return 0;
        ++s_.takes;
        s_.holding = true;
        data = s_.gaps.front() ? nullptr : s_.packets.front().data();
        bytes = static_cast<uint32_t>(s_.packets.front().size());
        return 1;
    }
    void releasePacket() override
    {
        EXPECT_TRUE(s_.holding);
        ++s_.releases;
        s_.holding = false;
        s_.packets.pop_front();
        s_.gaps.pop_front();
    }
    void stop() override
    {
        ++s_.stops;
        s_.running = false;
    }
    std::string lastError() const override { return s_.startOk ? "" : "fake device refused"; }

private:
    FakeState& s_;
};

WaveFormatRecord stereo48k()
{
    WaveFormatRecord f;
    f.channels = 2;
    f.sampleRate = 48000;
    f.bitsPerSample = 16;
    f.blockAlign = 4;
    f.avgBytesPerSecond = 192000;
    return f;
}

std::vector<uint8_t> requestRecord(uint16_t channels, uint32_t rate)
{
    CaptureAudioFormat c;
    c.channels = channels;
    c.sampleRate = rate;
    c.blockAlign = static_cast<uint16_t>(channels * 2);
    c.avgBytesPerSecond = rate * c.blockAlign;
    std::vector<uint8_t> rec(WaveFormatRecord::kSize);
    WaveFormatRecord::fromCapture(c).write(rec.data());
    return rec;
}

// Stereo frames whose left sample is its index and right is minus it.
std::vector<uint8_t> rampPacket(int first, int frames)
{
    std::vector<int16_t> s(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = static_cast<int16_t>(first + i);
        s[2 * i + 1] = static_cast<int16_t>(first + i);
    }
    std::vector<uint8_t> b(s.size() * 2);
    std::memcpy(b.data(), s.data(), b.size());
    return b;
}

int16_t getFirstSample(const uint8_t* p) { return static_cast<int16_t>(p[0] | p[1] << 8); }

struct Rig {
    FakeState state;
    LoopbackCapture capture{std::make_unique<FakeDevice>(state)};
    Rig() { state.format = stereo48k(); }
    void add(std::vector<uint8_t> p, bool gap = false)
    {
        state.packets.push_back(std::move(p));
        state.gaps.push_back(gap);
    }
};

TEST(LoopbackCapture, StartReportsTheDeviceFormatInTheCallersRecord)
{
    Rig rig;
    std::vector<uint8_t> rec = requestRecord(1, 32000);
    ASSERT_EQ(rig.capture.call(rec.data(), kLookbackStart), 1);
    const WaveFormatRecord got = WaveFormatRecord::read(rec.data());
    EXPECT_EQ(got.formatTag, 1);
    EXPECT_EQ(got.channels, 2);
    EXPECT_EQ(got.sampleRate, 48000u);
    EXPECT_EQ(got.bitsPerSample, 16);
    EXPECT_EQ(got.blockAlign, 4);
    EXPECT_EQ(got.avgBytesPerSecond, 192000u);
    EXPECT_TRUE(rig.capture.capturing());
    EXPECT_EQ(rig.capture.call(nullptr, kLookbackStop), 0);
    EXPECT_FALSE(rig.capture.capturing());
    EXPECT_EQ(rig.state.stops, 1);
}

TEST(LoopbackCapture, StartFailsOnBadRequestsAndRefusingDevices)
{
    Rig rig;
    EXPECT_EQ(rig.capture.call(nullptr, -1), 0);
    std::vector<uint8_t> rec = requestRecord(6, 32000);
    EXPECT_EQ(rig.capture.call(rec.data(), -1), 0);
    rec = requestRecord(2, 0);
    EXPECT_EQ(rig.capture.call(rec.data(), -1), 0);
    EXPECT_EQ(rig.state.starts, 0) << "bad requests must not reach the device";

    rig.state.startOk = false;
    rec = requestRecord(2, 32000);
    const std::vector<uint8_t> before = rec;
    EXPECT_EQ(rig.capture.call(rec.data(), -1), 0);
    EXPECT_EQ(rec, before) << "a failed start leaves the record alone";
    EXPECT_FALSE(rig.capture.capturing());
    EXPECT_FALSE(rig.capture.lastError().empty());

    std::vector<uint8_t> out(400, 0xAB);
    EXPECT_EQ(rig.capture.call(out.data(), 400), 0);
}

TEST(LoopbackCapture, SmallCountsDoNothingAndNullBuffersAreSafe)
{
    Rig rig;
    std::vector<uint8_t> rec = requestRecord(2, 48000);
    ASSERT_EQ(rig.capture.call(rec.data(), -1), 1);
    rig.add(rampPacket(0, 480));
    std::vector<uint8_t> out(200, 0xAB);
    EXPECT_EQ(rig.capture.call(out.data(), 50), 0);
    EXPECT_EQ(rig.capture.call(out.data(), 100), 0);
    EXPECT_EQ(out, std::vector<uint8_t>(200, 0xAB));
    EXPECT_EQ(rig.state.takes, 0);
    EXPECT_EQ(rig.capture.call(nullptr, 4000), 0);
    EXPECT_EQ(rig.capture.call(out.data(), 101), 100); // whole stereo frames only
}

TEST(LoopbackCapture, FetchSpansPacketsAndKeepsThePickPatternAcrossThem)
{
    Rig rig;
    std::vector<uint8_t> rec = requestRecord(1, 32000);
    ASSERT_EQ(rig.capture.call(rec.data(), -1), 1);
    rig.add(rampPacket(0, 10000));
    std::vector<uint8_t> out(10240);
    ASSERT_EQ(rig.capture.call(out.data(), 10240), 10240);
    EXPECT_EQ(rig.state.releases, 0) << "the packet is not used up yet";

    // 5120 outputs took frames 0..7679; the next fetch goes on at 7680.
    std::vector<int16_t> s(4);
    ASSERT_EQ(rig.capture.call(out.data(), 200), 200);
    std::memcpy(s.data(), out.data(), 8);
    EXPECT_EQ(s, (std::vector<int16_t>{7680, 7681, 7683, 7684}));

    // The rest of the first packet and all of a second one in one fetch.
    rig.add(rampPacket(20000, 480));
    const int32_t n = rig.capture.call(out.data(), 10240);
    EXPECT_EQ(rig.state.releases, 2);
    // 10000 - 7680 - 150 = 2170 frames left give 1447 outputs, the last one
    // half a frame before the packet's end; the second packet's 480 frames
    // then give 320, picking on from that half frame.
    EXPECT_EQ(n, (1447 + 320) * 2);
    std::memcpy(s.data(), out.data() + 1447 * 2, 8);
    EXPECT_EQ(s, (std::vector<int16_t>{20000, 20002, 20003, 20005}));
    EXPECT_EQ(rig.capture.call(out.data(), 10240), 0) << "nothing left";
}

TEST(LoopbackCapture, CountsThatAreNotWholeFramesEndInsteadOfSpinning)
{
    Rig rig;
    std::vector<uint8_t> rec = requestRecord(1, 48000);
    ASSERT_EQ(rig.capture.call(rec.data(), -1), 1);
    rig.add(rampPacket(0, 4800));
    std::vector<uint8_t> out(103);
    EXPECT_EQ(rig.capture.call(out.data(), 103), 102);
}

TEST(LoopbackCapture, GapsBecomeSilenceAndSkippedPacketsAreReleased)
{
    Rig rig;
    std::vector<uint8_t> rec = requestRecord(2, 48000);
    ASSERT_EQ(rig.capture.call(rec.data(), -1), 1);
    rig.add(std::vector<uint8_t>(40), true);
    std::vector<uint8_t> out(400, 0xAB);
    EXPECT_EQ(rig.capture.call(out.data(), 400), 40);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 40), std::vector<uint8_t>(40, 0));
    EXPECT_EQ(rig.state.releases, 1);
    EXPECT_EQ(rig.capture.call(nullptr, 0), 0);

    // A device with six channels: its packets are dropped, nothing is written.
    rig.state.format.channels = 6;
    rig.state.format.blockAlign = 12;
    ASSERT_EQ(rig.capture.call(rec.data(), -1), 1);
    rig.add(std::vector<uint8_t>(1200, 7));
    rig.add(std::vector<uint8_t>(1200, 7));
    EXPECT_EQ(rig.capture.call(out.data(), 400), 0);
    EXPECT_EQ(rig.state.releases, 3);
    EXPECT_TRUE(rig.state.packets.empty());
}

TEST(LoopbackCapture, SecondStartReplacesTheRunningCaptureAndStopReleasesTheHeldPacket)
{
    Rig rig;
    std::vector<uint8_t> rec = requestRecord(2, 48000);
    ASSERT_EQ(rig.capture.call(rec.data(), -1), 1);
    rig.add(rampPacket(0, 480));
    std::vector<uint8_t> out(400);
    ASSERT_EQ(rig.capture.call(out.data(), 400), 400);
    ASSERT_TRUE(rig.state.holding);
    rec = requestRecord(2, 48000);
    ASSERT_EQ(rig.capture.call(rec.data(), -1), 1); // FakeDevice fails the test on a double start
    EXPECT_EQ(rig.state.stops, 1);
    EXPECT_FALSE(rig.state.holding);
    EXPECT_EQ(rig.capture.call(nullptr, 0), 0);
    EXPECT_EQ(rig.state.stops, 2);
    EXPECT_EQ(rig.capture.call(nullptr, 0), 0) << "stopping twice is harmless";
    EXPECT_EQ(rig.state.stops, 2);
}

TEST(LoopbackCapture, BrokenDeviceYieldsZeroSoTheCallerWritesSilence)
{
    Rig rig;
    std::vector<uint8_t> rec = requestRecord(2, 32000);
    ASSERT_EQ(rig.capture.call(rec.data(), -1), 1);
    rig.add(rampPacket(0, 480));
    rig.state.broken = true;
    std::vector<uint8_t> out(4000);
    EXPECT_EQ(rig.capture.call(out.data(), 4000), 0);
}

// The device hands out sound in packets of any size (a sound server's packets
// range from one frame to thousands). However they are cut, N seconds of the
// device's sound must become N seconds at the requested rate, and output frame
// K must be source frame floor(K * deviceRate / requestedRate) counted from
// the start of the capture, not from the start of each packet or fetch.
struct RateCase {
    uint16_t deviceChannels;
    uint32_t deviceRate;
    uint16_t channels;
    uint32_t rate;
};

class LoopbackCaptureRate : public ::testing::TestWithParam<RateCase> {};

TEST_P(LoopbackCaptureRate, TenSecondsInAnyPacketsGiveTenSecondsWithTheRightFrames)
{
    const RateCase rc = GetParam();
    Rig rig;
    rig.state.format.channels = rc.deviceChannels;
    rig.state.format.sampleRate = rc.deviceRate;
    rig.state.format.blockAlign = static_cast<uint16_t>(2 * rc.deviceChannels);
    rig.state.format.avgBytesPerSecond = rc.deviceRate * 2 * rc.deviceChannels;
    std::vector<uint8_t> rec = requestRecord(rc.channels, rc.rate);
    ASSERT_EQ(rig.capture.call(rec.data(), -1), 1);

    // Every sample of source frame i holds i (wrapping at 16 bits), so each
    // output frame tells which source frame it came from.
    const uint64_t seconds = 10;
    const uint64_t sourceFrames = seconds * rc.deviceRate;
    const size_t fetchBytes = 20480; // one MP4 sound buffer of stereo (5 AAC frames)
    const size_t outFrameBytes = 2u * rc.channels;
    uint32_t lcg = 12345;
    uint64_t next = 0;
    std::vector<uint8_t> out(fetchBytes);
    std::vector<int16_t> got;
    while (next < sourceFrames || !rig.state.packets.empty()) {
        // A few packets of 1 to 700 frames arrive between fetches.
        for (int p = 0; p < 4 && next < sourceFrames; ++p) {
            lcg = lcg * 1103515245u + 12345u;
            const uint64_t frames = std::min<uint64_t>(1 + (lcg >> 8) % 700, sourceFrames - next);
            std::vector<int16_t> s(frames * rc.deviceChannels);
            for (uint64_t i = 0; i < frames; ++i)
                for (uint16_t ch = 0; ch < rc.deviceChannels; ++ch)
                    s[i * rc.deviceChannels + ch] = static_cast<int16_t>(next + i);
            std::vector<uint8_t> b(s.size() * 2);
            std::memcpy(b.data(), s.data(), b.size());
            rig.add(std::move(b));
            next += frames;
        }
        const int32_t n = rig.capture.call(out.data(), static_cast<int32_t>(fetchBytes));
        ASSERT_GE(n, 0);
        ASSERT_EQ(static_cast<size_t>(n) % outFrameBytes, 0u);
        for (size_t k = 0; k < static_cast<size_t>(n); k += outFrameBytes)
            got.push_back(static_cast<int16_t>(getFirstSample(out.data() + k)));
        if (n == 0 && next >= sourceFrames)
            break;
    }
    // Exact conversion over time: the frames whose pick lies inside the source.
    const uint64_t expected = (sourceFrames * rc.rate + rc.deviceRate - 1) / rc.deviceRate;
    EXPECT_EQ(got.size(), expected) << "sound drifts by " << (static_cast<double>(got.size()) - expected) << " frames";
    size_t wrong = 0;
    for (size_t k = 0; k < got.size(); ++k)
        if (got[k] != static_cast<int16_t>(k * rc.deviceRate / rc.rate) && ++wrong == 1)
            ADD_FAILURE() << "output frame " << k << " took source frame " << got[k];
    EXPECT_EQ(wrong, 0u);
}

void PrintTo(const RateCase& c, std::ostream* os)
{
    *os << c.deviceChannels << "ch " << c.deviceRate << " Hz -> " << c.channels << "ch " << c.rate << " Hz";
}

INSTANTIATE_TEST_SUITE_P(Rates, LoopbackCaptureRate,
                         ::testing::Values(RateCase{2, 48000, 2, 32000}, RateCase{2, 48000, 1, 32000},
                                           RateCase{1, 44100, 2, 32000}, RateCase{2, 16000, 2, 32000},
                                           RateCase{2, 48000, 2, 48000}, RateCase{2, 48000, 1, 8000},
                                           RateCase{1, 8000, 2, 48000}));

} // namespace
} // namespace quillet
