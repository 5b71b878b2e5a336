#pragma once
#include <cstddef>
#include <cstdint>

#include "video/screen/ScreenPicture.h"

namespace quillet {

// The mouse cursor a recording carries beside its pictures: the last
// position and picture its records gave, drawn over a decoded picture.
// Pictures are 32 × 32 pixels, bottom row first, 4 bytes each (blue, green,
// red, unused), LZO1X-compressed; pixels of the key colour RGB (0, 128, 128)
// are transparent.
class CursorPainter {
public:
    static constexpr int kSide = 32;
    static constexpr size_t kPictureBytes = kSide * kSide * 4;

    // A cursor record: the position, and a new picture when `picture` is not
    // empty. Returns 0 when the picture does not decompress to a whole cursor
    // picture (the previous picture is kept).
    int update(int32_t x, int32_t y, const uint8_t* picture, size_t size);
    // Forgets the picture and position (at a seek).
    void clear();
    // Draws the cursor over `picture` (bottom-up, 4 bytes per pixel).
    void draw(ScreenPicture& picture) const;

    bool hasPicture() const { return hasPicture_; }
    int32_t x() const { return x_; }
    int32_t y() const { return y_; }

private:
    uint8_t picture_[kPictureBytes] = {};
    bool hasPicture_ = false;
    int32_t x_ = 0;
    int32_t y_ = 0;
};

} // namespace quillet
