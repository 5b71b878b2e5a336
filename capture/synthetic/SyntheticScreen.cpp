#include "capture/synthetic/SyntheticScreen.h"

#include <algorithm>
#include <cstring>

namespace quillet {

SyntheticScreen::SyntheticScreen(int32_t width, int32_t height, uint8_t bitsPerPixel, int32_t logicalWidth,
                                 int32_t logicalHeight)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      logicalWidth_(logicalWidth > 0 ? logicalWidth : width_),
      logicalHeight_(logicalHeight > 0 ? logicalHeight : height_), bitsPerPixel_(bitsPerPixel)
{
    if (bitsPerPixel_ == 32 || bitsPerPixel_ == 16)
        screen_.assign(static_cast<size_t>(width_) * height_ * (bitsPerPixel_ / 8), 0);
    cursor_.serial = 1;
    cursor_.width = 1;
    cursor_.height = 1;
    cursor_.argb = {0xFF000000u};
}

uint32_t SyntheticScreen::stored(uint32_t rgb) const
{
    if (bitsPerPixel_ == 16) {
        const uint32_t r = (rgb >> 16) & 0xFF;
        const uint32_t g = (rgb >> 8) & 0xFF;
        const uint32_t b = rgb & 0xFF;
        return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    }
    return rgb & 0xFFFFFF;
}

void SyntheticScreen::paint(const Rect& area, uint32_t rgb)
{
    if (screen_.empty())
        return;
    const Rect r{std::max(area.left, 0), std::max(area.top, 0), std::min(area.right, width_),
                 std::min(area.bottom, height_)};
    const uint32_t value = stored(rgb);
    const int bytes = bitsPerPixel_ / 8;
    for (int32_t y = r.top; y < r.bottom; ++y) {
        uint8_t* row = screen_.data() + (static_cast<size_t>(y) * width_) * bytes;
        for (int32_t x = r.left; x < r.right; ++x)
            std::memcpy(row + x * bytes, &value, bytes); // little-endian, like the screens we mimic
    }
}

void SyntheticScreen::fill(const Rect& r, uint32_t rgb)
{
    paint(r, rgb);
    const Rect c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, width_), std::min(r.bottom, height_)};
    if (c.right > c.left && c.bottom > c.top)
        changes_.push_back(c);
}

void SyntheticScreen::fillUnreported(const Rect& r, uint32_t rgb) { paint(r, rgb); }

uint32_t SyntheticScreen::pixel(int32_t x, int32_t y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || screen_.empty())
        return 0;
    const int bytes = bitsPerPixel_ / 8;
    uint32_t v = 0;
    std::memcpy(&v, screen_.data() + (static_cast<size_t>(y) * width_ + x) * bytes, bytes);
    return v;
}

void SyntheticScreen::setPointer(int32_t x, int32_t y)
{
    pointerX_ = x;
    pointerY_ = y;
}

void SyntheticScreen::setCursor(const CursorImage& image) { cursor_ = image; }

void SyntheticScreen::resetCounters()
{
    copies_ = 0;
    copiedPixels_ = 0;
    rejected_ = 0;
}

int SyntheticScreen::openPicture(int32_t width, int32_t height)
{
    if (failOpen_) {
        failOpen_ = false;
        return 0;
    }
    if (width <= 0 || height <= 0 || screen_.empty())
        return 0;
    picture_.assign(static_cast<size_t>(width) * height * (bitsPerPixel_ / 8), 0);
    pictureWidth_ = width;
    pictureHeight_ = height;
    return 1;
}

PixelView SyntheticScreen::picture() const
{
    if (picture_.empty())
        return PixelView{};
    return PixelView{const_cast<uint8_t*>(picture_.data()), pictureWidth_, pictureHeight_,
                     pictureWidth_ * (bitsPerPixel_ / 8), bitsPerPixel_};
}

void SyntheticScreen::closePicture()
{
    picture_ = {};
    pictureWidth_ = 0;
    pictureHeight_ = 0;
}

int SyntheticScreen::copyToPicture(const Rect& s, int32_t dstX, int32_t dstY)
{
    const int32_t w = s.right - s.left;
    const int32_t h = s.bottom - s.top;
    // A real server refuses reads outside the screen; refusing here too lets
    // the tests catch a grabber that asks for them.
    if (lost_ || picture_.empty() || w <= 0 || h <= 0 || s.left < 0 || s.top < 0 || s.right > width_ ||
        s.bottom > height_ || dstX < 0 || dstY < 0 || dstX + w > pictureWidth_ || dstY + h > pictureHeight_) {
        ++rejected_;
        return 0;
    }
    const int bytes = bitsPerPixel_ / 8;
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(picture_.data() + (static_cast<size_t>(dstY + y) * pictureWidth_ + dstX) * bytes,
                    screen_.data() + (static_cast<size_t>(s.top + y) * width_ + s.left) * bytes,
                    static_cast<size_t>(w) * bytes);
    ++copies_;
    copiedPixels_ += int64_t{w} * h;
    return 1;
}

int SyntheticScreen::pollChanges(std::vector<Rect>& changed)
{
    if (tracking_)
        changed.insert(changed.end(), changes_.begin(), changes_.end());
    changes_.clear();
    return tracking_ ? 1 : 0;
}

int SyntheticScreen::pointerPosition(int32_t& x, int32_t& y)
{
    x = pointerX_;
    y = pointerY_;
    return 1;
}

int SyntheticScreen::cursorImage(CursorImage& image)
{
    image = cursor_;
    return cursor_.serial != 0 ? 1 : 0;
}

} // namespace quillet
