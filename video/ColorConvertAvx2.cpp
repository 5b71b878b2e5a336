// AVX2 kernels, compiled with -mavx2 and called only when the CPU has AVX2.
//
// Luma uses pmaddubsw with the unsigned coefficients (25, 129, 66, 0) against
// the pixels taken as signed bytes p - 128: each pair sum stays within int16
// and the whole sum 66 R' + 129 G' + 25 B' is exact; adding 220 * 128 back
// restores 66 R + 129 G + 25 B. Chroma first forms the 2x2 sums of each
// channel as 16-bit words (a byte shuffle groups each pixel pair's channels,
// pmaddubsw by 1 adds them) and applies the coefficients to the sums with
// pmaddwd in 32 bits. Every step is exact, so the result equals the scalar
// kernel byte for byte.
#include <immintrin.h>

#include "video/ColorConvertKernels.h"

namespace quillet {
namespace {

struct Avx2Constants {
    __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
    __m256i luma = _mm256_set1_epi32(25 | 129 << 8 | 66 << 16);
    // Applied to the 2x2 sums of B, G, R, X as 16-bit words.
    __m256i ucoef = _mm256_setr_epi16(112, -74, -38, 0, 112, -74, -38, 0, 112, -74, -38, 0, 112, -74, -38, 0);
    __m256i vcoef = _mm256_setr_epi16(-18, -94, 112, 0, -18, -94, 112, 0, -18, -94, 112, 0, -18, -94, 112, 0);
    __m256i ones8 = _mm256_set1_epi8(1);
    // Groups the channels of each pixel pair: B0 B1 G0 G1 R0 R1 X0 X1, per 128-bit lane.
    __m256i pairChannels = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15,
                                            0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    // 220 * 128 undoes the -128 offset of the three luma terms; 16 << 8 is the
    // luma offset added before the shift (exact since the sum is >= 0).
    __m256i lumaBias = _mm256_set1_epi16(static_cast<short>(220 * 128 + (16 << 8)));
    __m256i chromaBias = _mm256_set1_epi16(128);
    __m256i gather = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    // U0 U1 V0 V1 U4 U5 V4 V5 ... to U0 U1 U4 U5 ... V0 V1 V4 V5 ..., per 128-bit lane.
    __m256i splitUv = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15,
                                       0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    __m256i bgrToBgrx = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                         0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
};

// Eight pixels as B, G, R, X dwords.
template <int Bpp>
inline __m256i load8(const uint8_t* p, const Avx2Constants& c)
{
    if constexpr (Bpp == 4) {
        (void)c;
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    } else {
        // Pixels 0-3 from bytes 0..11 and 4-7 from bytes 12..23; each 16-byte
        // load reads 4 bytes past its 4 pixels, which the caller keeps inside the row.
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
        return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), c.bgrToBgrx);
    }
}

// Per-pixel pair sums 25 B' + 129 G' and 66 R' of eight pixels (int16).
inline __m256i luma_pairs(__m256i px, const Avx2Constants& c)
{
    return _mm256_maddubs_epi16(c.luma, _mm256_xor_si256(px, c.flip));
}

// Luma of 16 pixels from the pair sums of two groups of eight. The sum
// 66 R' + 129 G' + 25 B' lies in -28160..27940; adding the bias wraps it into
// 4096..60196 as an unsigned 16-bit value, whose high byte is Y.
inline __m256i luma16(__m256i m0, __m256i m1, const Avx2Constants& c)
{
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_hadd_epi16(m0, m1), c.lumaBias), 8);
}

// Luma of 32 pixels (groups of eight: 0-7, 8-15, 16-23, 24-31) as bytes in order.
// hadd and packus work within 128-bit lanes; the dword permute restores the order.
inline __m256i luma32(const __m256i* px, const Avx2Constants& c)
{
    const __m256i a = luma16(luma_pairs(px[0], c), luma_pairs(px[1], c), c);
    const __m256i b = luma16(luma_pairs(px[2], c), luma_pairs(px[3], c), c);
    return _mm256_permutevar8x32_epi32(_mm256_packus_epi16(a, b), c.gather);
}

