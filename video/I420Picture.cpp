#include "video/I420Picture.h"

namespace quillet {

size_t I420Picture::byte_size(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0 || (width & 1) || (height & 1))
        return 0;
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    return luma + luma / 2;
}

int I420Picture::allocate(int32_t width, int32_t height)
{
    const size_t bytes = byte_size(width, height);
    buffer_.clear();
    width_ = 0;
    height_ = 0;
    if (bytes == 0)
        return 0;
    buffer_.assign(bytes, 0);
    width_ = width;
    height_ = height;
    return 1;
}

I420Planes I420Picture::planes()
{
    I420Planes p;
    if (empty())
        return p;
    p.y = y();
    p.u = u();
    p.v = v();
    p.stride_y = width_;
    p.stride_u = width_ / 2;
    p.stride_v = width_ / 2;
    return p;
}

} // namespace quillet
