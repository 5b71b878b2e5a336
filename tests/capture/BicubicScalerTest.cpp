#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture/BicubicScaler.h"

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