// U and V of the 4 blocks covered by 8 columns of two rows, as dwords
// U0 U1 V0 V1 | U2 U3 V2 V3 (already shifted, without the +128).
inline __m256i chroma4(__m256i top, __m256i bottom, const Avx2Constants& c)
{
    // Horizontal pair sums per row (<= 510), then the two rows: 2x2 sums <= 1020.
    const __m256i sums = _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(top, c.pairChannels), c.ones8),
                                          _mm256_maddubs_epi16(_mm256_shuffle_epi8(bottom, c.pairChannels), c.ones8));
    const __m256i u = _mm256_madd_epi16(sums, c.ucoef);
    const __m256i v = _mm256_madd_epi16(sums, c.vcoef);
    return _mm256_srai_epi32(_mm256_hadd_epi32(u, v), 10);
}

template <int Bpp>
void row_pair(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v)
{
    static const Avx2Constants c;
    // 24-bit loads read 4 bytes beyond their pixels: stop two pixels early.
    const int32_t reach = Bpp == 3 ? 34 : 32;
    int32_t x = 0;
    for (; x + reach <= width; x += 32) {
        __m256i t[4], b[4], uv[4];
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) {
            t[k] = load8<Bpp>(s0 + (x + 8 * k) * Bpp, c);
            b[k] = load8<Bpp>(s1 + (x + 8 * k) * Bpp, c);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(y0 + x), luma32(t, c));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(y1 + x), luma32(b, c));
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k)
            uv[k] = chroma4(t[k], b[k], c);
        // packs works within 128-bit lanes: lane 0 ends up with the blocks
        // 0-1, 4-5, 8-9, 12-13 and lane 1 with the others, in pairs.
        const __m256i p01 = _mm256_add_epi16(_mm256_packs_epi32(uv[0], uv[1]), c.chromaBias);
        const __m256i p23 = _mm256_add_epi16(_mm256_packs_epi32(uv[2], uv[3]), c.chromaBias);
        const __m256i grouped = _mm256_shuffle_epi8(_mm256_packus_epi16(p01, p23), c.splitUv);
        const __m128i lane0 = _mm256_castsi256_si128(grouped);
        const __m128i lane1 = _mm256_extracti128_si256(grouped, 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x / 2), _mm_unpacklo_epi16(lane0, lane1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x / 2), _mm_unpackhi_epi16(lane0, lane1));
    }
    if (x < width) {
        if constexpr (Bpp == 4)
            scalar_bgra32_row_pair(s0 + 4 * x, s1 + 4 * x, width - x, y0 + x, y1 + x, u + x / 2, v + x / 2);
        else
            scalar_bgr24_row_pair(s0 + 3 * x, s1 + 3 * x, width - x, y0 + x, y1 + x, u + x / 2, v + x / 2);
    }
}

void bgr24_row_pair(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1, uint8_t* u,
                    uint8_t* v)
{
    row_pair<3>(s0, s1, width, y0, y1, u, v);
}

void bgra32_row_pair(const uint8_t* s0, const uint8_t* s1, int32_t width, uint8_t* y0, uint8_t* y1, uint8_t* u,
                     uint8_t* v)
{
    row_pair<4>(s0, s1, width, y0, y1, u, v);
}

void rgb555_to_bgra32(const uint8_t* src, uint8_t* dst, size_t pixels)
{
    const __m256i mask5 = _mm256_set1_epi16(0x1F);
    const __m256i maskHigh5 = _mm256_set1_epi16(0xF8);
    size_t i = 0;
    for (; i + 16 <= pixels; i += 16) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * i));
        const __m256i b = _mm256_slli_epi16(_mm256_and_si256(p, mask5), 3);
        const __m256i g = _mm256_and_si256(_mm256_srli_epi16(p, 2), maskHigh5);
        const __m256i r = _mm256_and_si256(_mm256_srli_epi16(p, 7), maskHigh5);
        const __m256i bg = _mm256_or_si256(b, _mm256_slli_epi16(g, 8));
        // Unpacking works per 128-bit lane: lo holds pixels 0-3 and 8-11, hi 4-7 and 12-15.
        const __m256i lo = _mm256_unpacklo_epi16(bg, r);
        const __m256i hi = _mm256_unpackhi_epi16(bg, r);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i + 32), _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    if (i < pixels)
        scalar_rgb555_to_bgra32(src + 2 * i, dst + 4 * i, pixels - i);
}

} // namespace

const ColorConvertKernels& avx2_color_convert_kernels()
{
    static const ColorConvertKernels k{"avx2", bgr24_row_pair, bgra32_row_pair, rgb555_to_bgra32};
    return k;
}

} // namespace quillet
