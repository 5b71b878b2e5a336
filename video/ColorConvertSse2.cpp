// SSE2 kernels: the x86-64 baseline, used when AVX2 is missing. SSE2 has no
// byte shuffle, so 24-bit rows use the scalar kernel here.
#include <emmintrin.h>

#include "video/ColorConvertKernels.h"

namespace quillet {
namespace {

// Pixels are widened to 16-bit words B, G, R, X; pmaddwd then gives two 32-bit
// partial sums per pixel. All sums stay far inside int32.
const __m128i kLumaCoeffs = _mm_setr_epi16(25, 129, 66, 0, 25, 129, 66, 0);
const __m128i kUCoeffs = _mm_setr_epi16(112, -74, -38, 0, 112, -74, -38, 0);
const __m128i kVCoeffs = _mm_setr_epi16(-18, -94, 112, 0, -18, -94, 112, 0);
// 16 << 8: adds the luma offset before the shift, which is exact for sums >= 0.
const __m128i kLumaBias = _mm_set1_epi32(16 << 8);
const __m128i kChromaBias = _mm_set1_epi16(128);

// Sum of the two 32-bit partials of each pixel, for the 2 + 2 pixels in lo, hi.
inline __m128i pair_sums(__m128i lo, __m128i hi)
{
    const __m128 a = _mm_castsi128_ps(lo);
    const __m128 b = _mm_castsi128_ps(hi);
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_add_epi32(even, odd);
}

// Luma of 4 pixels given as words (2 pixels in lo, 2 in hi), as 32-bit lanes.
inline __m128i luma4(__m128i lo, __m128i hi)
{
    const __m128i s = pair_sums(_mm_madd_epi16(lo, kLumaCoeffs), _mm_madd_epi16(hi, kLumaCoeffs));
    return _mm_srli_epi32(_mm_add_epi32(s, kLumaBias), 8);
}

// Totals of the four 32-bit lanes of each of m0..m3, as lanes 0..3.
inline __m128i totals4(__m128i m0, __m128i m1, __m128i m2, __m128i m3)
{
    const __m128i t01 = _mm_add_epi32(_mm_unpacklo_epi32(m0, m1), _mm_unpackhi_epi32(m0, m1));
    const __m128i t23 = _mm_add_epi32(_mm_unpacklo_epi32(m2, m3), _mm_unpackhi_epi32(m2, m3));
    return _mm_add_epi32(_mm_unpacklo_epi64(t01, t23), _mm_unpackhi_epi64(t01, t23));
}

void bgra32_row_pair(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1, uint8_t* u,
                     uint8_t* v)
{
    const __m128i zero = _mm_setzero_si128();
    int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + 4 * x));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + 4 * x + 16));
        const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + 4 * x));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + 4 * x + 16));
        // Each register of words holds the two pixels of one chroma block.
        const __m128i a0l = _mm_unpacklo_epi8(a0, zero), a0h = _mm_unpackhi_epi8(a0, zero);
        const __m128i a1l = _mm_unpacklo_epi8(a1, zero), a1h = _mm_unpackhi_epi8(a1, zero);
        const __m128i b0l = _mm_unpacklo_epi8(b0, zero), b0h = _mm_unpackhi_epi8(b0, zero);
        const __m128i b1l = _mm_unpacklo_epi8(b1, zero), b1h = _mm_unpackhi_epi8(b1, zero);

        const __m128i ya = _mm_packs_epi32(luma4(a0l, a0h), luma4(a1l, a1h));
        const __m128i yb = _mm_packs_epi32(luma4(b0l, b0h), luma4(b1l, b1h));
        const __m128i yy = _mm_packus_epi16(ya, yb);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(y0 + x), yy);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(y1 + x), _mm_srli_si128(yy, 8));

        // Vertical sums of the two rows: at most 510 per word.
        const __m128i k0 = _mm_add_epi16(a0l, b0l), k1 = _mm_add_epi16(a0h, b0h);
        const __m128i k2 = _mm_add_epi16(a1l, b1l), k3 = _mm_add_epi16(a1h, b1h);
        const __m128i us = totals4(_mm_madd_epi16(k0, kUCoeffs), _mm_madd_epi16(k1, kUCoeffs),
                                   _mm_madd_epi16(k2, kUCoeffs), _mm_madd_epi16(k3, kUCoeffs));
        const __m128i vs = totals4(_mm_madd_epi16(k0, kVCoeffs), _mm_madd_epi16(k1, kVCoeffs),
                                   _mm_madd_epi16(k2, kVCoeffs), _mm_madd_epi16(k3, kVCoeffs));
        const __m128i uv16 = _mm_add_epi16(_mm_packs_epi32(_mm_srai_epi32(us, 10), _mm_srai_epi32(vs, 10)),
                                           kChromaBias);
        const __m128i uv8 = _mm_packus_epi16(uv16, uv16);
        const uint32_t uw = static_cast<uint32_t>(_mm_cvtsi128_si32(uv8));
        const uint32_t vw = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(uv8, 4)));
        for (int i = 0; i < 4; ++i) {
            u[x / 2 + i] = static_cast<uint8_t>(uw >> (8 * i));
            v[x / 2 + i] = static_cast<uint8_t>(vw >> (8 * i));
        }
    }
    if (x < width)
        scalar_bgra32_row_pair(s0 + 4 * x, s1 + 4 * x, width - x, y0 + x, y1 + x, u + x / 2, v + x / 2);
}

void rgb555_to_bgra32(const uint8_t* src, uint8_t* dst, size_t pixels)
{
    const __m128i mask5 = _mm_set1_epi16(0x1F);
    const __m128i maskHigh5 = _mm_set1_epi16(0xF8);
    size_t i = 0;
    for (; i + 8 <= pixels; i += 8) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
        const __m128i b = _mm_slli_epi16(_mm_and_si128(p, mask5), 3);
        const __m128i g = _mm_and_si128(_mm_srli_epi16(p, 2), maskHigh5);
        const __m128i r = _mm_and_si128(_mm_srli_epi16(p, 7), maskHigh5);
        // Words g << 8 | b and 0 << 8 | r, then interleaved into B, G, R, 0.
        const __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8));
        const __m128i lo = _mm_unpacklo_epi16(bg, r);
        const __m128i hi = _mm_unpackhi_epi16(bg, r);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i + 16), hi);
    }
    if (i < pixels)
        scalar_rgb555_to_bgra32(src + 2 * i, dst + 4 * i, pixels - i);
}

} // namespace

const ColorConvertKernels& sse2_color_convert_kernels()
{
    static const ColorConvertKernels k{"sse2", scalar_bgr24_row_pair, bgra32_row_pair, rgb555_to_bgra32};
    return k;
}

} // namespace quillet
