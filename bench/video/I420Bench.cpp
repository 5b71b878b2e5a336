// I420 conversion of 1920x1080 frames against copying the same source bytes
// with memcpy (the baseline: the conversion reads every byte once too).
// Every path's output is compared with the scalar reference before timing.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "video/ColorConvert.h"
#include "video/ColorConvertKernels.h"

namespace quillet {
namespace {

constexpr int32_t kW = 1920, kH = 1080;

std::vector<uint8_t> random_frame(int bpp)
{
    std::vector<uint8_t> f(static_cast<size_t>(kW) * kH * bpp);
    std::mt19937 rng(42);
    for (auto& b : f)
        b = static_cast<uint8_t>(rng());
    return f;
}

void convert_with(const ColorConvertKernels& k, int bpp, const uint8_t* src, I420Picture& pic)
{
    const RowPairFn fn = bpp == 3 ? k.bgr24_row_pair : k.bgra32_row_pair;
    const size_t stride = static_cast<size_t>(kW) * bpp;
    for (int32_t r = 0; r < kH; r += 2) {
        // Bottom-up source, as captured.
        const uint8_t* s0 = src + (kH - 1 - r) * stride;
        fn(s0, s0 - stride, kW, pic.y() + r * kW, pic.y() + (r + 1) * kW, pic.u() + r / 2 * (kW / 2),
           pic.v() + r / 2 * (kW / 2));
    }
}

void BM_MemcpyBgra32(benchmark::State& state)
{
    const std::vector<uint8_t> src = random_frame(4);
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_MemcpyBgra32)->Unit(benchmark::kMicrosecond);

void BM_Convert(benchmark::State& state, SimdLevel level, int bpp)
{
    const ColorConvertKernels* k = color_convert_kernels(level);
    if (k == nullptr) {
        state.SkipWithError("path not available on this CPU");
        return;
    }
    const std::vector<uint8_t> src = random_frame(bpp);
    I420Picture want, got;
    want.allocate(kW, kH);
    got.allocate(kW, kH);
    convert_with(scalar_color_convert_kernels(), bpp, src.data(), want);
    convert_with(*k, bpp, src.data(), got);
    if (std::memcmp(want.data(), got.data(), want.size()) != 0) {
        state.SkipWithError("output differs from the scalar reference");
        return;
    }
    for (auto _ : state) {
        convert_with(*k, bpp, src.data(), got);
        benchmark::DoNotOptimize(got.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.size()));
}
BENCHMARK_CAPTURE(BM_Convert, Bgra32_Scalar, SimdLevel::Scalar, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Convert, Bgra32_Sse2, SimdLevel::Sse2, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Convert, Bgra32_Avx2, SimdLevel::Avx2, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Convert, Bgr24_Scalar, SimdLevel::Scalar, 3)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Convert, Bgr24_Avx2, SimdLevel::Avx2, 3)->Unit(benchmark::kMicrosecond);

// The public entry point with the path chosen at start-up (what the encoder uses).
void BM_ConvertToI420Active(benchmark::State& state)
{
    const std::vector<uint8_t> src = random_frame(4);
    I420Picture pic;
    pic.allocate(kW, kH);
    state.SetLabel(color_convert_path_name());
    for (auto _ : state) {
        convert_to_i420(src.data(), PixelLayout::Bgra32, kW, kH, true, pic.planes());
        benchmark::DoNotOptimize(pic.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_ConvertToI420Active)->Unit(benchmark::kMicrosecond);

void BM_ExpandRgb555(benchmark::State& state, SimdLevel level)
{
    const ColorConvertKernels* k = color_convert_kernels(level);
    if (k == nullptr) {
        state.SkipWithError("path not available on this CPU");
        return;
    }
    const std::vector<uint8_t> src = random_frame(2);
    std::vector<uint8_t> want(static_cast<size_t>(kW) * kH * 4), got(want.size());
    scalar_color_convert_kernels().rgb555_to_bgra32(src.data(), want.data(), want.size() / 4);
    k->rgb555_to_bgra32(src.data(), got.data(), got.size() / 4);
    if (want != got) {
        state.SkipWithError("output differs from the scalar reference");
        return;
    }
    for (auto _ : state) {
        k->rgb555_to_bgra32(src.data(), got.data(), got.size() / 4);
        benchmark::DoNotOptimize(got.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(BM_ExpandRgb555, Scalar, SimdLevel::Scalar)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ExpandRgb555, Avx2, SimdLevel::Avx2)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace quillet

BENCHMARK_MAIN();
