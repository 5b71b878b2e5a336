#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "video/ColorConvert.h"
#include "video/ColorConvertKernels.h"

namespace quillet {
namespace {

constexpr int kGuard = 40;
constexpr uint8_t kGuardByte = 0xA5;

// One output plane with guard bytes before and after every row, so a kernel
// that writes one byte too many (or too few) is caught.
struct GuardedPlane {
    GuardedPlane(int32_t w, int32_t h) : width(w), height(h), stride(w + 2 * kGuard)
    {
        bytes.assign(static_cast<size_t>(stride) * h, kGuardByte);
    }
    uint8_t* row(int32_t y) { return bytes.data() + static_cast<size_t>(y) * stride + kGuard; }
    bool guards_intact() const
    {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t i = 0; i < stride; ++i)
                if ((i < kGuard || i >= kGuard + width) && bytes[static_cast<size_t>(y) * stride + i] != kGuardByte)
                    return false;
        return true;
    }
    std::vector<uint8_t> content() const
    {
        std::vector<uint8_t> out;
        for (int32_t y = 0; y < height; ++y)
            out.insert(out.end(), bytes.begin() + y * stride + kGuard, bytes.begin() + y * stride + kGuard + width);
        return out;
    }
    int32_t width, height, stride;
    std::vector<uint8_t> bytes;
};

struct Output {
    Output(int32_t w, int32_t h) : y(w, h), u(w / 2, h / 2), v(w / 2, h / 2) {}
    GuardedPlane y, u, v;
};

// Runs a kernel over a top-down frame, row pair by row pair.
void run(RowPairFn fn, const std::vector<uint8_t>& src, int bpp, int32_t w, int32_t h, Output& out)
{
    for (int32_t r = 0; r < h; r += 2)
        fn(src.data() + static_cast<size_t>(r) * w * bpp, src.data() + static_cast<size_t>(r + 1) * w * bpp, w,
           out.y.row(r), out.y.row(r + 1), out.u.row(r / 2), out.v.row(r / 2));
}

// Random pixels mixed with the extremes that reach the limits of every sum.
std::vector<uint8_t> test_frame(int32_t w, int32_t h, int bpp, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * bpp);
    static const uint8_t extremes[][3] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                                          {255, 255, 0}, {0, 255, 255}, {255, 0, 255}};
    for (size_t p = 0; p < f.size() / bpp; ++p) {
        uint8_t* px = f.data() + p * bpp;
        const unsigned pick = rng() % 16;
        for (int c = 0; c < bpp; ++c)
            px[c] = pick < 8 && c < 3 ? extremes[pick][c] : static_cast<uint8_t>(rng());
    }
    return f;
}

std::string level_name(SimdLevel level)
{
    return level == SimdLevel::Sse2 ? "Sse2" : "Avx2";
}

class I420SimdTest : public ::testing::TestWithParam<SimdLevel> {
protected:
    const ColorConvertKernels* kernels()
    {
        return color_convert_kernels(GetParam());
    }
};

TEST_P(I420SimdTest, RowPairKernelsMatchScalarAtEveryWidth)
{
    const ColorConvertKernels* k = kernels();
    if (k == nullptr)
        GTEST_SKIP() << "not available on this CPU or build";
    const ColorConvertKernels& ref = scalar_color_convert_kernels();
    const int32_t widths[] = {2, 4, 6, 8, 10, 14, 16, 18, 30, 32, 34, 36, 62, 64, 66, 68, 98, 126, 130, 642};
    for (int bpp : {3, 4}) {
        for (int32_t w : widths) {
            const int32_t h = 6;
            const std::vector<uint8_t> src = test_frame(w, h, bpp, static_cast<unsigned>(w * 10 + bpp));
            Output want(w, h), got(w, h);
            run(bpp == 3 ? ref.bgr24_row_pair : ref.bgra32_row_pair, src, bpp, w, h, want);
            run(bpp == 3 ? k->bgr24_row_pair : k->bgra32_row_pair, src, bpp, w, h, got);
            SCOPED_TRACE("bpp " + std::to_string(bpp) + " width " + std::to_string(w));
            EXPECT_EQ(got.y.content(), want.y.content());
            EXPECT_EQ(got.u.content(), want.u.content());
            EXPECT_EQ(got.v.content(), want.v.content());
            EXPECT_TRUE(got.y.guards_intact());
            EXPECT_TRUE(got.u.guards_intact());
            EXPECT_TRUE(got.v.guards_intact());
        }
    }
}

