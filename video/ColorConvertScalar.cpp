#include "video/ColorConvertKernels.h"

namespace quillet {
namespace {

inline uint8_t luma(const uint8_t* p)
{
    return static_cast<uint8_t>(((66 * p[2] + 129 * p[1] + 25 * p[0]) >> 8) + 16);
}

template <int Bpp>
void row_pair(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1, uint8_t* u,
              uint8_t* v)
{
    for (int32_t j = 0; j < width / 2; ++j) {
        const uint8_t* a = s0 + 2 * j * Bpp;
        const uint8_t* b = a + Bpp;
        const uint8_t* c = s1 + 2 * j * Bpp;
        const uint8_t* d = c + Bpp;
        y0[2 * j] = luma(a);
        y0[2 * j + 1] = luma(b);
        y1[2 * j] = luma(c);
        y1[2 * j + 1] = luma(d);
        const int sb = a[0] + b[0] + c[0] + d[0];
        const int sg = a[1] + b[1] + c[1] + d[1];
        const int sr = a[2] + b[2] + c[2] + d[2];
        // >> on a negative int is an arithmetic shift (rounds towards minus infinity).
        u[j] = static_cast<uint8_t>(((112 * sb - 74 * sg - 38 * sr) >> 10) + 128);
        v[j] = static_cast<uint8_t>(((112 * sr - 94 * sg - 18 * sb) >> 10) + 128);
    }
}

} // namespace

void scalar_bgr24_row_pair(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1,
                           uint8_t* u, uint8_t* v)
{
    row_pair<3>(s0, s1, width, y0, y1, u, v);
}

void scalar_bgra32_row_pair(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1,
                            uint8_t* u, uint8_t* v)
{
    row_pair<4>(s0, s1, width, y0, y1, u, v);
}

void scalar_rgb555_to_bgra32(const uint8_t* src, uint8_t* dst, size_t pixels)
{
    for (size_t i = 0; i < pixels; ++i) {
        const uint32_t p = src[2 * i] | (uint32_t(src[2 * i + 1]) << 8);
        dst[4 * i] = static_cast<uint8_t>((p & 0x1F) << 3);
        dst[4 * i + 1] = static_cast<uint8_t>((p >> 2) & 0xF8);
        dst[4 * i + 2] = static_cast<uint8_t>((p >> 7) & 0xF8);
        dst[4 * i + 3] = 0;
    }
}

const ColorConvertKernels& scalar_color_convert_kernels()
{
    static const ColorConvertKernels k{"scalar", scalar_bgr24_row_pair, scalar_bgra32_row_pair,
                                       scalar_rgb555_to_bgra32};
    return k;
}

} // namespace quillet
