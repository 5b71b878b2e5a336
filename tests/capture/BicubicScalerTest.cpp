#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "capture/BicubicScaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace quillet {
namespace {

struct Picture {
    std::vector<uint8_t> bits;
    PixelView view;
    Picture(int w, int h, uint8_t bpp) : bits(static_cast<size_t>(w) * h * (bpp / 8))
    {
        for (size_t i = 0; i < bits.size(); ++i)
            bits[i] = static_cast<uint8_t>((i * 2654435761u) >> 24);
        view = PixelView{bits.data(), w, h, w * (bpp / 8), bpp};
    }
};

// Rescaling only the rows a change reaches must give exactly the picture a
// whole-picture scale gives, or the coders would see seams.
TEST(BicubicScaler, RowUpdatesEqualAWholeScale)
{
    struct Case {
        int sw, sh, dw, dh;
        uint8_t bpp;
    } cases[] = {{1920, 1080, 1920, 1088, 32}, {2560, 1440, 1920, 1088, 32}, {1366, 768, 1360, 768, 32}};
    for (const Case& c : cases) {
        Picture src(c.sw, c.sh, c.bpp);
        const int32_t stride = c.dw * (c.bpp / 8);
        std::vector<uint8_t> partial(static_cast<size_t>(stride) * c.dh);
        std::vector<uint8_t> whole(partial.size());
        BicubicScaler s;
        ASSERT_EQ(s.open(c.sw, c.sh, c.dw, c.dh, c.bpp), 1);
        ASSERT_EQ(s.scale(src.view, partial.data(), stride), 1);

        // Two bands change; only the rows they reach are scaled again.
        const int bands[2][2] = {{c.sh / 5, c.sh / 5 + 40}, {c.sh - 30, c.sh}};
        BicubicScaler::RowRange ranges[2];
        for (int b = 0; b < 2; ++b) {
            for (int y = bands[b][0]; y < bands[b][1]; ++y)
                for (int x = 0; x < src.view.stride; ++x)
                    src.view.row(y)[x] ^= 0x5A;
            ranges[b] = s.affectedRows(bands[b][0], bands[b][1] - 1);
        }
        ASSERT_EQ(s.scaleRows(src.view, partial.data(), stride, ranges, 2), 1);
        ASSERT_EQ(s.scale(src.view, whole.data(), stride), 1);
        EXPECT_EQ(std::memcmp(partial.data(), whole.data(), whole.size()), 0) << c.sw << "x" << c.sh;
        EXPECT_LT(ranges[0].count, c.dh / 4);
    }
}

// Our vertical filter stands in for the library's bicubic scale of a 1920 x
// 1080 screen into its 1920 x 1088 frame: the picture must look the same
// (rounding aside), columns scaled on their own must match a whole scale, and
// flat areas must keep their exact colour.
TEST(BicubicScaler, VerticalFilterDrawsWhatTheLibraryDraws)
{
    const int sw = 1920, sh = 1080, dh = 1088;
    Picture src(sw, sh, 32);
    // Smooth gradients with a few hard edges, like a desktop; random bytes
    // would only measure ringing.
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            uint8_t* p = src.view.row(y) + x * 4;
            const bool edge = (y / 37 + x / 53) % 5 == 0;
            p[0] = static_cast<uint8_t>(edge ? 250 : x / 8);
            p[1] = static_cast<uint8_t>(edge ? 10 : y / 5);
            p[2] = static_cast<uint8_t>((x + y) / 12);
            p[3] = 0;
        }
    const int32_t stride = sw * 4;
    std::vector<uint8_t> ours(static_cast<size_t>(stride) * dh), library(ours.size());
    BicubicScaler s;
    ASSERT_EQ(s.open(sw, sh, sw, dh, 32), 1);
    ASSERT_TRUE(s.verticalOnly());
    ASSERT_EQ(s.scale(src.view, ours.data(), stride), 1);

