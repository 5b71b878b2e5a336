#pragma once
#include <cstdint>

namespace quillet {

// A rectangle with inclusive right and bottom where the frame code says so
// (tiles, dirty rectangles) and exclusive ones for screen areas.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool operator==(const Rect&) const = default;
};

// One tile of the frame: its rectangle and the dirty part inside it, both with
// inclusive right/bottom in frame coordinates (row 0 at the top). A dirty
// rectangle with right <= left (or all zero) means nothing changed. After change
// detection dirty rectangles start at multiples of 16 and end at 8k+7.
struct FrameTile {
    Rect tile;
    Rect dirty;

    bool isDirty() const { return dirty.right > dirty.left; }
};

constexpr int kMaxTiles = 16;

// The captured picture the coders read. Owned by the frame grabber.
// Rows are stored bottom row first, pixels in blue, green, red order (plus a
// fourth byte at 32 bits) or as 5-5-5 words at 16 bits.
struct ScreenFrame {
    int32_t width = 0;  // multiple of 16
    int32_t height = 0; // multiple of 16
    uint8_t bitsPerPixel = 32; // 16, 24 or 32
    uint8_t* bits = nullptr;
    int32_t stride = 0; // width * bitsPerPixel / 8, no padding
    uint32_t imageSize = 0; // stride * height
    int32_t captureWidth = 0; // physical size of the grabbed area
    int32_t captureHeight = 0;
    FrameTile tiles[kMaxTiles];
    uint8_t tileCount = 0;

    // Address of frame row y counted from the top (row 0 is the last stored row).
    uint8_t* rowFromTop(int32_t y) const { return bits + static_cast<int64_t>(height - 1 - y) * stride; }
};

} // namespace quillet
