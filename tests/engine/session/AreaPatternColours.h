#pragma once
#include <cstdint>

namespace quillet::test {

// The rectangle whose edges the pattern marks, in screen pixels.
struct PatternArea {
    int x, y, w, h;
};

constexpr int kPatternBlock = 80;
constexpr int kPatternStripe = 4;
constexpr uint32_t kStripeTop = 0xFF0000, kStripeBottom = 0x00FF00, kStripeLeft = 0x0000FF,
                   kStripeRight = 0xFF00FF;

// Colour (0xRRGGBB) of the block holding screen pixel (x, y): every channel
// between 40 and 239, so that stripes (0 or 255) stand apart.
inline uint32_t blockColour(int x, int y)
{
    const int bx = x / kPatternBlock, by = y / kPatternBlock;
    const uint32_t r = 40 + (bx * 37) % 200, g = 40 + (by * 53) % 200, b = 40 + ((bx + by) * 29) % 200;
    return r << 16 | g << 8 | b;
}

inline uint32_t patternPixel(int x, int y, const PatternArea& a)
{
    const bool inX = x >= a.x && x < a.x + a.w, inY = y >= a.y && y < a.y + a.h;
    if (inX && inY) {
        if (y < a.y + kPatternStripe)
            return kStripeTop;
        if (y >= a.y + a.h - kPatternStripe)
            return kStripeBottom;
        if (x < a.x + kPatternStripe)
            return kStripeLeft;
        if (x >= a.x + a.w - kPatternStripe)
            return kStripeRight;
    }
    return blockColour(x, y);
}

} // namespace quillet::test
