// Cost of encoding one second of captured sound, per quality level and output
// type, against the baseline of real time: one iteration encodes one second,
// so the CPU column (and the "cpu_per_sound_s" counter) divided by 1000 ms is
// the fraction of real time the encoder needs (1.2 ms = 0.12 %).
//
//   build-*/bin/audio_coding_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/AudioEncoder.h"
#include "engine/AudioFormats.h"

namespace {

using namespace quillet;

// Speech-like test sound: two tones with a slow tremolo plus a little noise,
// so the coders have more to do than on a pure tone or silence.
std::vector<uint8_t> makeSound(int rate, int channels, int frames)
{
    std::vector<uint8_t> pcm(size_t(frames) * size_t(channels) * 2);
    uint32_t x = 12345;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        const double noise = (double(x) / 4294967296.0 - 0.5) * 0.05;
        const double v = (0.3 * std::sin(2 * std::numbers::pi * 220 * t) + 0.15 * std::sin(2 * std::numbers::pi * 1730 * t)) *
                             (0.6 + 0.4 * std::sin(2 * std::numbers::pi * 3 * t)) +
                         noise;
        const auto s = int16_t(std::lround(v * 32767));
        for (int c = 0; c < channels; ++c) {
            const size_t at = (size_t(i) * size_t(channels) + size_t(c)) * 2;
            pcm[at] = uint8_t(uint16_t(s));
            pcm[at + 1] = uint8_t(uint16_t(s) >> 8);
        }
    }
    return pcm;
}

void encodeOneSecond(benchmark::State& state, OutputType type)
{
    const int quality = int(state.range(0));
    const AudioTargetFormat target = buildAudioTargetFormat(quality, type);
    const CaptureAudioFormat capture = captureFormatFor(target);
    const Mp3Framing framing =
        (type == OutputSwf || type == OutputFlv) ? Mp3Framing::FlushEachBuffer : Mp3Framing::Continuous;
    AudioEncoder enc;
    if (!enc.open(capture, target, framing)) {
        state.SkipWithError("encoder did not open");
        return;
    }
    const int rate = int(capture.sampleRate);
    const std::vector<uint8_t> pcm = makeSound(rate, capture.channels, rate);
    // Buffers as the capture hands them over: 4 AAC chunks, or a quarter second for MP3.
    const size_t buffer = enc.isAac() ? size_t(4 * aacChunkBytes(capture.channels)) : capture.avgBytesPerSecond / 4;
    std::vector<uint8_t> out(size_t(enc.maxOutputBytes(int(buffer))));
    int64_t bytesOut = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < pcm.size(); at += buffer) {
            const int n = int(std::min(buffer, pcm.size() - at));
            const int written = enc.encode(pcm.data() + at, out.data(), n, int(out.size()));
            if (written < 0) {
                state.SkipWithError("encode failed");
                return;
            }
            bytesOut += written;
        }
    }
    // One iteration is one second of sound: CPU time per second of sound.
    state.counters["cpu_per_sound_s"] =
        benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    // Output rate including the AAC records' length fields and ADTS headers.
    state.counters["out_kbit_per_s"] = double(bytesOut) * 8 / 1000 / double(state.iterations());
    state.SetLabel(std::string(enc.isAac() ? "AAC " : "MP3 ") + std::to_string(rate) + " Hz " +
                   std::to_string(capture.channels) + " ch");
}

void BM_Mp4Aac(benchmark::State& state) { encodeOneSecond(state, OutputMp4); }
void BM_AviMp3(benchmark::State& state) { encodeOneSecond(state, OutputAvi); }
void BM_SwfMp3Flushed(benchmark::State& state) { encodeOneSecond(state, OutputSwf); }

BENCHMARK(BM_Mp4Aac)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_AviMp3)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_SwfMp3Flushed)->Arg(0)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace

BENCHMARK_MAIN();
