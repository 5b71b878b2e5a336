// The JPEG arithmetic: the fast DCT against a double-precision DCT, and every
// vector variant against the scalar reference, number for number and file for
// file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "tests/video/ImageTestSupport.h"
#include "video/JpegDct.h"
#include "video/JpegEncoder.h"

namespace quillet {
namespace {

std::vector<const JpegKernels*> vectorVariants()
{
    std::vector<const JpegKernels*> v;
    for (JpegKernelLevel level : {JpegKernelLevel::Sse2, JpegKernelLevel::Avx2})
        if (const JpegKernels* k = jpegKernelsFor(level))
            v.push_back(k);
    return v;
}

// Blocks that push the transform to its extremes: flat limits, checkerboards
// and the sign pattern of every basis function.
std::vector<std::array<int16_t, 64>> extremeBlocks()
{
    std::vector<std::array<int16_t, 64>> blocks;
    const double pi = std::acos(-1.0);
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v)
            for (int polarity : {1, -1}) {
                std::array<int16_t, 64> b{};
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x) {
                        const double c = std::cos((2 * y + 1) * u * pi / 16) * std::cos((2 * x + 1) * v * pi / 16);
                        b[y * 8 + x] = int16_t((c * polarity >= 0) ? 127 : -128);
                    }
                blocks.push_back(b);
            }
    std::array<int16_t, 64> flat{};
    flat.fill(-128);
    blocks.push_back(flat);
    flat.fill(127);
    blocks.push_back(flat);
    return blocks;
}

TEST(JpegDct, FastTransformTracksTheExactDct)
{
    // The fast transform's output is the exact DCT scaled by 8 f(u) f(v),
    // which the divisors undo; its 8-bit constants cost a few units.
    const double pi = std::acos(-1.0);
    std::mt19937 rng(5);
    auto blocks = extremeBlocks();
    for (int n = 0; n < 200; ++n) {
        std::array<int16_t, 64> b;
        for (auto& s : b)
            s = int16_t(int(rng() % 256) - 128);
        blocks.push_back(b);
    }
    double f[8];
    f[0] = 1.0;
    for (int k = 1; k < 8; ++k)
        f[k] = std::sqrt(2.0) * std::cos(k * pi / 16);
    double worst = 0.0;
    for (const auto& b : blocks) {
        alignas(32) int16_t coef[64];
        std::memcpy(coef, b.data(), sizeof coef);
        jpegFdctScalar(coef);
        for (int u = 0; u < 8; ++u)
            for (int v = 0; v < 8; ++v) {
                double sum = 0.0;
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        sum += b[y * 8 + x] * std::cos((2 * y + 1) * u * pi / 16) * std::cos((2 * x + 1) * v * pi / 16);
                const double cu = u == 0 ? std::sqrt(0.5) : 1.0, cv = v == 0 ? std::sqrt(0.5) : 1.0;
                const double exact = 0.25 * cu * cv * sum;
                const double fast = coef[u * 8 + v] / (8.0 * f[u] * f[v]);
                worst = std::max(worst, std::abs(exact - fast));
            }
    }
    EXPECT_LT(worst, 6.0); // in units of the standard DCT, whose range is +-1024
}

TEST(JpegKernels, VectorVariantsMatchScalarExactly)
{
    const auto variants = vectorVariants();
    if (variants.empty())
        GTEST_SKIP() << "no vector variant on this processor";
    std::mt19937 rng(17);

    // Colour conversion: random pixels plus the corners of the colour cube.
    for (int n = 0; n < 300; ++n) {
        std::vector<uint8_t> px(16 * 48);
        for (auto& p : px)
            p = n < 8 ? uint8_t(((n >> (&p - px.data()) % 3) & 1) ? 255 : 0) : uint8_t(rng());
        const uint8_t* rows[16];
        for (int r = 0; r < 16; ++r)
            rows[r] = px.data() + r * 48;
        JpegMcuSamples ref, got;
        kJpegKernelsScalar.convertMcu(rows, ref);
        for (const JpegKernels* k : variants) {
            std::memset(&got, 0x55, sizeof got);
            k->convertMcu(rows, got);
            ASSERT_EQ(std::memcmp(&ref, &got, sizeof ref), 0) << k->name << " sample " << n;
        }
    }

    // Transform.
    auto blocks = extremeBlocks();
    for (int n = 0; n < 2000; ++n) {
        std::array<int16_t, 64> b;
        const int span = n % 2 ? 256 : 16;
        for (auto& s : b)
            s = int16_t(int(rng() % span) - span / 2);
        blocks.push_back(b);
    }
    for (const auto& b : blocks) {
        // got has 16 guard entries behind the block that must stay untouched.
        alignas(32) int16_t ref[64], got[80];
        std::memcpy(ref, b.data(), sizeof ref);
        jpegFdctScalar(ref);
        for (const JpegKernels* k : variants) {
            std::fill(got + 64, got + 80, int16_t(0x5A5A));
            std::memcpy(got, b.data(), sizeof ref);
            k->fdct(got);
            ASSERT_EQ(std::memcmp(ref, got, sizeof ref), 0) << k->name;
            ASSERT_TRUE(std::all_of(got + 64, got + 80, [](int16_t g) { return g == 0x5A5A; })) << k->name;
        }
    }

    // Quantiser over every quality's tables and the full range of transform outputs.
    for (int q = 1; q <= 100; ++q) {
        JpegQuantTable t;
        buildQuantTable(q % 2 ? kJpegLumaQuant : kJpegChromaQuant, jpegQualityScale(q), t);
        for (int n = 0; n < 40; ++n) {
            alignas(32) int16_t in[64], ref[64], got[80];
            std::fill(got + 64, got + 80, int16_t(0x5A5A));
            for (int i = 0; i < 64; ++i) {
                const int32_t v = n % 3 ? int32_t(rng() % 46001) - 23000 : int32_t(rng() % 601) - 300;
                in[i] = int16_t(n == 0 ? (i % 2 ? 23000 : -23000) : v);
            }
            const uint64_t refMask = jpegQuantiseScalar(in, t, ref);
            uint64_t expectMask = 0;
            for (int i = 0; i < 64; ++i)
                expectMask |= uint64_t(ref[i] != 0) << i;
            ASSERT_EQ(refMask, expectMask);
            for (const JpegKernels* k : variants) {
                ASSERT_EQ(k->quantise(in, t, got), refMask) << k->name << " q" << q;
                ASSERT_EQ(std::memcmp(ref, got, sizeof ref), 0) << k->name << " q" << q;
                ASSERT_TRUE(std::all_of(got + 64, got + 80, [](int16_t g) { return g == 0x5A5A; })) << k->name;
            }
        }
    }
}

