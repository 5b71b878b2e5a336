// MP4 writer speed: rebuilding and refreshing the index of a one-hour recording
// (25 fps video, 32 kHz AAC: 90 000 pictures and 112 500 audio frames) and the
// cost of writing one sample. Each figure has a baseline measured in the same
// run: plain buffered writes of the same bytes through the same file sink.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/OutputSink.h"
#include "mux/mp4/Mp4Boxes.h"
#include "mux/mp4/Mp4Mux.h"

using namespace quillet;

namespace {

constexpr uint32_t kHourPictures = 90000;
constexpr uint32_t kHourAudioFrames = 112500;
const uint8_t kSps[] = {0x67, 0x42, 0xC0, 0x15, 0xD9, 0x02, 0x84, 0x7E, 0x5C, 0x04, 0x40};
const uint8_t kPps[] = {0x68, 0xCB, 0x83, 0xCB, 0x20};

std::string benchPath(const char* name)
{
    return "/tmp/quillet-mux-bench-" + std::to_string(getpid()) + "-" + name;
}

// Opens a writer and fills its tables with one hour of small samples in the
// engine's interleave (a picture every 40 ms, an AAC frame every 32 ms, an IDR
// picture every 250). Sample bytes are kept small: the index does not depend
// on them and the benchmark should not measure the disk.
void fillOneHour(CMp4mux& mux, const std::string& path)
{
    mux.Open(path.c_str(), 1280, 720, 25, 32000, 2);
    mux.WriteVideoHead(kSps, sizeof kSps, kPps, sizeof kPps);
    const char sample[16] = {};
    uint32_t j = 0;
    for (uint32_t i = 0; i < kHourPictures; ++i) {
        for (; j < kHourAudioFrames && j * 32 <= i * 40; ++j)
            mux.WriteAudio(sample, 12, 32);
        mux.WriteVideo(sample, 16, 40, i % 250 == 0);
    }
    for (; j < kHourAudioFrames; ++j)
        mux.WriteAudio(sample, 12, 32);
}

// SaveData as the engine calls it: after new media since the last one, so the
// full refresh runs (old index moved aside, held bytes written back, new index).
void BM_SaveDataOneHour(benchmark::State& state)
{
    const std::string path = benchPath("save.mp4");
    CMp4mux mux;
    fillOneHour(mux, path);
    mux.SaveData();
    const char picture[2048] = {};
    for (auto _ : state) {
        state.PauseTiming();
        mux.WriteVideo(picture, sizeof picture, 40, 0);
        state.ResumeTiming();
        if (!mux.SaveData())
            state.SkipWithError("SaveData failed");
    }
    state.counters["moov_bytes"] = double(mux.moov_len);
    state.SetBytesProcessed(int64_t(state.iterations()) * mux.moov_len);
    mux.Close();
    std::remove(path.c_str());
}
BENCHMARK(BM_SaveDataOneHour)->Unit(benchmark::kMillisecond);

// Only the index construction, in memory.
void BM_BuildMoovOneHour(benchmark::State& state)
{
    const std::string path = benchPath("build.mp4");
    CMp4mux mux;
    fillOneHour(mux, path);
    mux.SaveData(); // fills the derived fields
    std::vector<uint8_t> out(mp4MoovSizeBound(*mux.info));
    size_t n = 0;
    for (auto _ : state) {
        n = buildMp4Moov(*mux.info, mux.AudioBitRates(), out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["moov_bytes"] = double(n);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
    mux.Close();
    std::remove(path.c_str());
}
BENCHMARK(BM_BuildMoovOneHour)->Unit(benchmark::kMillisecond);

// Baseline for the two above: writing an index-sized block twice (what any
// refresh must at least do: old place and new index) with a flush.
void BM_BaselineWriteIndexSizedBlockTwice(benchmark::State& state)
{
    const std::string path = benchPath("block.bin");
    CMp4mux mux;
    fillOneHour(mux, path + ".mp4");
    mux.SaveData();
    const size_t n = mux.moov_len;
    mux.Close();
    std::remove((path + ".mp4").c_str());
    std::vector<uint8_t> block(n, 0x5A);
    FileSink sink;
    sink.open(path);
    for (auto _ : state) {
        sink.seek(0);
        sink.write(block.data(), n);
        sink.write(block.data(), n);
        sink.flush();
    }
    state.counters["moov_bytes"] = double(n);
    sink.close();
    std::remove(path.c_str());
}
BENCHMARK(BM_BaselineWriteIndexSizedBlockTwice)->Unit(benchmark::kMillisecond);

// Per-sample cost of WriteVideo / WriteAudio (arg: sample bytes), without and
// with the side journal (one more write and a CRC of the sample). Every
// sample goes to the system at once. The writer is reopened (untimed) before
// its tables fill.
template <bool Video, bool Journal>
void BM_WriteSample(benchmark::State& state)
{
    const std::string path = benchPath(Video ? "video.mp4" : "audio.mp4");
    const size_t size = size_t(state.range(0));
    std::vector<char> sample(size, 0x11);
    CMp4mux mux;
    mux.Open(path.c_str(), 1280, 720, 25, 32000, 2);
    if (Journal)
        mux.EnableJournal();
    uint32_t written = 0;
    for (auto _ : state) {
        if (++written == 200000) {
            state.PauseTiming();
            mux.Open(path.c_str(), 1280, 720, 25, 32000, 2);
            if (Journal)
                mux.EnableJournal();
            written = 1;
            state.ResumeTiming();
        }
        if (Video)
            benchmark::DoNotOptimize(mux.WriteVideo(sample.data(), int(size), 40, written % 250 == 1));
        else
            benchmark::DoNotOptimize(mux.WriteAudio(sample.data(), int(size), 32));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
    mux.Close();
    std::remove(path.c_str());
}
BENCHMARK(BM_WriteSample<true, false>)->Name("BM_WriteVideoSample")->Arg(2048)->Arg(16384);
BENCHMARK(BM_WriteSample<false, false>)->Name("BM_WriteAudioSample")->Arg(200);
BENCHMARK(BM_WriteSample<true, true>)->Name("BM_WriteVideoSampleJournaled")->Arg(2048)->Arg(16384);
BENCHMARK(BM_WriteSample<false, true>)->Name("BM_WriteAudioSampleJournaled")->Arg(200);

// Baseline: the same bytes through the same buffered sink, nothing else.
void BM_BaselineBufferedWrite(benchmark::State& state)
{
    const std::string path = benchPath("plain.bin");
    const size_t size = size_t(state.range(0));
    std::vector<char> sample(size, 0x11);
    FileSink sink;
    sink.open(path);
    uint32_t written = 0;
    for (auto _ : state) {
        if (++written == 200000) {
            state.PauseTiming();
            sink.open(path);
            written = 1;
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(sink.write(sample.data(), size));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
    sink.close();
    std::remove(path.c_str());
}
BENCHMARK(BM_BaselineBufferedWrite)->Arg(2048)->Arg(16384)->Arg(200);

} // namespace

BENCHMARK_MAIN();
