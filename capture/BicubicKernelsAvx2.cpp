// Built with -mavx2; only called after a run-time check of the processor.
#include "capture/BicubicKernels.h"

#include <immintrin.h>

namespace quillet {

size_t bicubicRowAvx2(const uint8_t* s0, const uint8_t* s1, const uint8_t* s2, const uint8_t* s3, uint8_t* d,
                      size_t bytes, const int32_t weight[4])
{
    // The 16-byte kernel's arithmetic on both 128-bit lanes at once: the
    // unpacks and packs work within a lane, so the bytes come back in order.
    const __m256i w01 = _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(weight[1]) << 16) |
                                                               (static_cast<uint32_t>(weight[0]) & 0xFFFF)));
    const __m256i w23 = _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(weight[3]) << 16) |
                                                               (static_cast<uint32_t>(weight[2]) & 0xFFFF)));
    const __m256i half = _mm256_set1_epi32(1 << (kBicubicWeightBits - 1));
    const __m256i zero = _mm256_setzero_si256();
    auto filter = [&](__m256i ab, __m256i cd) {
        const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(ab, w01), _mm256_madd_epi16(cd, w23));
        return _mm256_srai_epi32(_mm256_add_epi32(sum, half), kBicubicWeightBits);
    };
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s0 + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s1 + i));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s2 + i));
        const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s3 + i));
        const __m256i al = _mm256_unpacklo_epi8(a, zero), ah = _mm256_unpackhi_epi8(a, zero);
        const __m256i bl = _mm256_unpacklo_epi8(b, zero), bh = _mm256_unpackhi_epi8(b, zero);
        const __m256i cl = _mm256_unpacklo_epi8(c, zero), ch = _mm256_unpackhi_epi8(c, zero);
        const __m256i el = _mm256_unpacklo_epi8(e, zero), eh = _mm256_unpackhi_epi8(e, zero);
        const __m256i r0 = filter(_mm256_unpacklo_epi16(al, bl), _mm256_unpacklo_epi16(cl, el));
        const __m256i r1 = filter(_mm256_unpackhi_epi16(al, bl), _mm256_unpackhi_epi16(cl, el));
        const __m256i r2 = filter(_mm256_unpacklo_epi16(ah, bh), _mm256_unpacklo_epi16(ch, eh));
        const __m256i r3 = filter(_mm256_unpackhi_epi16(ah, bh), _mm256_unpackhi_epi16(ch, eh));
        const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(r0, r1), _mm256_packs_epi32(r2, r3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), packed);
    }
    return i;
}

} // namespace quillet
