#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/ScreenFrame.h"

namespace quillet {

// Per-macroblock hints for the H.264 library: which 16 x 16 blocks of a
// picture are known to be identical to the previous picture, so that the
// library codes them as skipped without analysing them. On a desktop most of
// the screen stands still from one picture to the next, and analysing it is
// most of the library's work.
//
// Flag value of an unchanged macroblock; the library's own value for "constant".
constexpr uint8_t kMacroblockConstant = 1;

// Number of macroblocks of a width x height picture (sizes rounded up to 16);
// 0 for sizes that are not positive.
size_t macroblock_count(int32_t width, int32_t height);

// Fills flags (macroblock_count(width, height) entries, row by row) with
// kMacroblockConstant, then clears it on every macroblock that a rectangle of
// `changed` touches. Rectangles are upright, inclusive right and bottom (as
// FrameTile::dirty); those with right <= left or bottom < top are skipped,
// the rest are clipped to the picture. Returns the number of macroblocks left
// marked changed, or 0 with nothing written for unusable arguments.
size_t mark_constant_macroblocks(int32_t width, int32_t height, const Rect* changed, size_t count, uint8_t* flags);

} // namespace quillet
