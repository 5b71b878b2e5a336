// Compiled with -mavx2.
#include <immintrin.h>

#include "video/JpegDct.h"

namespace quillet {
#include "video/JpegDctSimd.inl"

namespace {

uint64_t quantiseAvx2(const int16_t in[64], const JpegQuantTable& table, int16_t out[64])
{
    uint64_t nonzero = 0;
    for (int i = 0; i < 64; i += 16) {
        const __m256i x = _mm256_load_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i h = _mm256_load_si256(reinterpret_cast<const __m256i*>(table.halves + i));
        const __m256i n = _mm256_add_epi16(_mm256_abs_epi16(x), h);
        const __m256 nLo = _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(n)));
        const __m256 nHi = _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(n, 1)));
        const __m256i qLo = _mm256_cvttps_epi32(_mm256_div_ps(nLo, _mm256_load_ps(table.divisorsF + i)));
        const __m256i qHi = _mm256_cvttps_epi32(_mm256_div_ps(nHi, _mm256_load_ps(table.divisorsF + i + 8)));
        // packs works within 128-bit lanes; put the quarters back in order.
        const __m256i q = _mm256_permute4x64_epi64(_mm256_packs_epi32(qLo, qHi), 0xD8);
        // sign() also zeroes where x is zero; the quotient is 0 there anyway.
        const __m256i r = _mm256_sign_epi16(q, x);
        _mm256_store_si256(reinterpret_cast<__m256i*>(out + i), r);
        const __m256i isZero = _mm256_cmpeq_epi16(r, _mm256_setzero_si256());
        // packs keeps each lane's eight flags in bytes 0-7 and 16-23.
        const uint32_t m = uint32_t(_mm256_movemask_epi8(_mm256_packs_epi16(isZero, isZero)));
        const uint32_t zeroBits = (m & 0xFF) | ((m >> 8) & 0xFF00);
        nonzero |= uint64_t(~zeroBits & 0xFFFF) << i;
    }
    return nonzero;
}

// pshufb masks that pull one channel's 16 values out of 48 bytes of B, G, R
// pixels, one mask per 16-byte load (-1 selects zero).
struct Shuffles {
    __m128i a[3], b[3], c[3];
};

inline Shuffles makeShuffles()
{
    Shuffles s;
    for (int ch = 0; ch < 3; ++ch) {
        alignas(16) int8_t ma[16], mb[16], mc[16];
        for (int i = 0; i < 16; ++i)
            ma[i] = mb[i] = mc[i] = -1;
        for (int p = 0; p < 16; ++p) {
            const int at = p * 3 + ch;
            if (at < 16)
                ma[p] = int8_t(at);
            else if (at < 32)
                mb[p] = int8_t(at - 16);
            else
                mc[p] = int8_t(at - 32);
        }
        s.a[ch] = _mm_load_si128(reinterpret_cast<const __m128i*>(ma));
        s.b[ch] = _mm_load_si128(reinterpret_cast<const __m128i*>(mb));
        s.c[ch] = _mm_load_si128(reinterpret_cast<const __m128i*>(mc));
    }
    return s;
}

