#pragma once
#include <cstdint>

#include "engine/ScreenFrame.h"

namespace quillet {

// The highest value of the form 8k + 7 that does not exceed limit − 1: the last
// coordinate a tile may reach so that block coders working in 8-pixel steps
// never read past the picture. Columns or rows beyond it belong to no tile.
int32_t tileEdgeValue(int32_t limit);

// Lays out up to kMaxTiles tiles over a width × height picture, left to right
// then top to bottom, each about a quarter of the picture (at least 320 × 240,
// multiples of 16). Rectangles are inclusive. Unused entries become
// (width, height, width, height). Returns the number of tiles, 0 when the
// picture is smaller than 8 × 8.
int layoutTiles(int32_t width, int32_t height, Rect tiles[kMaxTiles]);

// An entry of a change list that holds nothing: merging into it takes the
// merged rectangle as it is.
constexpr int32_t kEmptyChangeLeft = 16777215;
inline Rect emptyChangeRect() { return Rect{kEmptyChangeLeft, kEmptyChangeLeft, 0, 0}; }

// Widens entries of `list` (one per tile) by the parts of `rect` that fall into
// each tile. Both `rect` and `tiles` are inclusive and in the same coordinates;
// tiles must be in layout order (rows from the top).
void mergeIntoTiles(const Rect& rect, const Rect* tiles, int tileCount, Rect* list);

} // namespace quillet
