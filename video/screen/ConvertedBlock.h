#pragma once
#include <cstddef>
#include <cstdint>

#include "video/screen/ScreenCodec.h"
#include "video/screen/ScreenPicture.h"

// Converted blocks: the 96-byte form in which the screen codec compares,
// caches and stores 8x8 blocks (64 Y samples, then 16 Cb/Cr pairs of 2x2
// averages), their 16-bit checksum, and the way back to colour.
namespace quillet::screen {

constexpr int kBlockBytes = ScreenCodec::kBlockBytes;
constexpr int kChromaAt = 64; // offset of the first (Cb, Cr) pair

// A bottom-up frame to read blocks from. Pixels outside width x height
// repeat the nearest pixel inside.
struct BlockSource {
    const uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    size_t stride = 0;
    int bitsPerPixel = 32; // 16, 24 or 32
    Pixel16Layout layout16 = Pixel16Layout::Rgb555;
    // Per component (B, G, R) masks applied to the 8-bit values.
    uint8_t masks[3] = {255, 255, 255};
};

// The source of a captured frame (its own stride, or width * bytes per pixel when it has none).
BlockSource block_source(const ScreenFrame& frame, Pixel16Layout layout16 = Pixel16Layout::Rgb555);

// Converts the 8x8 block whose top-left pixel is (x, y) (row 0 at the top).
void convert_block(const BlockSource& source, int32_t x, int32_t y, uint8_t out[kBlockBytes]);

// Turns one pixel into B, G, R bytes as convert_block() reads it.
void pixel_bgr(const BlockSource& source, int32_t x, int32_t y, uint8_t bgr[3]);

uint16_t block_checksum(const uint8_t block[kBlockBytes]);

// Paints the block's pixels that lie inside the picture, top-left at (x, y).
void paint_block(const uint8_t block[kBlockBytes], ScreenPicture& picture, int32_t x, int32_t y);

// The colour one converted sample triple stands for.
void block_colour(int y, int cb, int cr, uint8_t bgr[3]);

} // namespace quillet::screen
