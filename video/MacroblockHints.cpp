#include "video/MacroblockHints.h"

#include <algorithm>
#include <cstring>

namespace quillet {

namespace {
constexpr int32_t kMacroblockSide = 16;
}

size_t macroblock_count(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const size_t columns = static_cast<size_t>(width + kMacroblockSide - 1) / kMacroblockSide;
    const size_t rows = static_cast<size_t>(height + kMacroblockSide - 1) / kMacroblockSide;
    return columns * rows;
}

size_t mark_constant_macroblocks(int32_t width, int32_t height, const Rect* changed, size_t count, uint8_t* flags)
{
    const size_t total = macroblock_count(width, height);
    if (total == 0 || flags == nullptr || (count > 0 && changed == nullptr))
        return 0;
    const int32_t columns = (width + kMacroblockSide - 1) / kMacroblockSide;
    std::memset(flags, kMacroblockConstant, total);
    size_t marked = 0;
    for (size_t i = 0; i < count; ++i) {
        const Rect& r = changed[i];
        if (r.right <= r.left || r.bottom < r.top)
            continue;
        const int32_t left = std::max(r.left, 0);
        const int32_t top = std::max(r.top, 0);
        const int32_t right = std::min(r.right, width - 1);
        const int32_t bottom = std::min(r.bottom, height - 1);
        if (right < left || bottom < top)
            continue;
        for (int32_t my = top / kMacroblockSide; my <= bottom / kMacroblockSide; ++my) {
            uint8_t* row = flags + static_cast<size_t>(my) * columns;
            for (int32_t mx = left / kMacroblockSide; mx <= right / kMacroblockSide; ++mx) {
                marked += row[mx] == kMacroblockConstant ? 1 : 0;
                row[mx] = 0;
            }
        }
    }
    return marked;
}

} // namespace quillet
