// Cost of converting the computer's sound, one second of 48000 Hz stereo in
// 10 ms packets per iteration, against copying the same bytes with memcpy.
// Run: bin/bench_audio_loopback
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "audio/loopback/LoopbackConverter.h"

namespace {

using quillet::PcmLayout;

constexpr size_t kPacketFrames = 480; // 10 ms at 48000 Hz
constexpr size_t kPackets = 100;      // one second

std::vector<uint8_t> sourceSecond()
{
    std::vector<uint8_t> src(kPacketFrames * 4 * kPackets);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>(i * 37 + 11);
    return src;
}

void BM_MemcpyBaseline(benchmark::State& state)
{
    const std::vector<uint8_t> src = sourceSecond();
    std::vector<uint8_t> out(src.size());
    const size_t packetBytes = kPacketFrames * 4;
    for (auto _ : state) {
        for (size_t p = 0; p < kPackets; ++p)
            std::memcpy(out.data() + p * packetBytes, src.data() + p * packetBytes, packetBytes);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations()); // seconds of sound
}

void convertSecond(benchmark::State& state, PcmLayout requested)
{
    const std::vector<uint8_t> src = sourceSecond();
    std::vector<uint8_t> out(src.size());
    const size_t packetBytes = kPacketFrames * 4;
    const PcmLayout device{2, 48000, 16};
    for (auto _ : state) {
        size_t written = 0;
        for (size_t p = 0; p < kPackets; ++p)
            written += quillet::convertLoopbackPass(src.data() + p * packetBytes, packetBytes, device, requested,
                                                    out.data() + written, out.size() - written)
                           .bytesWritten;
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ToMono32k(benchmark::State& state) { convertSecond(state, {1, 32000, 16}); }
void BM_ToStereo32k(benchmark::State& state) { convertSecond(state, {2, 32000, 16}); }
void BM_ToStereo48k(benchmark::State& state) { convertSecond(state, {2, 48000, 16}); }

BENCHMARK(BM_MemcpyBaseline);
BENCHMARK(BM_ToMono32k);
BENCHMARK(BM_ToStereo32k);
BENCHMARK(BM_ToStereo48k);

} // namespace

BENCHMARK_MAIN();