// The colour tables are linear in each channel, so the same sums come out of
// multiply-adds: every coefficient is split into two halves that fit 16 bits.
void convertMcuAvx2(const uint8_t* const rows[16], JpegMcuSamples& out)
{
    static const Shuffles sh = makeShuffles();
    const __m256i kRG_Y = _mm256_set1_epi32((19235 << 16) | 19595);       // R*19595 + G*19235
    const __m256i kBG_Y = _mm256_set1_epi32((19235 << 16) | 7471);        // B*7471 + G*19235
    const __m256i kYBias = _mm256_set1_epi32(32768 - (128 << 16));       // rounding, level shift
    const __m128i kRB_Cb = _mm_set1_epi32((16384 << 16) | uint16_t(-11059)); // R*-11059 + B*16384
    const __m128i kGB_Cb = _mm_set1_epi32((16384 << 16) | uint16_t(-21709)); // G*-21709 + B*16384
    const __m128i kRG_Cr = _mm_set1_epi32((uint32_t(uint16_t(-27439)) << 16) | 16384); // R*16384 + G*-27439
    const __m128i kRB_Cr = _mm_set1_epi32((uint32_t(uint16_t(-5329)) << 16) | 16384);  // R*16384 + B*-5329
    const __m128i kCBias = _mm_set1_epi32(8421375);
    const __m128i k128 = _mm_set1_epi32(128);
    const __m128i kEven = _mm_set1_epi16(0x00FF);

    for (int r = 0; r < 16; ++r) {
        const uint8_t* px = rows[r];
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 32));
        __m128i ch8[3];
        for (int k = 0; k < 3; ++k)
            ch8[k] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, sh.a[k]), _mm_shuffle_epi8(b, sh.b[k])),
                                  _mm_shuffle_epi8(c, sh.c[k]));
        const __m256i B = _mm256_cvtepu8_epi16(ch8[0]);
        const __m256i G = _mm256_cvtepu8_epi16(ch8[1]);
        const __m256i R = _mm256_cvtepu8_epi16(ch8[2]);
        const __m256i yLo = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(R, G), kRG_Y),
                                              _mm256_madd_epi16(_mm256_unpacklo_epi16(B, G), kBG_Y)),
                             kYBias),
            16);
        const __m256i yHi = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(R, G), kRG_Y),
                                              _mm256_madd_epi16(_mm256_unpackhi_epi16(B, G), kBG_Y)),
                             kYBias),
            16);
        // unpack and pack both work per 128-bit lane, so the order comes back.
        const __m256i y = _mm256_packs_epi32(yLo, yHi);
        int16_t* yLeft = out.blocks[(r >> 3) * 2] + (r & 7) * 8;
        int16_t* yRight = out.blocks[(r >> 3) * 2 + 1] + (r & 7) * 8;
        _mm_store_si128(reinterpret_cast<__m128i*>(yLeft), _mm256_castsi256_si128(y));
        _mm_store_si128(reinterpret_cast<__m128i*>(yRight), _mm256_extracti128_si256(y, 1));

        if (r & 1)
            continue;
        // Even columns of an even row, as 16-bit values.
        const __m128i Be = _mm_and_si128(ch8[0], kEven);
        const __m128i Ge = _mm_and_si128(ch8[1], kEven);
        const __m128i Re = _mm_and_si128(ch8[2], kEven);
        const __m128i rbLo = _mm_unpacklo_epi16(Re, Be), rbHi = _mm_unpackhi_epi16(Re, Be);
        const __m128i gbLo = _mm_unpacklo_epi16(Ge, Be), gbHi = _mm_unpackhi_epi16(Ge, Be);
        const __m128i rgLo = _mm_unpacklo_epi16(Re, Ge), rgHi = _mm_unpackhi_epi16(Re, Ge);
        auto finish = [&](__m128i s) { return _mm_sub_epi32(_mm_srai_epi32(_mm_add_epi32(s, kCBias), 16), k128); };
        const __m128i cbLo = finish(_mm_add_epi32(_mm_madd_epi16(rbLo, kRB_Cb), _mm_madd_epi16(gbLo, kGB_Cb)));
        const __m128i cbHi = finish(_mm_add_epi32(_mm_madd_epi16(rbHi, kRB_Cb), _mm_madd_epi16(gbHi, kGB_Cb)));
        const __m128i crLo = finish(_mm_add_epi32(_mm_madd_epi16(rgLo, kRG_Cr), _mm_madd_epi16(rbLo, kRB_Cr)));
        const __m128i crHi = finish(_mm_add_epi32(_mm_madd_epi16(rgHi, kRG_Cr), _mm_madd_epi16(rbHi, kRB_Cr)));
        const int at = (r >> 1) * 8;
        _mm_store_si128(reinterpret_cast<__m128i*>(out.blocks[4] + at), _mm_packs_epi32(cbLo, cbHi));
        _mm_store_si128(reinterpret_cast<__m128i*>(out.blocks[5] + at), _mm_packs_epi32(crLo, crHi));
    }
}

const JpegKernels kAvx2 = {"avx2", convertMcuAvx2, fdctSimd, quantiseAvx2};

} // namespace

const JpegKernels* jpegKernelsAvx2() { return &kAvx2; }

} // namespace quillet
