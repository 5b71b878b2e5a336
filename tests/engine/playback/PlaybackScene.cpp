#include "tests/engine/playback/PlaybackScene.h"

#include <algorithm>
#include <cmath>

namespace quillet::test {

namespace {

uint32_t hash(uint32_t a, uint32_t b)
{
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0xC2B2AE3Du;
    return h ^ (h >> 13);
}

} // namespace

void PlaybackScene::fill(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rgb)
{
    // The background's fill reports the whole area as changed; what is
    // painted over it needs no report of its own.
    screen_.fillUnreported(Rect{area_.left + x, area_.top + y, area_.left + x + w, area_.top + y + h}, rgb);
}

void PlaybackScene::paint(int t)
{
    const int32_t w = area_.right - area_.left;
    const int32_t h = area_.bottom - area_.top;
    screen_.fill(area_, 0x3A6EA5);
    for (int i = 0; i < 4; ++i) { // icons
        fill(8, 8 + 40 * i, 24, 24, 0xF0F0F0);
        fill(12, 12 + 40 * i, 16, 10, 0x208020 + 0x300000 * uint32_t(i));
    }
    // A window that moves right, then back.
    const int32_t wx = 40 + 5 * (t % 20 < 10 ? t % 20 : 20 - t % 20);
    fill(wx, 36, 96, 64, 0xECE9D8);
    fill(wx, 36, 96, 10, 0x0A246A);
    for (int l = 0; l < 5; ++l)
        fill(wx + 6, 52 + 9 * l, 20 + 13 * l, 4, 0x202020);
    // A menu that shows for four frames in every ten.
    if (t % 10 >= 3 && t % 10 < 7) {
        fill(w - 88, 12, 72, 60, 0xFFFFFF);
        for (int l = 0; l < 5; ++l)
            fill(w - 82, 18 + 11 * l, 30 + 7 * l, 5, l == 2 ? 0x3060C0 : 0x000000);
    }
    // Text that scrolls up two pixels a frame.
    const int32_t tx = 40, ty = h - 58;
    fill(tx, ty, 120, 50, 0xFFFFFF);
    for (int l = 0; l < 8; ++l) {
        const int32_t y = ty + 2 + 7 * l - (2 * t) % 7;
        if (y < ty || y + 3 > ty + 50)
            continue;
        const uint32_t k = static_cast<uint32_t>(l + (2 * t) / 7);
        for (int word = 0; word < 5; ++word)
            fill(tx + 4 + 23 * word, y, 8 + int32_t(hash(k, word) % 12), 3, 0x101010);
    }
    // A video-like picture: smooth colour waves that move every frame, in
    // the bottom-right quarter.
    const int32_t vw = w * 40 / 100, vh = h * 40 / 100;
    const int32_t vx = w - vw - 8, vy = h - vh - 8;
    for (int32_t cy = 0; cy < vh; ++cy)
        for (int32_t cx = 0; cx < vw; ++cx) {
            auto wave = [](double v) { return static_cast<uint32_t>(128 + 100 * std::sin(v)); };
            const uint32_t r = wave((cx + 3 * t) / 6.0), g = wave((cy + 2 * t) / 8.0), b = wave((cx + cy + t) / 11.0);
            fill(vx + cx, vy + cy, 1, 1, r << 16 | g << 8 | b);
        }

    // The cursor moves every frame and changes its shape every 15.
    const int shape = (t / 15) % 2;
    if (shape != shape_) {
        shape_ = shape;
        CursorImage c;
        c.serial = static_cast<uint64_t>(100 + t);
        c.width = 11;
        c.height = 16;
        c.hotX = c.hotY = hot_;
        c.argb.assign(size_t(c.width) * c.height, 0);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x <= y * c.width / c.height; ++x)
                c.argb[size_t(y) * c.width + x] = 0xFF000000u | (x == 0 || y == c.height - 1 ? 0 : cursorColour(shape));
        screen_.setCursor(c);
    }
    pointerX_ = area_.left + 20 + (7 * t) % (w - 40);
    pointerY_ = area_.top + 10 + (5 * t) % (h - 30);
    screen_.setPointer(pointerX_, pointerY_);
}

void PlaybackScene::capture(ScreenFrame& frame, std::vector<uint8_t>& bits) const
{
    const int32_t w = area_.right - area_.left;
    const int32_t h = area_.bottom - area_.top;
    const int bytes = screen_.bitsPerPixel() / 8;
    bits.assign(size_t(w) * h * bytes, 0);
    frame = ScreenFrame{};
    frame.width = w;
    frame.height = h;
    frame.bitsPerPixel = screen_.bitsPerPixel();
    frame.stride = w * bytes;
    frame.imageSize = static_cast<uint32_t>(bits.size());
    frame.bits = bits.data();
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = frame.rowFromTop(y);
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t v = screen_.pixel(area_.left + x, area_.top + y);
            for (int b = 0; b < bytes; ++b)
                row[x * bytes + b] = static_cast<uint8_t>(v >> (8 * b));
        }
    }
}

} // namespace quillet::test
