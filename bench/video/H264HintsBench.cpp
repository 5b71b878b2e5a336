// What the recording's H.264 path saves by converting only the changed areas
// and handing unchanged macroblocks to x264 as skip hints, on a 1920x1088
// desktop-like picture (the frame of a 1920x1080 screen).
//   /0: a still desktop, only a cursor-sized area redrawn each picture
//   /1: a 300x200 box moving 24 px per picture over a text window
// Baseline: BM_WholePicture (whole conversion, x264 analyses everything).
// Compare BM_ChangedAreasWithHints against it in one run; BM_ChangedAreasOnly
// separates the conversion saving from the hint saving.
//   bin/bench_video_h264_hints
// Correctness (decoded pictures against the source) is in video_h264_tests.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "bench/video/DesktopFrame.h"
#include "video/H264Encoder.h"

namespace quillet {
namespace {

constexpr int32_t kW = 1920, kH = 1088;
constexpr int kFps = 25;
constexpr int kSequence = 16;
constexpr int32_t kBoxTop = bench::kDesktopBoxTop, kBoxHeight = bench::kDesktopBoxHeight,
                  kBoxWidth = bench::kDesktopBoxWidth, kBoxStep = 24;

int32_t box_left(int index, bool moving) { return 100 + (moving ? index * kBoxStep : 0); }

std::vector<uint8_t> screen_frame(int index, bool moving)
{
    return bench::desktop_frame(kW, kH, box_left(index, moving));
}

struct Scene {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<Rect> changed; // picture i's change since picture i - 1 (cyclic)
};

const Scene& scene(bool moving)
{
    static const Scene scenes[2] = {[] {
                                        Scene s;
                                        s.frames.push_back(screen_frame(0, false));
                                        // A cursor's old and new place, redrawn the same.
                                        s.changed.push_back(Rect{960, 540, 1000, 580});
                                        return s;
                                    }(),
                                    [] {
                                        Scene s;
                                        for (int i = 0; i < kSequence; ++i)
                                            s.frames.push_back(screen_frame(i, true));
                                        for (int i = 0; i < kSequence; ++i) {
                                            const int32_t a = box_left((i + kSequence - 1) % kSequence, true);
                                            const int32_t b = box_left(i, true);
                                            s.changed.push_back(Rect{std::min(a, b), kBoxTop,
                                                                     std::max(a, b) + kBoxWidth - 1,
                                                                     kBoxTop + kBoxHeight - 1});
                                        }
                                        return s;
                                    }()};
    return scenes[moving ? 1 : 0];
}

enum class Path { Whole, ChangedOnly, ChangedWithHints };

void run(benchmark::State& state, Path path)
{
    const Scene& s = scene(state.range(0) != 0);
    H264Encoder enc;
    enc.set_input_mode(H264InputMode::Bgra32);
    enc.use_macroblock_hints = path == Path::ChangedWithHints ? 1 : 0;
    if (enc.open(kW, kH, kFps) != 1) {
        state.SkipWithError("open failed");
        return;
    }
    std::vector<uint8_t> out(H264Encoder::recommended_output_capacity(kW, kH));
    size_t i = 0, bytes = 0, analysed = 0, pictures = 0;
    for (auto _ : state) {
        const size_t k = i % s.frames.size();
        const std::vector<uint8_t>& f = s.frames[k];
        const size_t n = path == Path::Whole
            ? enc.encode(f.data(), f.size(), out.data(), out.size(), 0)
            : enc.encode_changed(f.data(), f.size(), &s.changed[k], 1, out.data(), out.size(), 0);
        if (n == 0) {
            state.SkipWithError("encode produced nothing");
            return;
        }
        bytes += n;
        analysed += enc.last_changed_macroblocks;
        ++pictures;
        ++i;
    }
    state.counters["bytes_per_picture"] = static_cast<double>(bytes) / static_cast<double>(pictures);
    state.counters["analysed_macroblocks"] = static_cast<double>(analysed) / static_cast<double>(pictures);
}

void BM_WholePicture(benchmark::State& state) { run(state, Path::Whole); }
void BM_ChangedAreasOnly(benchmark::State& state) { run(state, Path::ChangedOnly); }
void BM_ChangedAreasWithHints(benchmark::State& state) { run(state, Path::ChangedWithHints); }

BENCHMARK(BM_WholePicture)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ChangedAreasOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ChangedAreasWithHints)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace
} // namespace quillet

BENCHMARK_MAIN();
