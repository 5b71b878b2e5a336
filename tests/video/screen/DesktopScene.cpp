#include "tests/video/screen/DesktopScene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillet::test {

namespace {

uint32_t mix(uint32_t a, uint32_t b)
{
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

struct Canvas {
    uint8_t* rgb;
    int32_t w;
    int32_t h;

    void put(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b)
    {
        if (x < 0 || y < 0 || x >= w || y >= h)
            return;
        uint8_t* p = rgb + (size_t(y) * size_t(w) + size_t(x)) * 3;
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
    void fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t r, uint8_t g, uint8_t b)
    {
        for (int32_t y = std::max(y0, 0); y < std::min(y1, h); ++y)
            for (int32_t x = std::max(x0, 0); x < std::min(x1, w); ++x)
                put(x, y, r, g, b);
    }
    // One line of text-like glyphs (6 x 10 cells), clipped to [clipTop, clipBottom).
    void text(int32_t x0, int32_t y0, int32_t x1, uint32_t seed, int32_t clipTop, int32_t clipBottom, uint8_t ink)
    {
        for (int32_t cell = 0; x0 + cell * 6 + 6 <= x1; ++cell) {
            const uint32_t glyph = mix(seed, uint32_t(cell));
            if ((glyph & 7) == 0)
                continue; // a space
            for (int gy = 0; gy < 10; ++gy) {
                const int32_t y = y0 + gy;
                if (y < clipTop || y >= clipBottom)
                    continue;
                for (int gx = 0; gx < 5; ++gx)
                    if (mix(glyph, uint32_t(gy * 5 + gx)) % 3 == 0)
                        put(x0 + cell * 6 + gx, y, ink, ink, ink);
            }
        }
    }
};

} // namespace

int tile_grid(int32_t width, int32_t height, Rect tiles[kMaxTiles])
{
    const int32_t tw = std::max<int32_t>(16, (width / 4 + 15) / 16 * 16);
    const int32_t th = std::max<int32_t>(16, (height / 4 + 15) / 16 * 16);
    int n = 0;
    for (int32_t y = 0; y < height && n < kMaxTiles; y += th)
        for (int32_t x = 0; x < width && n < kMaxTiles; x += tw)
            tiles[n++] = Rect{x, y, std::min(x + tw, width) - 1, std::min(y + th, height) - 1};
    return n;
}

DesktopScene::DesktopScene(int32_t width, int32_t height, int bitsPerPixel, SceneParts parts)
    : width_(width), height_(height), bpp_(bitsPerPixel), parts_(parts)
{
    const int32_t vw = std::max<int32_t>(width / 4, 16);
    const int32_t vh = std::max<int32_t>(height / 4, 16);
    video_ = Rect{width / 8, height * 5 / 8, std::min(width, width / 8 + vw), std::min(height, height * 5 / 8 + vh)};
    rgb_.assign(size_t(width) * size_t(height) * 3, 0);
    previous_ = rgb_;
    const int bytes = bitsPerPixel / 8;
    bits_.assign(size_t(width) * size_t(height) * size_t(bytes), 0);
    frame_.width = width;
    frame_.height = height;
    frame_.bitsPerPixel = uint8_t(bitsPerPixel);
    frame_.bits = bits_.data();
    frame_.stride = width * bytes;
    frame_.imageSize = uint32_t(bits_.size());
    frame_.captureWidth = width;
    frame_.captureHeight = height;
}

void DesktopScene::paint(int t)
{
    Canvas c{rgb_.data(), width_, height_};
    const int32_t w = width_;
    const int32_t h = height_;
    for (int32_t y = 0; y < h; ++y)
        c.fill(0, y, w, y + 1, uint8_t(30 + y * 40 / h), uint8_t(80 + y * 30 / h), 130);
    // Icons down the left edge.
    for (int i = 0; i < 4 && 8 + i * 48 + 32 <= h; ++i) {
        const int32_t y0 = 8 + i * 48;
        for (int32_t y = 0; y < 32; ++y)
            for (int32_t x = 0; x < 32; ++x) {
                const uint32_t v = mix(uint32_t(i), uint32_t((y / 4) * 8 + x / 4));
                c.put(8 + x, y0 + y, uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16));
            }
    }

    if (parts_.scrollingText) {
        // Lines of 16 pixels that move up by one line per frame.
        const int32_t x0 = w / 2, x1 = w - 16, y0 = h / 2, y1 = h - 16;
        c.fill(x0, y0, x1, y1, 250, 250, 240);
        for (int32_t line = 0; y0 + line * 16 < y1 + 16; ++line)
            c.text(x0 + 4, y0 + line * 16 + 3, x1 - 4, uint32_t(1000 + line + t), y0, y1, 30);
    }

