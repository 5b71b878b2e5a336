// Cost of one frame tick of an MP4 recording (capture from a scripted
// 1920 x 1080 screen, cursor burn-in, output picture, H.264, MP4 write)
// against the named baseline BM_EncoderOnly: the H.264 wrapper coding the same
// full frame with nothing around it. The ratio tick / encoder shows what the
// session adds and what change knowledge saves.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "capture/synthetic/SyntheticScreen.h"
#include "engine/session/RecordingSession.h"
#include "engine/session/SessionClock.h"
#include "engine/session/SessionHost.h"
#include "video/H264Encoder.h"

namespace quillet {
namespace {

class BenchClock final : public SessionClock {
public:
    uint64_t nowMs() override { return now; }
    void sleepMs(uint32_t ms) override { now += ms; }
    uint64_t now = 1000000;
};

class QuietHost final : public SessionHost {
public:
    void postCommand(int) override {}
    void postNotice(int, int) override {}
    AudioInputListener* soundListener() override { return nullptr; }
    std::string messageText(const char* key, const char*) override { return key; }
    void showMessage(const char* key, const std::string&) override { std::fprintf(stderr, "message %s\n", key); }
    ConfirmAnswer confirm(const std::string&, const std::string&, ConfirmKind) override { return ConfirmAnswer::Yes; }
    void showCountdown() override {}
    void showStatus(const std::string&, int, int) override {}
    void stateChanged(int) override {}
    void playRecording(const std::string&, bool) override {}
};

enum Scene { Still = 0, Region = 1, Full = 2 };
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 15;

// Paints frame n of a scene: nothing, a 640 x 360 "video" region, or the
// whole screen.
void paint(SyntheticScreen& s, Scene scene, int n)
{
    const uint32_t colour = 0x102030u + uint32_t(n * 0x0A0B0C) % 0xE0E0E0u;
    if (scene == Region) {
        s.fill(Rect{200, 150, 840, 510}, colour);
        s.fill(Rect{200 + (n * 13) % 560, 150 + (n * 7) % 300, 280 + (n * 13) % 560, 210 + (n * 7) % 300},
               ~colour & 0xFFFFFF);
    } else if (scene == Full) {
        s.fill(Rect{0, 0, kWidth, kHeight}, colour);
        s.fill(Rect{(n * 37) % 1800, (n * 23) % 1000, (n * 37) % 1800 + 120, (n * 23) % 1000 + 80}, ~colour & 0xFFFFFF);
    }
}

void BM_SessionFrameTick(benchmark::State& state)
{
    const Scene scene = static_cast<Scene>(state.range(0));
    SyntheticScreen screen(kWidth, kHeight);
    screen.fill(Rect{0, 0, kWidth, kHeight}, 0x3A4A5A);
    BenchClock clock;
    QuietHost host;
    SessionEnvironment env;
    env.screen = &screen;
    env.clock = &clock;
    env.runVideoThread = false;
    RecordSettings rs;
    rs.framesPerSecond = kFps;
    rs.recordSound = false;
    char path[] = "/tmp/quillet-bench-XXXXXX.mp4";
    const int fd = mkstemps(path, 4);
    if (fd >= 0)
        close(fd);
    rs.outputFileName = path;
    RecordingSession session(host, env);
    if (!session.start(rs, "MP4", true, "/tmp/", 0)) {
        state.SkipWithError("the session did not start");
        return;
    }
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        paint(screen, scene, n++);
        clock.now += 1000 / kFps + 1;
        state.ResumeTiming();
        session.frameTick();
    }
    const auto c = session.counters();
    state.counters["produced"] = c.framesCounted ? double(c.framesEncoded) / c.framesCounted : 0.0;
    session.setExiting(true);
    session.stop();
    std::remove(path);
}
BENCHMARK(BM_SessionFrameTick)->Arg(Still)->Arg(Region)->Arg(Full)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The baseline: the wrapper coding full 1920 x 1088 frames of the same kinds.
void BM_EncoderOnly(benchmark::State& state)
{
    const Scene scene = static_cast<Scene>(state.range(0));
    const int h = 1088;
    H264Encoder enc;
    enc.set_input_mode(H264InputMode::Bgra32);
    enc.set_bitrate(kWidth, h, (kWidth + h) * 150 / 1120);
    if (!enc.open(kWidth, h, kFps)) {
        state.SkipWithError("x264 did not open");
        return;
    }
    std::vector<uint8_t> frame(size_t(kWidth) * h * 4, 0x5A);
    std::vector<uint8_t> out(H264Encoder::recommended_output_capacity(kWidth, h));
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const uint8_t v = uint8_t(n * 11);
        if (scene == Full)
            std::fill(frame.begin(), frame.end(), v);
        else if (scene == Region)
            for (int y = 150; y < 510; ++y)
                std::fill(frame.begin() + (size_t(y) * kWidth + 200) * 4, frame.begin() + (size_t(y) * kWidth + 840) * 4, v);
        ++n;
        state.ResumeTiming();
        benchmark::DoNotOptimize(enc.encode(frame.data(), frame.size(), out.data(), out.size(), uint32_t(n * 66)));
    }
}
BENCHMARK(BM_EncoderOnly)->Arg(Still)->Arg(Region)->Arg(Full)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace
} // namespace quillet

BENCHMARK_MAIN();