TEST(JpegKernels, QuantiserRoundsHalvesAwayFromZero)
{
    JpegQuantTable t;
    buildQuantTable(kJpegLumaQuant, 100, t); // DC divisor 16 * 16384 / 2048 = 128
    ASSERT_EQ(t.divisors[0], 128);
    alignas(32) int16_t in[64] = {}, out[64];
    for (const JpegKernels* k : {&kJpegKernelsScalar, jpegKernelsFor(JpegKernelLevel::Avx2)}) {
        if (k == nullptr)
            continue;
        for (auto [x, expect] : {std::pair{63, 0}, {64, 1}, {-63, 0}, {-64, -1}, {191, 1}, {192, 2}, {-192, -2}}) {
            in[0] = int16_t(x);
            k->quantise(in, t, out);
            EXPECT_EQ(out[0], expect) << k->name << " " << x;
        }
    }
}

// Whole files: every variant writes the scalar reference's bytes.
TEST(JpegKernels, VectorVariantsWriteIdenticalFiles)
{
    const auto variants = vectorVariants();
    if (variants.empty())
        GTEST_SKIP() << "no vector variant on this processor";
    for (auto [w, h] : {std::pair{47, 33}, std::pair{320, 240}, std::pair{17, 1}}) {
        for (int kind = 0; kind < 2; ++kind) {
            const test::Bgr24Image img = kind ? test::makeNoise(w, h, 8) : test::makePattern(w, h, 8);
            for (int q : {1, 30, 75, 80, 100}) {
                std::vector<uint8_t> ref(size_t(w) * h * 3 + 700000), got(ref.size());
                size_t refSize = 0, gotSize = 0;
                JpegEncoder enc(q);
                enc.set_kernels(kJpegKernelsScalar);
                ASSERT_EQ(enc.encode_image(img.bytes.data(), ref.data(), ref.size(), w, h, &refSize), 1);
                for (const JpegKernels* k : variants) {
                    enc.set_kernels(*k);
                    ASSERT_EQ(enc.encode_image(img.bytes.data(), got.data(), got.size(), w, h, &gotSize), 1);
                    ASSERT_EQ(refSize, gotSize) << k->name;
                    ASSERT_EQ(std::memcmp(ref.data(), got.data(), refSize), 0) << k->name << " q" << q;
                }
            }
        }
    }
}

TEST(JpegKernels, EnvironmentForcesScalar)
{
    const char* saved = std::getenv("QUILLET_FORCE_SCALAR");
    const std::string keep = saved ? saved : "";
    setenv("QUILLET_FORCE_SCALAR", "1", 1);
    EXPECT_STREQ(jpegKernelsFromEnvironment().name, "scalar");
    setenv("QUILLET_FORCE_SCALAR", "0", 1);
    const JpegKernels* best = jpegKernelsFor(JpegKernelLevel::Avx2);
    if (best == nullptr)
        best = jpegKernelsFor(JpegKernelLevel::Sse2);
    EXPECT_STREQ(jpegKernelsFromEnvironment().name, best ? best->name : "scalar");
    if (saved)
        setenv("QUILLET_FORCE_SCALAR", keep.c_str(), 1);
    else
        unsetenv("QUILLET_FORCE_SCALAR");
}

} // namespace
} // namespace quillet
