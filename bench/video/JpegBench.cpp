// Speed of the image coders on 1920x1080 pictures. The JPEG encoder at
// quality 80 is measured against libjpeg-turbo's tjCompress2 on the same
// picture (same 4:2:0 subsampling, same bottom-up BGR input), and every
// vector variant's file is compared with the scalar reference's before any
// timing counts.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstring>
#include <vector>

#include <turbojpeg.h>

#include "engine/ScreenFrame.h"
#include "video/BlockCoder.h"
#include "video/JpegEncoder.h"
#include "video/PngWriter.h"

namespace quillet {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kQuality = 80;

struct Picture {
    size_t stride = (size_t(kWidth) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> bgr;
};

// A desktop-like picture: flat window areas, text-like strokes, a gradient
// "wallpaper" and a noisy photo region.
const Picture& desktop()
{
    static const Picture pic = [] {
        Picture p;
        p.bgr.assign(p.stride * kHeight, 0);
        uint32_t s = 12345;
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = p.bgr.data() + size_t(kHeight - 1 - y) * p.stride;
            for (int x = 0; x < kWidth; ++x) {
                uint8_t b = uint8_t(80 + y / 8), g = uint8_t(60 + x / 16), r = uint8_t(40 + (x + y) / 24);
                if (x > 200 && x < 1200 && y > 100 && y < 800) { // a window with text
                    b = g = r = 245;
                    if (y > 130 && (y % 18) < 11 && ((x * 7 + y * 3) % 13) < 5)
                        b = g = r = 30;
                }
                if (x > 1300 && x < 1800 && y > 300 && y < 700) { // a photo
                    s = s * 1664525u + 1013904223u;
                    const int n = int((s >> 24) & 31) - 16;
                    b = uint8_t(std::clamp(int(100 + (x - 1300) / 4) + n, 0, 255));
                    g = uint8_t(std::clamp(int(150 - (y - 300) / 5) + n, 0, 255));
                    r = uint8_t(std::clamp(int(90 + ((x ^ y) & 63)) + n, 0, 255));
                }
                row[x * 3] = b;
                row[x * 3 + 1] = g;
                row[x * 3 + 2] = r;
            }
        }
        return p;
    }();
    return pic;
}

size_t outputCapacity() { return size_t(kWidth) * kHeight * 3 + 30000; }

bool sameAsScalar(const JpegKernels& k)
{
    const Picture& pic = desktop();
    std::vector<uint8_t> a(outputCapacity()), b(outputCapacity());
    size_t na = 0, nb = 0;
    JpegEncoder enc(kQuality);
    enc.set_kernels(kJpegKernelsScalar);
    enc.encode_image(pic.bgr.data(), a.data(), a.size(), kWidth, kHeight, &na);
    enc.set_kernels(k);
    enc.encode_image(pic.bgr.data(), b.data(), b.size(), kWidth, kHeight, &nb);
    return na > 0 && na == nb && std::memcmp(a.data(), b.data(), na) == 0;
}

void runOurs(benchmark::State& state, const JpegKernels* k)
{
    if (k == nullptr) {
        state.SkipWithError("variant not available on this processor");
        return;
    }
    if (!sameAsScalar(*k)) {
        state.SkipWithError("output differs from the scalar reference");
        return;
    }
    const Picture& pic = desktop();
    std::vector<uint8_t> out(outputCapacity());
    JpegEncoder enc(kQuality);
    enc.set_kernels(*k);
    size_t size = 0;
    for (auto _ : state) {
        enc.encode_image(pic.bgr.data(), out.data(), out.size(), kWidth, kHeight, &size);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes_out"] = double(size);
    state.SetLabel(k->name);
}

void BM_JpegQ80_Dispatched(benchmark::State& state) { runOurs(state, &jpegKernels()); }
void BM_JpegQ80_Scalar(benchmark::State& state) { runOurs(state, &kJpegKernelsScalar); }
void BM_JpegQ80_Sse2(benchmark::State& state) { runOurs(state, jpegKernelsFor(JpegKernelLevel::Sse2)); }
void BM_JpegQ80_Avx2(benchmark::State& state) { runOurs(state, jpegKernelsFor(JpegKernelLevel::Avx2)); }

struct Turbo {
    tjhandle handle = tjInitCompress();
    ~Turbo() { tjDestroy(handle); }
    // flags: 0 (the library's defaults) or TJFLAG_FASTDCT.
    unsigned long compress(const Picture& pic, std::vector<uint8_t>& out, int flags)
    {
        unsigned char* dst = out.data();
        unsigned long size = out.size();
        if (tjCompress2(handle, pic.bgr.data(), kWidth, int(pic.stride), kHeight, TJPF_BGR, &dst, &size,
                        TJSAMP_420, kQuality, flags | TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC) != 0)
            return 0;
        return size;
    }
};

void runTurbo(benchmark::State& state, int flags)
{
    const Picture& pic = desktop();
    std::vector<uint8_t> out(tjBufSize(kWidth, kHeight, TJSAMP_420));
    Turbo turbo;
    unsigned long size = 0;
    for (auto _ : state) {
        size = turbo.compress(pic, out, flags);
        benchmark::DoNotOptimize(out.data());
    }
    if (size == 0)
        state.SkipWithError(tjGetErrorStr2(turbo.handle));
    state.counters["bytes_out"] = double(size);
}

void BM_TurboJpegQ80_Default(benchmark::State& state) { runTurbo(state, 0); }
void BM_TurboJpegQ80_FastDct(benchmark::State& state) { runTurbo(state, TJFLAG_FASTDCT); }

// This thread's processor time in seconds: unlike the wall clock it does not
// count time spent waiting for a core on a loaded machine.
double threadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Both encoders alternately in one loop, so machine load hits them alike;
// "ratio" is our processor time over tjCompress2's (target: at most 1.5),
// "wall_ratio" the same on the wall clock.
void BM_JpegQ80_RatioToTurbo(benchmark::State& state)
{
    const JpegKernels& k = jpegKernels();
    if (!sameAsScalar(k)) {
        state.SkipWithError("output differs from the scalar reference");
        return;
    }
    const Picture& pic = desktop();
    std::vector<uint8_t> ours(outputCapacity()), theirs(tjBufSize(kWidth, kHeight, TJSAMP_420));
    JpegEncoder enc(kQuality);
    Turbo turbo;
    using Clock = std::chrono::steady_clock;
    double oursSeconds = 0.0, turboSeconds = 0.0, oursWall = 0.0, turboWall = 0.0;
    size_t size = 0;
    for (auto _ : state) {
        const auto w0 = Clock::now();
        const double t0 = threadSeconds();
        enc.encode_image(pic.bgr.data(), ours.data(), ours.size(), kWidth, kHeight, &size);
        const double t1 = threadSeconds();
        const auto w1 = Clock::now();
        turbo.compress(pic, theirs, 0);
        const double t2 = threadSeconds();
        const auto w2 = Clock::now();
        oursSeconds += t1 - t0;
        turboSeconds += t2 - t1;
        oursWall += std::chrono::duration<double>(w1 - w0).count();
        turboWall += std::chrono::duration<double>(w2 - w1).count();
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = oursSeconds / n * 1000.0;
    state.counters["turbo_ms"] = turboSeconds / n * 1000.0;
    state.counters["ratio"] = oursSeconds / turboSeconds;
    state.counters["wall_ratio"] = oursWall / turboWall;
    state.SetLabel(k.name);
}

// The writer turns its input into R, G, B order in place, so iterations
// alternate between the two channel orders; both compress alike.
void BM_PngLevel4_1080p(benchmark::State& state)
{
    const Picture& pic = desktop();
    std::vector<uint8_t> pixels = pic.bgr;
    std::vector<uint8_t> out(size_t(kWidth) * kHeight * 3 + 30000);
    PngWriter writer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(writer.write_png(pixels.data(), kWidth, kHeight, out.data(), out.size()));
    }
    state.counters["bytes_out"] = double(writer.file_size());
}

// Tightening a full-screen dirty list after a small change: the per-frame
// cost of the image and SWF paths on a mostly still screen.
void BM_Tighten1080p32(benchmark::State& state)
{
    std::vector<uint8_t> bits(size_t(kWidth) * kHeight * 4, 0x40);
    ScreenFrame frame;
    frame.width = kWidth;
    frame.height = kHeight;
    frame.bitsPerPixel = 32;
    frame.bits = bits.data();
    frame.stride = kWidth * 4;
    BlockCoder coder;
    coder.init(frame, TileCoding::Jpeg);
    int flip = 0;
    for (auto _ : state) {
        bits[size_t(500) * frame.stride + 4000] ^= uint8_t(++flip);
        Rect rects[16];
        for (int i = 0; i < 16; ++i)
            rects[i] = Rect{(i % 4) * 480, (i / 4) * 270, (i % 4) * 480 + 479, (i / 4) * 270 + 269};
        benchmark::DoNotOptimize(coder.tighten(frame, rects, 16));
    }
}

BENCHMARK(BM_JpegQ80_Dispatched)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegQ80_Scalar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegQ80_Sse2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegQ80_Avx2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TurboJpegQ80_Default)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TurboJpegQ80_FastDct)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegQ80_RatioToTurbo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLevel4_1080p)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tighten1080p32)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quillet

BENCHMARK_MAIN();
