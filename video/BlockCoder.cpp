#include "video/BlockCoder.h"

#include <algorithm>
#include <cstring>

namespace quillet {

namespace {

// Vertical and horizontal slack (pixels) within which side-by-side
// rectangles still merge.
constexpr int32_t kMergeSlack = 4;

inline void expand555(uint32_t p, uint8_t& blue, uint8_t& green, uint8_t& red)
{
    blue = uint8_t((p & 0x1F) << 3);
    green = uint8_t((p >> 2) & 0xF8);
    red = uint8_t((p >> 7) & 0xF8);
}

inline bool deleted(const Rect& r) { return r.left == BlockCoder::kDeleted; }

// First and last differing pixel of two rows of n pixels of bpp bytes, or
// false when the rows are equal.
bool findChange(const uint8_t* a, const uint8_t* b, int n, int bpp, int& first, int& last)
{
    const size_t bytes = size_t(n) * size_t(bpp);
    if (std::memcmp(a, b, bytes) == 0)
        return false;
    int lo = 0;
    while (std::memcmp(a + size_t(lo) * bpp, b + size_t(lo) * bpp, size_t(bpp)) == 0)
        ++lo;
    int hi = n - 1;
    while (std::memcmp(a + size_t(hi) * bpp, b + size_t(hi) * bpp, size_t(bpp)) == 0)
        --hi;
    first = lo;
    last = hi;
    return true;
}

} // namespace

int BlockCoder::init(const ScreenFrame& format, TileCoding coding)
{
    previous_ = {};
    argb_ = {};
    work_ = {};
    deflate_.end();
    width_ = height_ = 0;
    bitsPerPixel_ = 0;
    if (format.bitsPerPixel != 16 && format.bitsPerPixel != 24 && format.bitsPerPixel != 32)
        return 0;
    // A left edge of kDeleted marks a deleted rectangle, so no real column may reach it.
    if (format.width <= 0 || format.height <= 0 || format.width >= kDeleted || format.height >= kDeleted)
        return 0;
    const size_t pixels = size_t(format.width) * size_t(format.height);
    previous_.assign(pixels * (format.bitsPerPixel / 8), coding == TileCoding::Lossless ? 0xFF : 0x00);
    if (coding == TileCoding::Lossless)
        argb_.assign(pixels * 4, 0);
    if (!deflate_.open()) {
        previous_ = {};
        argb_ = {};
        return 0;
    }
    width_ = format.width;
    height_ = format.height;
    bitsPerPixel_ = format.bitsPerPixel;
    coding_ = coding;
    work_.assign(size_t(kTileSize) * kTileSize * 3, 0);
    placedImageCount = 0;
    return 1;
}

bool BlockCoder::matches(const ScreenFrame& frame) const
{
    return ready() && frame.bits != nullptr && frame.width == width_ && frame.height == height_ &&
           frame.bitsPerPixel == bitsPerPixel_;
}

bool BlockCoder::clip(Rect& r) const
{
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, width_ - 1);
    r.bottom = std::min(r.bottom, height_ - 1);
    return r.left <= r.right && r.top <= r.bottom;
}

int BlockCoder::tighten(const ScreenFrame& frame, Rect* rects, int count)
{
    if (!matches(frame) || (rects == nullptr && count > 0))
        return 0;
    const int bpp = bitsPerPixel_ / 8;
    const size_t stride = size_t(width_) * size_t(bpp);

    // 1. Shrink each rectangle to its changed pixels; right and bottom become exclusive.
    for (int i = 0; i < count; ++i) {
        Rect& r = rects[i];
        if (deleted(r))
            continue;
        if (!clip(r)) {
            r.left = kDeleted;
            continue;
        }
        int32_t l = INT32_MAX, u = -1, t = -1, b = -1;
        const int n = r.right - r.left + 1;
        for (int32_t y = r.top; y <= r.bottom; ++y) {
            const size_t at = size_t(height_ - 1 - y) * stride + size_t(r.left) * size_t(bpp);
            int first = 0, last = 0;
            if (!findChange(frame.bits + at, previous_.data() + at, n, bpp, first, last))
                continue;
            l = std::min(l, r.left + first);
            u = std::max(u, r.left + last);
            if (t < 0)
                t = y;
            b = y;
        }
        if (u < 0) {
            r.left = kDeleted;
            continue;
        }
        r = Rect{l, t, u + 1, b + 1};
    }

    if (count >= 2) {
        // 2. Horizontal merge of rectangles in one band; P keeps growing.
        for (int i = 0; i < count; ++i) {
            Rect& p = rects[i];
            if (deleted(p))
                continue;
            for (int j = i + 1; j < count; ++j) {
                Rect& q = rects[j];
                if (deleted(q))
                    continue;
                if (std::abs(p.top - q.top) < kMergeSlack && std::abs(p.bottom - q.bottom) < kMergeSlack &&
                    p.right < q.right && p.right + 1 >= q.left) {
                    p.right = q.right;
                    p.top = std::min(p.top, q.top);
                    p.bottom = std::max(p.bottom, q.bottom);
                    q.left = kDeleted;
                }
            }
        }
        // 3. Vertical merge of overlapping columns that touch.
        for (int i = 0; i < count; ++i) {
            Rect& p = rects[i];
            if (deleted(p))
                continue;
            for (int j = i + 1; j < count; ++j) {
                Rect& q = rects[j];
                if (deleted(q))
                    continue;
                if (p.left < q.right && q.left < p.right && p.bottom < q.bottom && p.bottom + 1 >= q.top) {
                    p.bottom = q.bottom;
                    p.left = std::min(p.left, q.left);
                    p.right = std::max(p.right, q.right);
                    q.left = kDeleted;
                }
            }
        }
    }

    // 4. The whole frame becomes the reference, whatever survived.
    std::memcpy(previous_.data(), frame.bits, previous_.size());

    // 5. Compact, and grow by one pixel right and down for callers that read
    // the result as inclusive. A change in the last column or row would
    // otherwise leave right == width or bottom == height, one past the frame.
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        Rect r = rects[i];
        if (r.right - r.left <= 0)
            continue;
        if (r.right < width_ - 1)
            ++r.right;
        if (r.bottom < height_ - 1)
            ++r.bottom;
        r.right = std::min(r.right, width_ - 1);
        r.bottom = std::min(r.bottom, height_ - 1);
        rects[kept++] = r;
    }
    return kept;
}

