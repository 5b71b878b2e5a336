// Size and quality of the two rate-control choices on 1920x1080 screen-like
// sequences at 10 fps: constant quantiser 26 (what the encoder uses) against
// average-bitrate control at the computed target (512 kbit/s, the value every
// 1080p quality level reaches) within quantisers 10..20. Reported as counters:
// kbit_per_s over 40 pictures and the mean luma PSNR the library measures.
// The time column is irrelevant here.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <vector>

#include "video/ColorConvert.h"
#include "video/H264Params.h"

namespace quillet {
namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr int kFps = 10;
constexpr int kPictures = 40;

// A text window that scrolls by `scroll` rows per picture over a gradient.
std::vector<uint8_t> scrolling_frame(int index, int scroll)
{
    std::vector<uint8_t> f(static_cast<size_t>(kW) * kH * 4);
    for (int32_t y = 0; y < kH; ++y) {
        uint8_t* row = f.data() + static_cast<size_t>(kH - 1 - y) * kW * 4;
        const int32_t line = y + index * scroll;
        for (int32_t x = 0; x < kW; ++x) {
            int r = 40 + x * 120 / kW, g = 60 + y * 100 / kH, b = 150;
            if (x > 200 && x < 1500 && y > 150 && y < 900) {
                r = g = b = 235;
                uint32_t h = static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(line) * 40503u;
                h ^= h >> 13;
                h *= 0x5bd1e995u;
                h ^= h >> 15;
                if ((line / 6) % 3 == 0 && (h & 3) == 0)
                    r = g = b = 20;
            }
            row[4 * x] = static_cast<uint8_t>(b);
            row[4 * x + 1] = static_cast<uint8_t>(g);
            row[4 * x + 2] = static_cast<uint8_t>(r);
            row[4 * x + 3] = 0;
        }
    }
    return f;
}

void quiet_log(void*, int, const char*, va_list) {}

void BM_RateControl(benchmark::State& state)
{
    const bool average_bitrate = state.range(0) != 0;
    const int scroll = static_cast<int>(state.range(1));
    H264Settings s;
    s.width = kW;
    s.height = kH;
    s.fps = kFps;
    s.bitrate_kbps = 512;
    x264_param_t p;
    fill_h264_params(&p, s);
    if (average_bitrate) {
        p.rc.i_rc_method = X264_RC_ABR;
        p.rc.i_qp_min = 10;
        p.rc.i_qp_max = 20;
    }
    // The library measures PSNR only at log level info; the messages are dropped.
    p.i_log_level = X264_LOG_INFO;
    p.pf_log = quiet_log;
    p.analyse.b_psnr = 1;
    std::vector<I420Picture> pics(kPictures);
    for (int i = 0; i < kPictures; ++i) {
        pics[i].allocate(kW, kH);
        const std::vector<uint8_t> f = scrolling_frame(i, scroll);
        convert_to_i420(f.data(), PixelLayout::Bgra32, kW, kH, true, pics[i].planes());
    }
    double kbps = 0, psnr = 0;
    for (auto _ : state) {
        x264_t* h = x264_encoder_open(&p);
        if (h == nullptr) {
            state.SkipWithError("x264 did not open");
            return;
        }
        size_t bytes = 0;
        psnr = 0;
        for (int i = 0; i < kPictures; ++i) {
            x264_picture_t in, out;
            x264_picture_init(&in);
            in.img.i_csp = X264_CSP_I420;
            in.img.i_plane = 3;
            in.img.plane[0] = pics[i].y();
            in.img.plane[1] = pics[i].u();
            in.img.plane[2] = pics[i].v();
            in.img.i_stride[0] = kW;
            in.img.i_stride[1] = kW / 2;
            in.img.i_stride[2] = kW / 2;
            in.i_pts = i;
            x264_nal_t* nals = nullptr;
            int count = 0;
            const int n = x264_encoder_encode(h, &nals, &count, &in, &out);
            bytes += n > 0 ? static_cast<size_t>(n) : 0;
            psnr += out.prop.f_psnr[0];
        }
        x264_encoder_close(h);
        kbps = static_cast<double>(bytes) * 8.0 * kFps / kPictures / 1000.0;
        psnr /= kPictures;
    }
    state.counters["kbit_per_s"] = kbps;
    state.counters["y_psnr_db"] = psnr;
}
BENCHMARK(BM_RateControl)
    ->ArgNames({"abr", "scroll_rows"})
    ->ArgsProduct({{0, 1}, {0, 3, 12}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quillet

BENCHMARK_MAIN();
