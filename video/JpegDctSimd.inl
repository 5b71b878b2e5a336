// The 128-bit fast DCT and quantiser, included by each SIMD variant's source
// file so that every variant compiles it with its own instruction-set flags.
// Everything here has internal linkage: the copies never merge across files.
// Include <emmintrin.h> before opening the namespace that wraps this file.

namespace {

// (x * c) >> 8 in 16-bit lanes, exact whenever the result fits 16 bits (the
// transform's intermediates stay below 23000 for 8-bit samples).
inline __m128i mulShift8(__m128i x, __m128i c)
{
    const __m128i lo = _mm_mullo_epi16(x, c);
    const __m128i hi = _mm_mulhi_epi16(x, c);
    return _mm_or_si128(_mm_slli_epi16(hi, 8), _mm_srli_epi16(lo, 8));
}

inline void transpose8(__m128i r[8])
{
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// The same butterfly as the scalar fdct8, on eight transforms at once:
// d[k] holds element k of each.
inline void fdct8Lanes(__m128i d[8])
{
    const __m128i c382 = _mm_set1_epi16(98), c541 = _mm_set1_epi16(139);
    const __m128i c707 = _mm_set1_epi16(181), c1306 = _mm_set1_epi16(334);
    const __m128i tmp0 = _mm_add_epi16(d[0], d[7]), tmp7 = _mm_sub_epi16(d[0], d[7]);
    const __m128i tmp1 = _mm_add_epi16(d[1], d[6]), tmp6 = _mm_sub_epi16(d[1], d[6]);
    const __m128i tmp2 = _mm_add_epi16(d[2], d[5]), tmp5 = _mm_sub_epi16(d[2], d[5]);
    const __m128i tmp3 = _mm_add_epi16(d[3], d[4]), tmp4 = _mm_sub_epi16(d[3], d[4]);

    const __m128i e10 = _mm_add_epi16(tmp0, tmp3), e13 = _mm_sub_epi16(tmp0, tmp3);
    const __m128i e11 = _mm_add_epi16(tmp1, tmp2), e12 = _mm_sub_epi16(tmp1, tmp2);
    d[0] = _mm_add_epi16(e10, e11);
    d[4] = _mm_sub_epi16(e10, e11);
    const __m128i z1 = mulShift8(_mm_add_epi16(e12, e13), c707);
    d[2] = _mm_add_epi16(e13, z1);
    d[6] = _mm_sub_epi16(e13, z1);

    const __m128i o10 = _mm_add_epi16(tmp4, tmp5);
    const __m128i o11 = _mm_add_epi16(tmp5, tmp6);
    const __m128i o12 = _mm_add_epi16(tmp6, tmp7);
    const __m128i z5 = mulShift8(_mm_sub_epi16(o10, o12), c382);
    const __m128i z2 = _mm_add_epi16(mulShift8(o10, c541), z5);
    const __m128i z4 = _mm_add_epi16(mulShift8(o12, c1306), z5);
    const __m128i z3 = mulShift8(o11, c707);
    const __m128i z11 = _mm_add_epi16(tmp7, z3), z13 = _mm_sub_epi16(tmp7, z3);
    d[5] = _mm_add_epi16(z13, z2);
    d[3] = _mm_sub_epi16(z13, z2);
    d[1] = _mm_add_epi16(z11, z4);
    d[7] = _mm_sub_epi16(z11, z4);
}

void fdctSimd(int16_t block[64])
{
    __m128i r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    transpose8(r); // r[k] = element k of every row
    fdct8Lanes(r); // row transforms
    transpose8(r); // r[i] = row i of the row-transformed block
    fdct8Lanes(r); // column transforms: r[u] = output row u
    for (int i = 0; i < 8; ++i)
        _mm_store_si128(reinterpret_cast<__m128i*>(block + 8 * i), r[i]);
}

// Rounded division of |x| + divisor / 2 by the divisor, done in single
// precision: the dividend is below 2^16 and the divisor below 2^12, so the
// correctly rounded quotient truncates to the exact integer quotient.
[[maybe_unused]] uint64_t quantiseSimd128(const int16_t in[64], const quillet::JpegQuantTable& table, int16_t out[64])
{
    const __m128i zero = _mm_setzero_si128();
    uint64_t nonzero = 0;
    for (int i = 0; i < 64; i += 8) {
        const __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i h = _mm_load_si128(reinterpret_cast<const __m128i*>(table.halves + i));
        const __m128i sign = _mm_srai_epi16(x, 15);
        const __m128i mag = _mm_sub_epi16(_mm_xor_si128(x, sign), sign);
        const __m128i n = _mm_add_epi16(mag, h);
        const __m128 nLo = _mm_cvtepi32_ps(_mm_unpacklo_epi16(n, zero));
        const __m128 nHi = _mm_cvtepi32_ps(_mm_unpackhi_epi16(n, zero));
        const __m128i qLo = _mm_cvttps_epi32(_mm_div_ps(nLo, _mm_load_ps(table.divisorsF + i)));
        const __m128i qHi = _mm_cvttps_epi32(_mm_div_ps(nHi, _mm_load_ps(table.divisorsF + i + 4)));
        const __m128i q = _mm_packs_epi32(qLo, qHi);
        const __m128i r = _mm_sub_epi16(_mm_xor_si128(q, sign), sign);
        _mm_store_si128(reinterpret_cast<__m128i*>(out + i), r);
        const __m128i isZero = _mm_cmpeq_epi16(r, zero);
        const uint32_t zeroBits = uint32_t(_mm_movemask_epi8(_mm_packs_epi16(isZero, isZero))) & 0xFF;
        nonzero |= uint64_t(~zeroBits & 0xFF) << i;
    }
    return nonzero;
}

} // namespace
