#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ScreenFrame.h"
#include "video/DeflateStream.h"
#include "video/JpegEncoder.h"

// The block path of SWF player mode: the changed 16x16 blocks of a frame,
// photo-like ones packed into one JPEG mosaic and the others, with the
// position of every block, into one lossless bitmap. The layout is the one
// the player script reads; mux/swf/player/BLOCKS.md describes it.
//
// Used from the video thread only.
namespace quillet {

struct SwfBlockData {
    // zlib data of the lossless bitmap: losslessWidth x losslessHeight pixels
    // of 4 bytes (0xFF, R, G, B), rows top-down. Empty when no block changed.
    std::vector<uint8_t> lossless;
    int losslessWidth = 0;  // U: a multiple of 16
    int losslessHeight = 0; // H
    // The complete JPEG mosaic; empty when no block was JPEG-coded.
    std::vector<uint8_t> jpeg;
    int mosaicWidth = 0; // pixels, 16 x blocks
    int mosaicHeight = 0;
    int losslessBlocks = 0;
    int jpegBlocks = 0;

    bool empty() const { return losslessBlocks + jpegBlocks == 0; }
    size_t bytes() const { return lossless.size() + jpeg.size(); }
};

class SwfBlockCoder {
public:
    static constexpr int kBlock = 16;
    // A block with more distinct colours than this is photo-like: JPEG.
    static constexpr int kJpegColourThreshold = 64;
    // Mosaic rows are at most this many blocks wide.
    static constexpr int kMosaicMaxColumns = 180;
    // The lossless bitmap is 16 x C pixels wide, C within these bounds.
    static constexpr int kMinLosslessColumns = 4;
    static constexpr int kMaxLosslessColumns = 120;
    // Block positions are 12-bit block indices.
    static constexpr int kMaxSide = 4095;

    SwfBlockCoder() = default;
    SwfBlockCoder(const SwfBlockCoder&) = delete;
    SwfBlockCoder& operator=(const SwfBlockCoder&) = delete;

    // Frames of width x height (multiples of 16, at most kMaxSide) with 16,
    // 24 or 32 bits per pixel. Returns 0 for another geometry.
    int init(int width, int height, int bitsPerPixel);

    // Codes the blocks that rects (inclusive, frame coordinates) touch and
    // that differ from the previous frame; with `key` every block of the
    // frame. jpegQuality is used for the mosaic. Returns 1 (out may then be
    // empty), 0 on failure (the frame does not match init()).
    int code(const ScreenFrame& frame, const Rect* rects, int count, bool key, int jpegQuality, SwfBlockData& out);

private:
    // The block's pixels as top-down B, G, R rows of 48 bytes into rgb;
    // returns whether it differs from the kept copy (and refreshes the copy).
    bool loadBlock(const ScreenFrame& frame, int bx, int by, uint8_t rgb[kBlock * kBlock * 3]);
    int writeLossless(SwfBlockData& out);
    int writeMosaic(int quality, SwfBlockData& out);

    int width_ = 0, height_ = 0, bitsPerPixel_ = 0;
    int columns_ = 0, rows_ = 0; // blocks
    std::vector<uint8_t> previous_;   // B, G, R per pixel, top-down
    std::vector<uint8_t> marks_;      // per block: touched by this frame's rectangles
    std::vector<uint32_t> positions_; // lossless blocks first, then the JPEG blocks
    std::vector<uint8_t> losslessPixels_; // B, G, R blocks of 768 bytes
    std::vector<uint8_t> jpegPixels_;
    std::vector<uint32_t> jpegPositions_;
    std::vector<uint8_t> bitmap_; // the lossless bitmap before deflation
    DeflateStream deflate_;
    JpegEncoder jpeg_;
};

} // namespace quillet
