#include "capture/BicubicKernels.h"

#include "base/SimdSwitch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillet {

#if defined(QUILLET_CAPTURE_AVX2)
size_t bicubicRowAvx2(const uint8_t* s0, const uint8_t* s1, const uint8_t* s2, const uint8_t* s3, uint8_t* d,
                      size_t bytes, const int32_t weight[4]);
#endif

size_t bicubicRow16(const uint8_t* s0, const uint8_t* s1, const uint8_t* s2, const uint8_t* s3, uint8_t* d,
                    size_t bytes, const int32_t weight[4])
{
    size_t i = 0;
#if defined(__SSE2__)
    // Pairs of rows multiplied and summed into 32 bits, rounded, shifted, and
    // clamped to 0..255 by the saturating packs: the plain loop's arithmetic.
    const __m128i w01 = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(weight[1]) << 16) |
                                                            (static_cast<uint32_t>(weight[0]) & 0xFFFF)));
    const __m128i w23 = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(weight[3]) << 16) |
                                                            (static_cast<uint32_t>(weight[2]) & 0xFFFF)));
    const __m128i half = _mm_set1_epi32(1 << (kBicubicWeightBits - 1));
    const __m128i zero = _mm_setzero_si128();
    auto filter4 = [&](__m128i ab, __m128i cd) {
        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(ab, w01), _mm_madd_epi16(cd, w23));
        return _mm_srai_epi32(_mm_add_epi32(sum, half), kBicubicWeightBits);
    };
    for (; i + 16 <= bytes; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0 + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1 + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s2 + i));
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s3 + i));
        const __m128i al = _mm_unpacklo_epi8(a, zero), ah = _mm_unpackhi_epi8(a, zero);
        const __m128i bl = _mm_unpacklo_epi8(b, zero), bh = _mm_unpackhi_epi8(b, zero);
        const __m128i cl = _mm_unpacklo_epi8(c, zero), ch = _mm_unpackhi_epi8(c, zero);
        const __m128i el = _mm_unpacklo_epi8(e, zero), eh = _mm_unpackhi_epi8(e, zero);
        const __m128i r0 = filter4(_mm_unpacklo_epi16(al, bl), _mm_unpacklo_epi16(cl, el));
        const __m128i r1 = filter4(_mm_unpackhi_epi16(al, bl), _mm_unpackhi_epi16(cl, el));
        const __m128i r2 = filter4(_mm_unpacklo_epi16(ah, bh), _mm_unpacklo_epi16(ch, eh));
        const __m128i r3 = filter4(_mm_unpackhi_epi16(ah, bh), _mm_unpackhi_epi16(ch, eh));
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(r0, r1), _mm_packs_epi32(r2, r3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), packed);
    }
#else
    (void)s0, (void)s1, (void)s2, (void)s3, (void)d, (void)bytes, (void)weight;
#endif
    return i;
}

BicubicRowKernel bicubicRowKernelWide()
{
    static const BicubicRowKernel chosen = []() -> BicubicRowKernel {
        if (scalarKernelsForced())
            return nullptr;
#if defined(QUILLET_CAPTURE_AVX2)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2"))
            return &bicubicRowAvx2;
#endif
        return nullptr;
    }();
    return chosen;
}

} // namespace quillet
