#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The picture the screen-codec decoder paints: 32-bit pixels in B, G, R, X
// order (X is written as 0xFF), rows bottom row first with a stride of exactly
// width * 4 bytes. That is the row order and layout of a 32-bit captured frame,
// so a decoded picture can go straight to the H.264 encoder (Bgra32 input) or
// to anything else that takes captured frames.
namespace quillet {

struct ScreenPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;

    // Sets the size and fills the picture with black. Returns 1, or 0 for a
    // size that is not positive (the picture is then left empty).
    int allocate(int32_t w, int32_t h);

    size_t stride() const { return size_t(width) * 4; }
    // Row y counted from the top (row 0 is the last stored row).
    uint8_t* row_from_top(int32_t y) { return pixels.data() + size_t(height - 1 - y) * stride(); }
    const uint8_t* row_from_top(int32_t y) const { return pixels.data() + size_t(height - 1 - y) * stride(); }
};

} // namespace quillet
