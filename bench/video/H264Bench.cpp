// The H.264 wrapper's own work (conversion to I420, emulation-prevention
// removal and re-insertion, FLV tag packing) against the x264 call it wraps,
// on 1920x1080 32-bit screen-like frames. The target is below 10 %.
//   BM_X264EncodeOnly     - the library call alone, on pre-converted pictures
//   BM_WrapperEncode      - H264Encoder::encode, everything included
//   BM_WrapperOwnWork     - the wrapper's steps alone, on a real coded picture
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/video/DesktopFrame.h"
#include "video/ColorConvert.h"
#include "video/FlvAvcTags.h"
#include "video/H264Encoder.h"
#include "video/H264Params.h"
#include "video/NalWriter.h"

namespace quillet {
namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr int kFps = 10;
constexpr int kSequence = 16; // distinct frames, cycled

// The desktop with its box moving 24 px per frame.
std::vector<uint8_t> screen_frame(int index) { return bench::desktop_frame(kW, kH, 100 + index * 24); }

const std::vector<std::vector<uint8_t>>& frames()
{
    static const std::vector<std::vector<uint8_t>> all = [] {
        std::vector<std::vector<uint8_t>> v;
        for (int i = 0; i < kSequence; ++i)
            v.push_back(screen_frame(i));
        return v;
    }();
    return all;
}

// The library's view of one of our pictures.
x264_picture_t library_picture(I420Picture& pic, int64_t pts)
{
    x264_picture_t in;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    in.img.plane[0] = pic.y();
    in.img.plane[1] = pic.u();
    in.img.plane[2] = pic.v();
    in.img.i_stride[0] = kW;
    in.img.i_stride[1] = kW / 2;
    in.img.i_stride[2] = kW / 2;
    in.i_pts = pts;
    return in;
}

void BM_X264EncodeOnly(benchmark::State& state)
{
    std::vector<I420Picture> pics(kSequence);
    for (int i = 0; i < kSequence; ++i) {
        pics[i].allocate(kW, kH);
        convert_to_i420(frames()[i].data(), PixelLayout::Bgra32, kW, kH, true, pics[i].planes());
    }
    H264Settings s;
    s.width = kW;
    s.height = kH;
    s.fps = kFps;
    s.bitrate_kbps = 512;
    x264_param_t params;
    fill_h264_params(&params, s);
    x264_t* h = x264_encoder_open(&params);
    if (h == nullptr) {
        state.SkipWithError("x264 did not open");
        return;
    }
    int64_t pts = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        I420Picture& pic = pics[pts % kSequence];
        x264_picture_t in = library_picture(pic, pts++), out;
        x264_nal_t* nals = nullptr;
        int count = 0;
        const int n = x264_encoder_encode(h, &nals, &count, &in, &out);
        bytes += n > 0 ? static_cast<size_t>(n) : 0;
        benchmark::DoNotOptimize(nals);
    }
    x264_encoder_close(h);
    state.counters["bytes_per_picture"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_X264EncodeOnly)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_WrapperEncode(benchmark::State& state)
{
    H264Encoder enc;
    enc.set_input_mode(H264InputMode::Bgra32);
    enc.set_bitrate(kW, kH, 512);
    if (enc.open(kW, kH, kFps) == 0) {
        state.SkipWithError("encoder did not open");
        return;
    }
    std::vector<uint8_t> out(H264Encoder::recommended_output_capacity(kW, kH));
    size_t index = 0, bytes = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& f = frames()[index++ % kSequence];
        const size_t n = enc.encode(f.data(), f.size(), out.data(), out.size(), 0);
        if (n == 0) {
            state.SkipWithError("encode produced nothing");
            break;
        }
        bytes += n;
    }
    state.counters["bytes_per_picture"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_WrapperEncode)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// Conversion of the frame, then removal and re-insertion of emulation
// prevention and tag packing for the NAL units of a real inter picture. The
// argument is the number of distinct source frames cycled: 16 keeps them out
// of the caches (as in the two benchmarks above), 1 keeps one frame hot, as a
// frame is right after the grabber wrote it.
void BM_WrapperOwnWork(benchmark::State& state)
{
    const size_t distinct = static_cast<size_t>(state.range(0));
    H264Settings s;
    s.width = kW;
    s.height = kH;
    s.fps = kFps;
    x264_param_t params;
    fill_h264_params(&params, s);
    x264_t* h = x264_encoder_open(&params);
    if (h == nullptr) {
        state.SkipWithError("x264 did not open");
        return;
    }
    I420Picture pic;
    pic.allocate(kW, kH);
    std::vector<uint8_t> coded; // the NAL units of the second (inter) picture
    std::vector<std::pair<int, int>> headers;
    for (int i = 0; i < 2; ++i) {
        convert_to_i420(frames()[i].data(), PixelLayout::Bgra32, kW, kH, true, pic.planes());
        x264_picture_t in = library_picture(pic, i), out;
        x264_nal_t* nals = nullptr;
        int count = 0;
        x264_encoder_encode(h, &nals, &count, &in, &out);
        if (i == 1 && count > 0) {
            coded.assign(nals[0].p_payload + 5, nals[0].p_payload + nals[0].i_payload);
            headers.emplace_back(nals[0].i_ref_idc, nals[0].i_type);
        }
    }
    x264_encoder_close(h);
    if (coded.empty()) {
        state.SkipWithError("no coded picture");
        return;
    }
    std::vector<uint8_t> payload(coded.size());
    std::vector<uint8_t> out(H264Encoder::recommended_output_capacity(kW, kH));
    size_t index = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& f = frames()[index++ % distinct];
        convert_to_i420(f.data(), PixelLayout::Bgra32, kW, kH, true, pic.planes());
        const size_t n = remove_emulation_prevention(coded.data(), coded.size(), payload.data());
        const NalView nal{static_cast<uint8_t>(headers[0].first), static_cast<uint8_t>(headers[0].second),
                          payload.data(), n};
        benchmark::DoNotOptimize(write_avc_video_tag(out.data(), out.size(), 0, false, &nal, 1));
        benchmark::ClobberMemory();
    }
    state.counters["payload_bytes"] = static_cast<double>(coded.size());
}
BENCHMARK(BM_WrapperOwnWork)->Arg(kSequence)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quillet

BENCHMARK_MAIN();