TEST_P(I420SimdTest, Rgb555ExpansionMatchesScalar)
{
    const ColorConvertKernels* k = kernels();
    if (k == nullptr)
        GTEST_SKIP() << "not available on this CPU or build";
    std::mt19937 rng(5);
    for (size_t n = 0; n <= 70; ++n) {
        std::vector<uint8_t> src(2 * n + 1);
        for (auto& b : src)
            b = static_cast<uint8_t>(rng());
        std::vector<uint8_t> want(4 * n + kGuard, kGuardByte), got(4 * n + kGuard, kGuardByte);
        scalar_color_convert_kernels().rgb555_to_bgra32(src.data(), want.data(), n);
        k->rgb555_to_bgra32(src.data(), got.data(), n);
        ASSERT_EQ(got, want) << n << " pixels";
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, I420SimdTest, ::testing::Values(SimdLevel::Sse2, SimdLevel::Avx2),
                         [](const auto& info) { return level_name(info.param); });

// The public entry point with the path in use, into planes with negative
// strides (a bottom-up view of the destination), against the scalar kernels.
TEST(I420Simd, ActivePathWritesNegativeStridePlanesLikeScalar)
{
    const int32_t w = 98, h = 10;
    for (PixelLayout layout : {PixelLayout::Bgr24, PixelLayout::Bgra32}) {
        const int bpp = bytes_per_pixel(layout);
        const std::vector<uint8_t> src = test_frame(w, h, bpp, 99);
        Output got(w, h);
        I420Planes planes;
        planes.y = got.y.row(h - 1);
        planes.u = got.u.row(h / 2 - 1);
        planes.v = got.v.row(h / 2 - 1);
        planes.stride_y = -got.y.stride;
        planes.stride_u = -got.u.stride;
        planes.stride_v = -got.v.stride;
        // Top-down source into an upside-down destination: stored rows match a
        // bottom-up conversion into an ordinary picture.
        ASSERT_EQ(convert_to_i420(src.data(), layout, w, h, false, planes), 1);
        I420Picture want;
        ASSERT_EQ(want.allocate(w, h), 1);
        {
            const ColorConvertKernels& ref = scalar_color_convert_kernels();
            const RowPairFn fn = bpp == 3 ? ref.bgr24_row_pair : ref.bgra32_row_pair;
            for (int32_t r = 0; r < h; r += 2) {
                const int32_t s0 = h - 1 - r;
                fn(src.data() + static_cast<size_t>(s0) * w * bpp, src.data() + static_cast<size_t>(s0 - 1) * w * bpp, w,
                   want.y() + r * w, want.y() + (r + 1) * w, want.u() + r / 2 * (w / 2), want.v() + r / 2 * (w / 2));
            }
        }
        EXPECT_EQ(got.y.content(), std::vector<uint8_t>(want.y(), want.y() + w * h));
        EXPECT_EQ(got.u.content(), std::vector<uint8_t>(want.u(), want.u() + w * h / 4));
        EXPECT_EQ(got.v.content(), std::vector<uint8_t>(want.v(), want.v() + w * h / 4));
        EXPECT_TRUE(got.y.guards_intact() && got.u.guards_intact() && got.v.guards_intact());
    }
}

TEST(I420Simd, EnvironmentSwitchForcesScalar)
{
    EXPECT_STREQ(select_color_convert_kernels(true).name, "scalar");
    const char* env = std::getenv("QUILLET_FORCE_SCALAR");
    const bool forced = env != nullptr && env[0] != '\0' && std::strcmp(env, "0") != 0;
    if (forced)
        EXPECT_STREQ(color_convert_path_name(), "scalar");
    else
        EXPECT_STREQ(color_convert_path_name(), select_color_convert_kernels(false).name);
#if defined(QUILLET_X86_SIMD)
    EXPECT_STRNE(select_color_convert_kernels(false).name, "scalar");
#endif
}

} // namespace
} // namespace quillet
