// Compiled with -msse2.
#include <emmintrin.h>

#include "video/JpegDct.h"

namespace quillet {
#include "video/JpegDctSimd.inl"

namespace {

inline __m128i pair16(int lo, int hi) { return _mm_set1_epi32(int32_t(uint32_t(uint16_t(lo)) | uint32_t(uint16_t(hi)) << 16)); }

// Four 3-byte pixels from the low 12 bytes of x, one per 32-bit lane as
// B | G << 8 | R << 16 (no byte shuffle before SSSE3: shift and mask).
inline __m128i spreadPixels(__m128i x)
{
    const __m128i m0 = _mm_setr_epi32(0x00FFFFFF, 0, 0, 0);
    const __m128i m1 = _mm_setr_epi32(0, 0x00FFFFFF, 0, 0);
    const __m128i m2 = _mm_setr_epi32(0, 0, 0x00FFFFFF, 0);
    const __m128i m3 = _mm_setr_epi32(0, 0, 0, 0x00FFFFFF);
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(x, m0), _mm_and_si128(_mm_slli_si128(x, 1), m1)),
                        _mm_or_si128(_mm_and_si128(_mm_slli_si128(x, 2), m2), _mm_and_si128(_mm_slli_si128(x, 3), m3)));
}

// The colour tables are linear in each channel, so multiply-adds give the
// same sums; coefficients too large for 16 bits are split over two pairs.
void convertMcuSse2(const uint8_t* const rows[16], JpegMcuSamples& out)
{
    const __m128i kLow8 = _mm_set1_epi32(0xFF);
    const __m128i kBR = _mm_set1_epi32(0x00FF00FF);
    const __m128i kR = _mm_set1_epi32(0x00FF0000);
    const __m128i kY_BR = pair16(7471, 19595), kY_GG = pair16(19235, 19235);
    const __m128i kYBias = _mm_set1_epi32(32768 - (128 << 16)); // rounding, level shift
    const __m128i kCb_BR = pair16(16384, -11059), kCb_GB = pair16(-21709, 16384);
    const __m128i kCr_BR = pair16(-5329, 16384), kCr_GR = pair16(-27439, 16384);
    const __m128i kCBias = _mm_set1_epi32(8421375 - (128 << 16));

    for (int r = 0; r < 16; ++r) {
        const uint8_t* px = rows[r];
        // Pixels 12..15 are read from offset 32 and shifted down, so that no
        // load passes the row's 48 bytes.
        __m128i v[4];
        v[0] = spreadPixels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px)));
        v[1] = spreadPixels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 12)));
        v[2] = spreadPixels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 24)));
        v[3] = spreadPixels(_mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 32)), 4));

        __m128i y[4];
        for (int i = 0; i < 4; ++i) {
            const __m128i br = _mm_and_si128(v[i], kBR);
            const __m128i g = _mm_and_si128(_mm_srli_epi32(v[i], 8), kLow8);
            const __m128i gg = _mm_or_si128(g, _mm_slli_epi32(g, 16));
            y[i] = _mm_srai_epi32(
                _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(br, kY_BR), _mm_madd_epi16(gg, kY_GG)), kYBias), 16);
        }
        int16_t* yLeft = out.blocks[(r >> 3) * 2] + (r & 7) * 8;
        int16_t* yRight = out.blocks[(r >> 3) * 2 + 1] + (r & 7) * 8;
        _mm_store_si128(reinterpret_cast<__m128i*>(yLeft), _mm_packs_epi32(y[0], y[1]));
        _mm_store_si128(reinterpret_cast<__m128i*>(yRight), _mm_packs_epi32(y[2], y[3]));

        if (r & 1)
            continue;
        // The even pixels 0, 2, ... 14 carry the chroma.
        const int even = _MM_SHUFFLE(3, 1, 2, 0);
        const __m128i e[2] = {
            _mm_unpacklo_epi64(_mm_shuffle_epi32(v[0], even), _mm_shuffle_epi32(v[1], even)),
            _mm_unpacklo_epi64(_mm_shuffle_epi32(v[2], even), _mm_shuffle_epi32(v[3], even)),
        };
        __m128i cb[2], cr[2];
        for (int i = 0; i < 2; ++i) {
            const __m128i br = _mm_and_si128(e[i], kBR);
            const __m128i g = _mm_and_si128(_mm_srli_epi32(e[i], 8), kLow8);
            const __m128i gb = _mm_or_si128(g, _mm_slli_epi32(_mm_and_si128(e[i], kLow8), 16));
            const __m128i gr = _mm_or_si128(g, _mm_and_si128(e[i], kR));
            cb[i] = _mm_srai_epi32(
                _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(br, kCb_BR), _mm_madd_epi16(gb, kCb_GB)), kCBias), 16);
            cr[i] = _mm_srai_epi32(
                _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(br, kCr_BR), _mm_madd_epi16(gr, kCr_GR)), kCBias), 16);
        }
        const int at = (r >> 1) * 8;
        _mm_store_si128(reinterpret_cast<__m128i*>(out.blocks[4] + at), _mm_packs_epi32(cb[0], cb[1]));
        _mm_store_si128(reinterpret_cast<__m128i*>(out.blocks[5] + at), _mm_packs_epi32(cr[0], cr[1]));
    }
}

const JpegKernels kSse2 = {"sse2", convertMcuSse2, fdctSimd, quantiseSimd128};

} // namespace

const JpegKernels* jpegKernelsSse2() { return &kSse2; }

} // namespace quillet
