#pragma once
// x264.h uses the fixed-width types without including their header.
#include <cstdint>

#include <x264.h>

// The library parameter set of the H.264 encoder, kept apart so that the
// benchmark can drive the library with exactly the wrapper's settings.
// Internal to the video library, its tests and benchmarks.
namespace quillet {

struct H264Settings {
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;          // frames per second, > 0
    int32_t bitrate_kbps = 0; // handed to the library; unused in constant-quantiser mode
    bool repeat_headers = false; // SPS and PPS before every IDR picture (Annex B output)
};

// Constant quantiser of P pictures; I pictures get 26 - 6 log2(1.4), i.e. 23.
constexpr int kH264Quantiser = 26;

// Fills p from the library defaults plus our settings. Returns 1 (0 for a null p).
int fill_h264_params(x264_param_t* p, const H264Settings& s);

} // namespace quillet
