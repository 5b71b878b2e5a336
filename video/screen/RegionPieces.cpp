#include "video/screen/RegionPieces.h"

#include <algorithm>

namespace quillet {

int code_region_pieces(ScreenCodec& codec, const ScreenFrame& frame, const Rect& rect, size_t max_bytes,
                       std::vector<uint8_t>& buffer, const RegionPieceSink& sink)
{
    // Depth-first, left or top half first, so that pieces keep screen order.
    std::vector<Rect> pending{rect};
    int pieces = 0;
    while (!pending.empty()) {
        const Rect r = pending.back();
        pending.pop_back();
        const size_t room = codec.region_capacity(r);
        if (buffer.size() < room)
            buffer.resize(room);
        const size_t n = codec.code_region(frame, buffer.data(), std::min(room, max_bytes), r);
        if (n > 0) {
            sink(r, buffer.data(), n);
            ++pieces;
            continue;
        }
        const int32_t w = r.right - r.left + 1;
        const int32_t h = r.bottom - r.top + 1;
        if (w <= 0 || h <= 0 || (w <= 16 && h <= 16))
            return 0;
        if (w >= h) {
            const int32_t mid = r.left + std::max<int32_t>(16, (w / 2 + 15) / 16 * 16);
            pending.push_back(Rect{mid, r.top, r.right, r.bottom});
            pending.push_back(Rect{r.left, r.top, mid - 1, r.bottom});
        } else {
            const int32_t mid = r.top + std::max<int32_t>(16, (h / 2 + 15) / 16 * 16);
            pending.push_back(Rect{r.left, mid, r.right, r.bottom});
            pending.push_back(Rect{r.left, r.top, r.right, mid - 1});
        }
    }
    return pieces;
}

} // namespace quillet
