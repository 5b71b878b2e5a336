#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillet {

// Writable planes of a 4:2:0 picture with arbitrary row strides in bytes (a
// library's internal picture, or a flipped view with negative strides). The
// chroma planes are half the luma width and height.
struct I420Planes {
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    ptrdiff_t stride_y = 0;
    ptrdiff_t stride_u = 0;
    ptrdiff_t stride_v = 0;
};

// A planar 4:2:0 picture in one contiguous buffer: Y (W x H) at 0, U (W/2 x H/2)
// at W*H, V at W*H + W*H/4, rows without padding. Width and height are even.
// When bottom_up is set every plane holds its bottom row first, the row order
// of a device-independent bitmap; readers flip it back.
class I420Picture {
public:
    // Sets the size and (re)allocates a zeroed buffer. Returns 1, or 0 for a
    // size that is not positive and even (the picture is then left empty).
    int allocate(int32_t width, int32_t height);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    bool empty() const { return buffer_.empty(); }
    size_t size() const { return buffer_.size(); }

    uint8_t* data() { return buffer_.data(); }
    const uint8_t* data() const { return buffer_.data(); }
    uint8_t* y() { return buffer_.data(); }
    uint8_t* u() { return buffer_.data() + luma_size(); }
    uint8_t* v() { return buffer_.data() + luma_size() + luma_size() / 4; }
    const uint8_t* y() const { return buffer_.data(); }
    const uint8_t* u() const { return buffer_.data() + luma_size(); }
    const uint8_t* v() const { return buffer_.data() + luma_size() + luma_size() / 4; }

    // The planes in stored order (row 0 is the first stored row).
    I420Planes planes();

    // Byte size of a W x H picture; 0 for sizes that are not positive and even.
    static size_t byte_size(int32_t width, int32_t height);

    bool bottom_up = true;

private:
    size_t luma_size() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }

    std::vector<uint8_t> buffer_;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

} // namespace quillet
