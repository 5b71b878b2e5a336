#include "video/JpegDct.h"

#include "base/SimdSwitch.h"

namespace quillet {

namespace {

// The AAN constants in 8 fractional bits: 0.382683433, 0.541196100,
// 0.707106781, 1.306562965. Products drop their low 8 bits (arithmetic shift).
constexpr int32_t kC0_382 = 98;
constexpr int32_t kC0_541 = 139;
constexpr int32_t kC0_707 = 181;
constexpr int32_t kC1_306 = 334;

inline int32_t mul(int32_t x, int32_t c) { return (x * c) >> 8; }

// One 8-point transform over elements p[0], p[step], ... p[7 * step].
inline void fdct8(int16_t* p, int step)
{
    const int32_t d0 = p[0], d1 = p[step], d2 = p[2 * step], d3 = p[3 * step];
    const int32_t d4 = p[4 * step], d5 = p[5 * step], d6 = p[6 * step], d7 = p[7 * step];
    const int32_t tmp0 = d0 + d7, tmp7 = d0 - d7;
    const int32_t tmp1 = d1 + d6, tmp6 = d1 - d6;
    const int32_t tmp2 = d2 + d5, tmp5 = d2 - d5;
    const int32_t tmp3 = d3 + d4, tmp4 = d3 - d4;

    const int32_t e10 = tmp0 + tmp3, e13 = tmp0 - tmp3;
    const int32_t e11 = tmp1 + tmp2, e12 = tmp1 - tmp2;
    p[0] = int16_t(e10 + e11);
    p[4 * step] = int16_t(e10 - e11);
    const int32_t z1 = mul(e12 + e13, kC0_707);
    p[2 * step] = int16_t(e13 + z1);
    p[6 * step] = int16_t(e13 - z1);

    const int32_t o10 = tmp4 + tmp5, o11 = tmp5 + tmp6, o12 = tmp6 + tmp7;
    const int32_t z5 = mul(o10 - o12, kC0_382);
    const int32_t z2 = mul(o10, kC0_541) + z5;
    const int32_t z4 = mul(o12, kC1_306) + z5;
    const int32_t z3 = mul(o11, kC0_707);
    const int32_t z11 = tmp7 + z3, z13 = tmp7 - z3;
    p[5 * step] = int16_t(z13 + z2);
    p[3 * step] = int16_t(z13 - z2);
    p[1 * step] = int16_t(z11 + z4);
    p[7 * step] = int16_t(z11 - z4);
}

} // namespace

void jpegFdctScalar(int16_t block[64])
{
    for (int row = 0; row < 8; ++row)
        fdct8(block + row * 8, 1);
    for (int col = 0; col < 8; ++col)
        fdct8(block + col, 8);
}

uint64_t jpegQuantiseScalar(const int16_t in[64], const JpegQuantTable& table, int16_t out[64])
{
    uint64_t nonzero = 0;
    for (int i = 0; i < 64; ++i) {
        const int32_t x = in[i];
        const int32_t d = table.divisors[i];
        const int32_t h = table.halves[i];
        out[i] = int16_t(x >= 0 ? (x + h) / d : -((h - x) / d));
        nonzero |= uint64_t(out[i] != 0) << i;
    }
    return nonzero;
}

void jpegConvertMcuScalar(const uint8_t* const rows[16], JpegMcuSamples& out)
{
    const JpegColourTables& t = jpegColourTables();
    for (int r = 0; r < 16; ++r) {
        const uint8_t* px = rows[r];
        int16_t* yLeft = out.blocks[(r >> 3) * 2] + (r & 7) * 8;
        int16_t* yRight = out.blocks[(r >> 3) * 2 + 1] + (r & 7) * 8;
        for (int c = 0; c < 16; ++c, px += 3) {
            const int b = px[0], g = px[1], rd = px[2];
            const int16_t y = int16_t(((t.rY[rd] + t.gY[g] + t.bY[b]) >> 16) - 128);
            (c < 8 ? yLeft[c] : yRight[c - 8]) = y;
            if (((r | c) & 1) == 0) {
                const int at = (r >> 1) * 8 + (c >> 1);
                out.blocks[4][at] = int16_t(((t.rCb[rd] + t.gCb[g] + t.bCbrCr[b]) >> 16) - 128);
                out.blocks[5][at] = int16_t(((t.bCbrCr[rd] + t.gCr[g] + t.bCr[b]) >> 16) - 128);
            }
        }
    }
}

namespace {

} // namespace

const JpegKernels& jpegKernelsFromEnvironment()
{
    if (!scalarKernelsForced()) {
        if (const JpegKernels* k = jpegKernelsFor(JpegKernelLevel::Avx2))
            return *k;
        if (const JpegKernels* k = jpegKernelsFor(JpegKernelLevel::Sse2))
            return *k;
    }
    return kJpegKernelsScalar;
}

const JpegKernels kJpegKernelsScalar = {"scalar", jpegConvertMcuScalar, jpegFdctScalar, jpegQuantiseScalar};

const JpegKernels* jpegKernelsFor(JpegKernelLevel level)
{
    switch (level) {
    case JpegKernelLevel::Scalar:
        return &kJpegKernelsScalar;
    case JpegKernelLevel::Sse2:
        return __builtin_cpu_supports("sse2") ? jpegKernelsSse2() : nullptr;
    case JpegKernelLevel::Avx2:
        return __builtin_cpu_supports("avx2") ? jpegKernelsAvx2() : nullptr;
    }
    return nullptr;
}

const JpegKernels& jpegKernels()
{
    static const JpegKernels& chosen = jpegKernelsFromEnvironment();
    return chosen;
}

} // namespace quillet
