#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/ScreenFrame.h"
#include "video/I420Picture.h"
#include "video/PixelLayout.h"

// Conversion of captured frames to planar 4:2:0 with integer BT.601 studio-range
// arithmetic:
//   Y = ((66 R + 129 G + 25 B) >> 8) + 16 per pixel (no rounding term),
//   U = ((112 sum(B) - 74 sum(G) - 38 sum(R)) >> 10) + 128,
//   V = ((112 sum(R) - 94 sum(G) - 18 sum(B)) >> 10) + 128 per 2x2 block,
// with arithmetic shifts. The result is exact and identical on every code path
// (scalar, SSE2, AVX2); the path is chosen once per process from the CPU, and
// QUILLET_FORCE_SCALAR=1 in the environment forces the scalar one.
//
// All functions return 1 on success and 0 for unusable arguments (null
// pointers, sizes that are not positive and even); they write nothing then.
namespace quillet {

// Converts a packed frame (Bgr24 or Bgra32, row stride exactly width * bytes
// per pixel) into the destination planes. With bottom_up the source's last
// stored row becomes output row 0, so a device-independent bitmap comes out
// upright. The destination may have any strides, including negative ones.
int convert_to_i420(const uint8_t* src, PixelLayout layout, int32_t width, int32_t height, bool bottom_up,
                    const I420Planes& dst);

// Converts only the part of the frame inside `area`, given in upright output
// coordinates (row 0 at the top, inclusive right and bottom, as the grabber's
// dirty rectangles are). The area is widened to even coordinates and clipped
// to the frame; everything outside it in dst is left untouched, so dst can be
// a persistent picture that is refreshed where the screen changed.
// An area that lies entirely outside the frame converts nothing and returns 1.
int convert_rect_to_i420(const uint8_t* src, PixelLayout layout, int32_t width, int32_t height, bool bottom_up,
                         const Rect& area, const I420Planes& dst);

// Copies a contiguous I420 picture (layout of I420Picture) into the planes,
// flipping every plane vertically when bottom_up is set.
int copy_i420(const uint8_t* src, int32_t width, int32_t height, bool bottom_up, const I420Planes& dst);
// The same for a whole I420Picture, flipped when its bottom_up flag is set.
int copy_i420(const I420Picture& src, const I420Planes& dst);

// Expands a 16-bit RGB555 frame (little-endian words, bit 15 unused) into
// 32-bit B, G, R, X pixels; the low three bits of each component are zero.
// The converter owns its destination buffer, sized once per recording size.
class Rgb555Expander {
public:
    // Frees any previous buffer and allocates W x H x 4 zeroed bytes. Returns
    // 1, or 0 (and no buffer) for a size that is not positive.
    int set_size(int32_t width, int32_t height);

    // Expands one frame of width * height 16-bit pixels, keeping the row order
    // (a bottom-up frame stays bottom-up). Byte X of every pixel stays 0.
    // Returns 0 when no size was set or src is null.
    int expand_rgb555(const uint8_t* src);

    // The expanded frame, width * height * 4 bytes, handed on as Bgra32.
    const uint8_t* data() const { return buffer_.get(); }
    size_t size() const { return bytes_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

private:
    std::unique_ptr<uint8_t[]> buffer_;
    size_t bytes_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

// Name of the code path in use ("scalar", "sse2" or "avx2"), for logs and benchmarks.
const char* color_convert_path_name();

} // namespace quillet
