// Reading a 1920 x 1080 screen's AVI ("QVS2") recording back, per frame: the player
// (file, container, screen-codec decoder, cursor) against the named baseline
// BM_DecoderOnly, the decoder alone on the same frames already in memory; and
// the conversion to MP4. "realtime" is how many times faster than a 15 fps
// recording plays.
//   bin/bench_engine_playback --benchmark_min_time=2
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/SessionLock.h"
#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "capture/synthetic/SyntheticScreen.h"
#include "engine/outputs/AviOutput.h"
#include "engine/playback/RecordingConverter.h"
#include "engine/playback/RecordingPlayer.h"
#include "engine/playback/RecordingSource.h"

namespace quillet {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 15;
constexpr int kFrames = 45;

// A desktop: a window that moves, text that scrolls, a 640 x 360 picture of
// moving colour waves, the cursor wandering; a key frame every 15 frames.
void paint(SyntheticScreen& s, int t)
{
    s.fill(Rect{0, 0, kWidth, kHeight}, 0x3A6EA5);
    const int32_t wx = 100 + 12 * t;
    s.fillUnreported(Rect{wx, 100, wx + 500, 420}, 0xECE9D8);
    s.fillUnreported(Rect{wx, 100, wx + 500, 124}, 0x0A246A);
    for (int l = 0; l < 60; ++l) {
        const int32_t y = 600 + 7 * l - (3 * t) % 7;
        for (int w = 0; w < 12; ++w)
            s.fillUnreported(Rect{60 + 50 * w, y, 60 + 50 * w + 20 + (l * 7 + w * 3 + t / 3) % 25, y + 3}, 0x101010);
    }
    for (int32_t y = 0; y < 360; ++y)
        for (int32_t x = 0; x < 640; ++x) {
            auto wave = [](double v) { return static_cast<uint32_t>(128 + 100 * std::sin(v)); };
            const uint32_t rgb = wave((x + 5 * t) / 9.0) << 16 | wave((y + 3 * t) / 13.0) << 8 | wave((x + y) / 17.0);
            s.fillUnreported(Rect{1200 + x, 600 + y, 1201 + x, 601 + y}, rgb);
        }
    s.setPointer(300 + 17 * t, 300 + 9 * t);
}

const std::string& recording()
{
    static const std::string path = [] {
        const std::string p = "/tmp/quillet-bench-playback-" + std::to_string(getpid()) + ".avi";
        SyntheticScreen screen(kWidth, kHeight, 32);
        CursorImage arrow;
        arrow.serial = 1;
        arrow.width = arrow.height = 16;
        arrow.argb.assign(256, 0xFF000000u);
        screen.setCursor(arrow);
        FrameGrabber grabber(screen);
        grabber.init(Rect{}, FrameGrabber::kFlagLayeredWindows, true);
        CursorOverlay cursor(screen);
        AviOutput out;
        OutputOpenParams params;
        params.fileName = p;
        params.width = grabber.width();
        params.height = grabber.height();
        params.bitsPerPixel = 32;
        params.framesPerSecond = kFps;
        const char* key = nullptr;
        out.open(params, &key);
        SessionLock lock;
        for (int t = 0; t < kFrames; ++t) {
            paint(screen, t);
            grabber.capture(false);
            VideoFrameJob job;
            job.grabber = &grabber;
            job.cursor = &cursor;
            job.cursorSerial = 1;
            job.lock = &lock;
            job.keyFrame = t % 15 == 0;
            out.videoFrame(job);
        }
        out.close(kFrames, kFps);
        std::atexit([] { std::remove(recording().c_str()); });
        return p;
    }();
    return path;
}

void report(benchmark::State& state, int64_t frames)
{
    state.SetItemsProcessed(frames);
    state.counters["realtime"] =
        benchmark::Counter(double(frames) / kFps, benchmark::Counter::kIsRate); // recorded seconds per second
}

void BM_DecoderOnly(benchmark::State& state)
{
    // The frames' packets in memory, taken apart once.
    RecordingSource src;
    src.open(recording());
    std::vector<SourceFrame> frames;
    for (int item; (item = src.next()) != RecordingSource::End;)
        if (item == RecordingSource::Frame)
            frames.push_back(src.frame());
    ScreenDecoder decoder;
    decoder.init(src.width(), src.height());
    int64_t n = 0;
    int failures = 0;
    for (auto _ : state) {
        for (const SourceFrame& f : frames) {
            if (f.key)
                decoder.reset();
            if (!f.sideData.empty())
                failures += !decoder.decode_side_data(f.sideData.data(), f.sideData.size());
            for (const SourceRegion& r : f.regions)
                failures += !decoder.decode_region(r.rect, f.data(r), r.size);
        }
        n += static_cast<int64_t>(frames.size());
    }
    if (failures)
        state.SkipWithError("the recording does not decode");
    report(state, n);
}
BENCHMARK(BM_DecoderOnly)->Unit(benchmark::kMillisecond);

void BM_PlayerFromFile(benchmark::State& state)
{
    int64_t n = 0;
    for (auto _ : state) {
        RecordingPlayer player;
        player.open(recording());
        PlayerFrame f;
        while (player.next(f))
            ++n;
    }
    report(state, n);
}
BENCHMARK(BM_PlayerFromFile)->Unit(benchmark::kMillisecond);

// Opening alone: the walk that builds the index, and the decoder's set-up.
void BM_PlayerOpen(benchmark::State& state)
{
    for (auto _ : state) {
        RecordingPlayer player;
        benchmark::DoNotOptimize(player.open(recording()));
    }
}
BENCHMARK(BM_PlayerOpen)->Unit(benchmark::kMillisecond);

void BM_ConvertToMp4(benchmark::State& state)
{
    const std::string out = recording() + ".mp4";
    int64_t n = 0;
    for (auto _ : state) {
        RecordingConverter c;
        ConvertReport r;
        std::string error;
        c.toMp4(recording(), out, {}, &r, &error);
        n += r.frames;
    }
    std::remove(out.c_str());
    report(state, n);
}
BENCHMARK(BM_ConvertToMp4)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quillet

BENCHMARK_MAIN();
