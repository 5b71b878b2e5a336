#pragma once
// A desktop-like picture for the video benchmarks.
#include <cstdint>
#include <vector>

namespace quillet::bench {

constexpr int32_t kDesktopBoxTop = 400, kDesktopBoxHeight = 200, kDesktopBoxWidth = 300;

// A bottom-up 32-bit frame: a gradient background, a window of text-like
// rows (the same "text" in every frame), and a red box whose left edge is at
// boxLeft.
inline std::vector<uint8_t> desktop_frame(int32_t width, int32_t height, int32_t boxLeft)
{
    std::vector<uint8_t> f(static_cast<size_t>(width) * height * 4);
    uint32_t seed = 99;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = f.data() + static_cast<size_t>(height - 1 - y) * width * 4;
        for (int32_t x = 0; x < width; ++x) {
            int r = 40 + x * 120 / width, g = 60 + y * 100 / height, b = 150;
            if (x > 200 && x < 1500 && y > 150 && y < 900) {
                r = g = b = 235;
                seed = seed * 1103515245u + 12345u;
                if ((y / 6) % 3 == 0 && ((seed >> 16) & 3) == 0)
                    r = g = b = 20;
            }
            if (x >= boxLeft && x < boxLeft + kDesktopBoxWidth && y >= kDesktopBoxTop &&
                y < kDesktopBoxTop + kDesktopBoxHeight) {
                r = 200;
                g = 40;
                b = 30;
            }
            row[4 * x] = static_cast<uint8_t>(b);
            row[4 * x + 1] = static_cast<uint8_t>(g);
            row[4 * x + 2] = static_cast<uint8_t>(r);
            row[4 * x + 3] = 0;
        }
    }
    return f;
}

} // namespace quillet::bench
