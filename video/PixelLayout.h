#pragma once
#include <cstdint>

namespace quillet {

// Source pixel layouts the I420 conversion and the H.264 encoder accept.
// Packed layouts are device-independent bitmap rows without padding.
enum class PixelLayout : uint8_t {
    Bgr24,  // 3 bytes per pixel: B, G, R
    Bgra32, // 4 bytes per pixel: B, G, R, X (X ignored)
    I420,   // planar 4:2:0, see I420Picture
};

// Bytes per pixel of a packed layout; 0 for planar ones.
constexpr int bytes_per_pixel(PixelLayout layout)
{
    return layout == PixelLayout::Bgr24 ? 3 : (layout == PixelLayout::Bgra32 ? 4 : 0);
}

} // namespace quillet
