#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "video/H264Encoder.h"
#include "video/I420Picture.h"
#include "video/JpegEncoder.h"
#include "video/screen/BlockCache.h"
#include "video/screen/DctUnit.h"
#include "video/screen/RegionZlib.h"
#include "video/screen/ScreenCodec.h"

// What a ScreenCodec holds besides its geometry. Internal to the screen codec.
namespace quillet {

// A region's rectangle on the 8-pixel grid, in blocks.
struct RegionBlocks {
    int32_t bx = 0; // first block column
    int32_t by = 0; // first block row
    int32_t nx = 0; // block columns
    int32_t ny = 0; // block rows
    size_t count() const { return size_t(nx) * size_t(ny); }
};

struct ScreenCodec::State {
    int32_t width8 = 0;
    int32_t height8 = 0;
    int32_t blocksX = 0; // block positions per row
    int32_t blocksY = 0;
    int codecDepth = kCodecDepth;
    uint8_t masks[3] = {255, 255, 255}; // B, G, R
    screen::BlockCache cache;
    std::vector<uint8_t> work; // the block stream of one region

    // coding
    screen::RegionDeflater deflater;
    JpegEncoder dct;
    H264Encoder h264;
    bool h264Open = false;
    I420Picture picture;   // upright, 16-aligned; the units sent to H.264
    uint32_t naturalCount = 0;
    std::vector<Rect> naturalAreas; // units copied since the last side data
    bool naturalAll = true;         // the whole picture changed (after a reset)
    Rect tiles[kMaxTiles];
    std::vector<uint8_t> unitDct;   // per unit row of a region: the previous strip's DCT decisions

    // decoding
    screen::RegionInflater inflater;
    screen::DctReader dctReader;
    const I420Picture* naturalSource = nullptr;
    ScreenCodecError error;
    bool broken = false;   // a decode failed; waits for reset()
    bool posKnown = false; // the ring position is in step with the coder
    std::vector<uint8_t> positionLossy; // per block position: shows a DCT or H.264 block

    size_t position(int32_t bx, int32_t by) const { return size_t(by) * size_t(blocksX) + size_t(bx); }
};

// Clips an inclusive rectangle to the picture and widens it to the 8-pixel
// grid. Returns false when nothing of it lies inside the picture.
bool region_blocks(const Rect& rect, int32_t width, int32_t height, RegionBlocks& out);

// Bytes of a block stream for this many blocks: position, codes, payloads.
inline size_t code_bytes(size_t blocks) { return (blocks + 3) / 4; }
inline size_t max_block_stream(size_t blocks) { return 2 + code_bytes(blocks) + blocks * ScreenCodec::kBlockBytes; }

} // namespace quillet
