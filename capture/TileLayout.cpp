#include "capture/TileLayout.h"

#include <algorithm>

namespace quillet {

namespace {

// A quarter of the side, at least `minimum`, at most the side, rounded up to 16.
int32_t tileSide(int32_t side, int32_t minimum)
{
    int32_t t = side / 4;
    t = std::max(t, minimum);
    t = std::min(t, side);
    return (t + 15) & ~15;
}

} // namespace

int32_t tileEdgeValue(int32_t limit)
{
    int32_t last = limit - 1;
    if ((last & 7) == 7)
        return last;
    return (last - 8) | 7;
}

int layoutTiles(int32_t width, int32_t height, Rect tiles[kMaxTiles])
{
    for (int i = 0; i < kMaxTiles; ++i)
        tiles[i] = Rect{width, height, width, height};
    if (width < 8 || height < 8)
        return 0;

    const int32_t tw = tileSide(width, 320);
    const int32_t th = tileSide(height, 240);
    const int32_t edgeW = tileEdgeValue(width);
    const int32_t edgeH = tileEdgeValue(height);

    // Starts a row at `top`; returns false when the row would begin below the picture.
    bool rowEnded = false;
    auto startRow = [&](Rect& t, int32_t top) {
        t = Rect{0, top, tw - 1, top + th - 1};
        if (t.right >= width)
            t.right = edgeW;
        // The bottom is clipped like the right edge: a tile that reaches below
        // the picture would make copies and comparisons run past its last row.
        if (t.bottom >= height)
            t.bottom = edgeH;
        rowEnded = t.right == edgeW || t.right == width - 1;
    };

    startRow(tiles[0], 0);
    int count = 1;
    for (int i = 1; i < kMaxTiles; ++i) {
        const Rect& prev = tiles[i - 1];
        Rect t;
        if (!rowEnded) {
            t = Rect{prev.right + 1, prev.top, prev.right + tw, prev.bottom};
            if (t.right >= width)
                t.right = edgeW;
            // Ending the row at the edge value as well keeps a tile that would
            // start past it (and so hold nothing) from being made.
            rowEnded = t.right == edgeW || t.right == width - 1;
        } else {
            if (prev.bottom + 1 >= height)
                break;
            startRow(t, prev.bottom + 1);
            if (t.top > t.bottom)
                break; // rows past the last 8k + 7 belong to no tile
        }
        tiles[i] = t;
        count = i + 1;
    }
    return count;
}

void mergeIntoTiles(const Rect& rect, const Rect* tiles, int tileCount, Rect* list)
{
    for (int i = 0; i < tileCount; ++i) {
        const Rect& t = tiles[i];
        if (rect.bottom < t.top)
            break; // later tiles lie lower still
        if (rect.top > t.bottom)
            continue;
        Rect cut{std::max(rect.left, t.left), std::max(rect.top, t.top), std::min(rect.right, t.right),
                 std::min(rect.bottom, t.bottom)};
        if (cut.right < cut.left || cut.bottom < cut.top)
            continue;
        Rect& e = list[i];
        e.left = std::min(e.left, cut.left);
        e.top = std::min(e.top, cut.top);
        e.right = std::max(e.right, cut.right);
        e.bottom = std::max(e.bottom, cut.bottom);
    }
}

} // namespace quillet