    SwsContext* ctx = sws_getContext(sw, sh, AV_PIX_FMT_BGRA, sw, dh, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr,
                                     nullptr);
    ASSERT_NE(ctx, nullptr);
    const uint8_t* in[4] = {src.bits.data(), nullptr, nullptr, nullptr};
    const int inStride[4] = {stride, 0, 0, 0};
    uint8_t* out[4] = {library.data() + static_cast<size_t>(dh - 1) * stride, nullptr, nullptr, nullptr};
    const int outStride[4] = {-stride, 0, 0, 0};
    ASSERT_EQ(sws_scale(ctx, in, inStride, 0, sh, out, outStride), dh);
    sws_freeContext(ctx);
    int worst = 0;
    int64_t squared = 0, count = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        if (i % 4 == 3)
            continue; // the library does not promise the unused byte
        const int d = std::abs(ours[i] - library[i]);
        worst = std::max(worst, d);
        squared += d * d;
        ++count;
    }
    // Rounding only: one level here and there (measured: mean square 0.003).
    EXPECT_LE(worst, 1);
    EXPECT_LT(static_cast<double>(squared) / static_cast<double>(count), 0.05) << "mean squared difference";

    // Columns scaled on their own equal the whole scale.
    std::vector<uint8_t> area(ours.size(), 0x33);
    ASSERT_EQ(s.scale(src.view, area.data(), stride), 1);
    for (int y = 100; y < 200; ++y)
        for (int x = 301; x < 460; ++x)
            src.view.row(y)[x * 4 + 1] ^= 0x55;
    ASSERT_EQ(s.scale(src.view, ours.data(), stride), 1);
    const BicubicScaler::RowRange columns = s.affectedColumns(301, 459);
    EXPECT_EQ(columns.first, 301);
    EXPECT_EQ(columns.count, 159);
    ASSERT_EQ(s.scaleArea(src.view, area.data(), stride, s.affectedRows(100, 199), 301, 460), 1);
    EXPECT_EQ(std::memcmp(area.data(), ours.data(), ours.size()), 0);

    // Spans of 3 pixels take the plain loop only, 5 the 16-byte kernel too, 9
    // the 32-byte one (where the processor has it) and 13 all three; the
    // whole scale runs mostly in the widest. All must give the same bytes.
    for (int span : {3, 5, 9, 13}) {
        std::vector<uint8_t> narrow(ours.size(), 0);
        int x = 0;
        for (; x + span <= sw; x += span)
            ASSERT_EQ(s.scaleArea(src.view, narrow.data(), stride, BicubicScaler::RowRange{0, dh}, x, x + span), 1);
        ASSERT_EQ(s.scaleArea(src.view, narrow.data(), stride, BicubicScaler::RowRange{0, dh}, x, sw), 1);
        EXPECT_EQ(std::memcmp(narrow.data(), ours.data(), ours.size()), 0) << "spans of " << span;
    }

    // A flat picture stays exactly flat, edges included.
    Picture flat(64, 30, 32);
    std::memset(flat.bits.data(), 0x9C, flat.bits.size());
    std::vector<uint8_t> grown(64 * 4 * 48);
    ASSERT_EQ(s.open(64, 30, 64, 48, 32), 1);
    ASSERT_EQ(s.scale(flat.view, grown.data(), 64 * 4), 1);
    EXPECT_TRUE(std::all_of(grown.begin(), grown.end(), [](uint8_t b) { return b == 0x9C; }));
    // Shrinking, or a change of width, stays with the library.
    ASSERT_EQ(s.open(64, 48, 64, 30, 32), 1);
    EXPECT_FALSE(s.verticalOnly());
    EXPECT_EQ(s.scaleArea(flat.view, grown.data(), 64 * 4, BicubicScaler::RowRange{0, 1}, 0, 64), 0);
}

TEST(BicubicScaler, RefusesWhatItCannotScale)
{
    BicubicScaler s;
    EXPECT_EQ(s.open(100, 100, 50, 50, 24), 0);
    EXPECT_EQ(s.open(100, 100, 50, 50, 16), 0);
    EXPECT_EQ(s.open(0, 100, 50, 50, 32), 0);
    ASSERT_EQ(s.open(64, 64, 32, 32, 32), 1);
    Picture wrong(48, 64, 32);
    std::vector<uint8_t> out(32 * 32 * 4);
    EXPECT_EQ(s.scale(wrong.view, out.data(), 32 * 4), 0);
}

} // namespace
} // namespace quillet