int BlockCoder::to_bgr24(const ScreenFrame& frame, uint8_t* dest, size_t capacity, int left, int top, int width,
                         int height) const
{
    if (frame.bits == nullptr || dest == nullptr || frame.width <= 0 || frame.height <= 0)
        return 0;
    if (frame.bitsPerPixel != 16 && frame.bitsPerPixel != 24 && frame.bitsPerPixel != 32)
        return 0;
    if (left < 0 || top < 0 || width <= 0 || height <= 0 || width > frame.width - left ||
        height > frame.height - top)
        return 0;
    const int w = width;
    const int h = height;
    const int bottom = top + height - 1;
    const size_t outStride = (size_t(w) * 3 + 3) & ~size_t(3);
    if (bgr24Size(w, h) > capacity)
        return 0;
    const int bpp = frame.bitsPerPixel / 8;
    const size_t inStride = size_t(frame.width) * size_t(bpp);
    // Bottom row of the region first; it is also the lowest in memory.
    const uint8_t* src = frame.bits + size_t(frame.height - 1 - bottom) * inStride + size_t(left) * bpp;
    for (int j = 0; j < h; ++j, src += inStride, dest += outStride) {
        uint8_t* d = dest;
        if (bpp == 3) {
            std::memcpy(d, src, size_t(w) * 3);
        } else if (bpp == 4) {
            for (int x = 0; x < w; ++x, d += 3) {
                d[0] = src[x * 4];
                d[1] = src[x * 4 + 1];
                d[2] = src[x * 4 + 2];
            }
        } else {
            for (int x = 0; x < w; ++x, d += 3)
                expand555(uint32_t(src[x * 2]) | uint32_t(src[x * 2 + 1]) << 8, d[0], d[1], d[2]);
        }
        std::memset(dest + size_t(w) * 3, 0, outStride - size_t(w) * 3);
    }
    return 1;
}

size_t BlockCoder::code_lossless_tile(const ScreenFrame& frame, uint8_t* out, size_t capacity, const Rect& region)
{
    if (!matches(frame) || argb_.empty() || out == nullptr)
        return 0;
    if (region.left < 0 || region.top < 0 || region.right < region.left || region.bottom < region.top ||
        region.right >= width_ || region.bottom >= height_)
        return 0;
    const int w = region.right - region.left + 1;
    const int h = region.bottom - region.top + 1;
    const int bpp = bitsPerPixel_ / 8;
    const size_t inStride = size_t(width_) * size_t(bpp);
    uint8_t* d = argb_.data();
    for (int y = region.top; y <= region.bottom; ++y) {
        const uint8_t* s = frame.bits + size_t(height_ - 1 - y) * inStride + size_t(region.left) * bpp;
        for (int x = 0; x < w; ++x, s += bpp, d += 4) {
            d[0] = 0xFF;
            if (bpp == 2) {
                expand555(uint32_t(s[0]) | uint32_t(s[1]) << 8, d[3], d[2], d[1]);
            } else {
                d[1] = s[2];
                d[2] = s[1];
                d[3] = s[0];
            }
        }
    }
    // Every tile is a complete zlib stream of its own.
    if (!deflate_.open())
        return 0;
    deflate_.setOutput(out, capacity);
    if (!deflate_.feed(argb_.data(), size_t(w) * size_t(h) * 4, Z_FINISH))
        return 0;
    return deflate_.totalOut();
}

const uint8_t* BlockCoder::expand_rgb555(const ScreenFrame& frame)
{
    if (!matches(frame) || bitsPerPixel_ != 16)
        return nullptr;
    const size_t pixels = size_t(width_) * size_t(height_);
    if (work_.size() != pixels * 4)
        work_.assign(pixels * 4, 0);
    const uint8_t* s = frame.bits;
    uint8_t* d = work_.data();
    for (size_t i = 0; i < pixels; ++i, s += 2, d += 4)
        expand555(uint32_t(s[0]) | uint32_t(s[1]) << 8, d[0], d[1], d[2]);
    return work_.data();
}

} // namespace quillet