    if (parts_.video) {
        const Rect v = video_;
        for (int32_t y = v.top; y < v.bottom; ++y)
            for (int32_t x = v.left; x < v.right; ++x) {
                const double a = std::sin(x * 0.09 + t * 0.35) * 60 + std::sin(y * 0.13 - t * 0.21) * 40;
                const int noise = int(mix(uint32_t(x * 7919 + y), uint32_t(t)) % 7) - 3;
                const int base = 128 + int(a) + noise;
                c.put(x, y, uint8_t(std::clamp(base, 0, 255)), uint8_t(std::clamp(base / 2 + 60 + noise, 0, 255)),
                      uint8_t(std::clamp(255 - base + noise, 0, 255)));
            }
    }

    if (parts_.movingWindow) {
        const int32_t ww = std::max<int32_t>(w / 3, 48);
        const int32_t wh = std::max<int32_t>(h / 3, 40);
        const int32_t span = std::max<int32_t>(1, w - ww - 48);
        const int32_t x0 = 48 + (t * 8) % span;
        const int32_t y0 = h / 5 + (t / 2 % 3) * 4;
        c.fill(x0, y0, x0 + ww, y0 + 14, 20, 60, 160);
        c.text(x0 + 4, y0 + 2, x0 + ww / 2, 7, y0, y0 + 14, 250);
        c.fill(x0, y0 + 14, x0 + ww, y0 + wh, 236, 236, 236);
        for (int32_t line = 0; 18 + line * 14 + 10 <= wh; ++line)
            c.text(x0 + 6, y0 + 18 + line * 14, x0 + ww - 6, uint32_t(50 + line), y0, y0 + wh, 40);
    }

    if (parts_.menu && (t / 5) % 3 == 1) {
        const int32_t mw = std::min<int32_t>(120, w / 4);
        const int32_t mh = std::min<int32_t>(160, h / 3);
        const int32_t x0 = w / 2 - 40, y0 = 24;
        c.fill(x0, y0, x0 + mw, y0 + mh, 248, 248, 248);
        c.fill(x0, y0 + 40, x0 + mw, y0 + 56, 50, 100, 200);
        for (int32_t line = 0; 4 + line * 16 + 10 <= mh; ++line)
            c.text(x0 + 6, y0 + 4 + line * 16, x0 + mw - 6, uint32_t(300 + line), y0, y0 + mh, line == 2 ? 255 : 20);
    }
}

void DesktopScene::store()
{
    const int bytes = bpp_ / 8;
    for (int32_t y = 0; y < height_; ++y) {
        const uint8_t* src = rgb_.data() + size_t(y) * size_t(width_) * 3;
        uint8_t* row = bits_.data() + size_t(height_ - 1 - y) * size_t(frame_.stride);
        for (int32_t x = 0; x < width_; ++x, src += 3) {
            uint8_t* p = row + size_t(x) * size_t(bytes);
            if (bytes == 2) {
                const uint32_t v = uint32_t(src[0] >> 3) << 10 | uint32_t(src[1] >> 3) << 5 | uint32_t(src[2] >> 3);
                p[0] = uint8_t(v);
                p[1] = uint8_t(v >> 8);
            } else {
                p[0] = src[2];
                p[1] = src[1];
                p[2] = src[0];
                if (bytes == 4)
                    p[3] = 0;
            }
        }
    }
}

void DesktopScene::fullTiles(ScreenFrame& frame) const
{
    Rect tiles[kMaxTiles];
    const int n = tile_grid(width_, height_, tiles);
    frame.tileCount = uint8_t(n);
    for (int i = 0; i < n; ++i)
        frame.tiles[i] = FrameTile{tiles[i], tiles[i]};
}

void DesktopScene::markChanges()
{
    Rect tiles[kMaxTiles];
    const int n = tile_grid(width_, height_, tiles);
    frame_.tileCount = uint8_t(n);
    for (int i = 0; i < n; ++i) {
        const Rect& t = tiles[i];
        int32_t l = INT32_MAX, tp = INT32_MAX, r = -1, b = -1;
        for (int32_t y = t.top; y <= t.bottom; ++y) {
            const size_t row = size_t(y) * size_t(width_) * 3;
            for (int32_t x = t.left; x <= t.right; ++x)
                if (first_ || std::memcmp(&rgb_[row + size_t(x) * 3], &previous_[row + size_t(x) * 3], 3) != 0) {
                    l = std::min(l, x);
                    r = std::max(r, x);
                    tp = std::min(tp, y);
                    b = std::max(b, y);
                }
        }
        Rect dirty{};
        if (r >= 0)
            dirty = Rect{l / 16 * 16, tp / 16 * 16, std::min(t.right, r | 7), std::min(t.bottom, b | 7)};
        frame_.tiles[i] = FrameTile{t, dirty};
    }
}

const ScreenFrame& DesktopScene::draw(int t)
{
    previous_ = rgb_;
    paint(t);
    store();
    markChanges();
    first_ = false;
    return frame_;
}

} // namespace quillet::test
