#include <gtest/gtest.h>

#include <vector>

#include "capture/TileLayout.h"

namespace quillet {
namespace {

TEST(TileLayout, EdgeValueIsHighest8kPlus7BelowLimit)
{
    EXPECT_EQ(tileEdgeValue(1080), 1079);
    EXPECT_EQ(tileEdgeValue(1024), 1023);
    EXPECT_EQ(tileEdgeValue(1366), 1359);
    EXPECT_EQ(tileEdgeValue(100), 95);
    EXPECT_EQ(tileEdgeValue(8), 7);
    EXPECT_EQ(tileEdgeValue(15), 7);
}

TEST(TileLayout, FullHdGetsSixteenTilesOf480By272)
{
    Rect t[kMaxTiles];
    ASSERT_EQ(layoutTiles(1920, 1080, t), 16);
    EXPECT_EQ(t[0], (Rect{0, 0, 479, 271}));
    EXPECT_EQ(t[5], (Rect{480, 272, 959, 543}));
    EXPECT_EQ(t[15], (Rect{1440, 816, 1919, 1079}));
}

TEST(TileLayout, NarrowLastColumnAndShortLastRow)
{
    Rect t[kMaxTiles];
    ASSERT_EQ(layoutTiles(1024, 768, t), 16);
    EXPECT_EQ(t[3], (Rect{960, 0, 1023, 239}));
    EXPECT_EQ(t[15], (Rect{960, 720, 1023, 767}));
}

TEST(TileLayout, SmallPictureUsesFewTilesAndParksTheRest)
{
    Rect t[kMaxTiles];
    ASSERT_EQ(layoutTiles(640, 480, t), 4);
    EXPECT_EQ(t[3], (Rect{320, 240, 639, 479}));
    for (int i = 4; i < kMaxTiles; ++i)
        EXPECT_EQ(t[i], (Rect{640, 480, 640, 480}));
}

TEST(TileLayout, NarrowPictureIsOneColumn)
{
    Rect t[kMaxTiles];
    const int n = layoutTiles(304, 400, t);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(t[0], (Rect{0, 0, 303, 239}));
    EXPECT_EQ(t[1], (Rect{0, 240, 303, 399}));
}

TEST(TileLayout, OddWidthLeavesColumnsPastTheEdgeValueUncovered)
{
    Rect t[kMaxTiles];
    ASSERT_EQ(layoutTiles(1366, 768, t), 16);
    EXPECT_EQ(t[3].right, 1359);
    EXPECT_EQ(t[15].right, 1359);
}

TEST(TileLayout, ShortPictureClipsTheFirstRowToo)
{
    Rect t[kMaxTiles];
    ASSERT_EQ(layoutTiles(100, 100, t), 1);
    EXPECT_EQ(t[0], (Rect{0, 0, 95, 95}));
}

// Every size: tiles stay inside the picture, never overlap, and together cover
// exactly the block up to the edge values.
TEST(TileLayout, TilesPartitionThePictureUpToTheEdges)
{
    for (int w = 8; w <= 2600; w += 37)
        for (int h = 8; h <= 1500; h += 53) {
            Rect t[kMaxTiles];
            const int n = layoutTiles(w, h, t);
            ASSERT_GE(n, 1) << w << "x" << h;
            const int ew = tileEdgeValue(w);
            const int eh = tileEdgeValue(h);
            int64_t area = 0;
            for (int i = 0; i < n; ++i) {
                ASSERT_LE(t[i].left, t[i].right) << w << "x" << h << " tile " << i;
                ASSERT_LE(t[i].top, t[i].bottom) << w << "x" << h << " tile " << i;
                ASSERT_GE(t[i].left, 0);
                ASSERT_LE(t[i].right, w - 1);
                ASSERT_LE(t[i].bottom, h - 1);
                area += int64_t{t[i].right - t[i].left + 1} * (t[i].bottom - t[i].top + 1);
                for (int j = 0; j < i; ++j) {
                    const bool apart = t[i].left > t[j].right || t[j].left > t[i].right || t[i].top > t[j].bottom ||
                                       t[j].top > t[i].bottom;
                    ASSERT_TRUE(apart) << w << "x" << h << " tiles " << i << "," << j;
                }
            }
            EXPECT_EQ(area, int64_t{ew + 1} * (eh + 1)) << w << "x" << h;
        }
}

TEST(TileLayout, MergeWidensEachTouchedTileByItsPart)
{
    Rect t[kMaxTiles];
    const int n = layoutTiles(640, 480, t);
    Rect list[kMaxTiles];
    for (Rect& r : list)
        r = emptyChangeRect();
    mergeIntoTiles(Rect{300, 200, 350, 260}, t, n, list);
    EXPECT_EQ(list[0], (Rect{300, 200, 319, 239}));
    EXPECT_EQ(list[1], (Rect{320, 200, 350, 239}));
    EXPECT_EQ(list[2], (Rect{300, 240, 319, 260}));
    EXPECT_EQ(list[3], (Rect{320, 240, 350, 260}));
    mergeIntoTiles(Rect{10, 10, 20, 20}, t, n, list);
    EXPECT_EQ(list[0], (Rect{10, 10, 319, 239}));
    // Entirely outside every tile: nothing changes.
    mergeIntoTiles(Rect{700, 500, 800, 600}, t, n, list);
    EXPECT_EQ(list[3], (Rect{320, 240, 350, 260}));
}

} // namespace
} // namespace quillet
