#pragma once
#include <cstddef>
#include <cstdint>

// The per-instruction-set conversion kernels behind ColorConvert.h. Each set
// lives in its own source file compiled with its own flags; the table in use
// is chosen once at start-up. Internal to the video library, its tests and
// benchmarks.
namespace quillet {

// Converts `width` (even) pixels of two adjacent output rows: writes `width`
// luma bytes to y0 and y1 and width / 2 bytes to u and v.
using RowPairFn = void (*)(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1,
                           uint8_t* u, uint8_t* v);
// Expands `pixels` RGB555 words into 4-byte B, G, R, 0 pixels.
using ExpandFn = void (*)(const uint8_t* src, uint8_t* dst, size_t pixels);

struct ColorConvertKernels {
    const char* name;
    RowPairFn bgr24_row_pair;
    RowPairFn bgra32_row_pair;
    ExpandFn rgb555_to_bgra32;
};

enum class SimdLevel { Scalar, Sse2, Avx2 };

// The table of one level, or nullptr when this build or this CPU lacks it.
const ColorConvertKernels* color_convert_kernels(SimdLevel level);

// The best table for this CPU, or the scalar one when force_scalar is set.
const ColorConvertKernels& select_color_convert_kernels(bool force_scalar);

// The table in use: chosen on first call from the CPU and QUILLET_FORCE_SCALAR.
const ColorConvertKernels& active_color_convert_kernels();

// Scalar reference kernels; the vector ones finish their rows' tails with these.
void scalar_bgr24_row_pair(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1,
                           uint8_t* u, uint8_t* v);
void scalar_bgra32_row_pair(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1,
                            uint8_t* u, uint8_t* v);
void scalar_rgb555_to_bgra32(const uint8_t* src, uint8_t* dst, size_t pixels);

const ColorConvertKernels& scalar_color_convert_kernels();
#if defined(QUILLET_X86_SIMD)
const ColorConvertKernels& sse2_color_convert_kernels();
const ColorConvertKernels& avx2_color_convert_kernels();
#endif

} // namespace quillet
