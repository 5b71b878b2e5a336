#include "capture/BicubicScaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace quillet {

BicubicScaler::~BicubicScaler() { close(); }

int BicubicScaler::open(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight,
                        uint8_t bitsPerPixel)
{
    close();
    AVPixelFormat format;
    if (bitsPerPixel == 32)
        format = AV_PIX_FMT_BGRA; // the fourth byte is carried along; BGRA is the fastest 32-bit path
    else if (bitsPerPixel == 16)
        format = AV_PIX_FMT_RGB555LE;
    else
        return 0;
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0)
        return 0;
    context_ = sws_getContext(srcWidth, srcHeight, format, dstWidth, dstHeight, format, SWS_BICUBIC, nullptr,
                              nullptr, nullptr);
    if (!context_)
        return 0;
    srcWidth_ = srcWidth;
    srcHeight_ = srcHeight;
    dstHeight_ = dstHeight;
    bitsPerPixel_ = bitsPerPixel;
    return 1;
}

int BicubicScaler::scale(const PixelView& src, uint8_t* dst, int32_t dstStride)
{
    if (!context_ || !src.bits || !dst || src.width != srcWidth_ || src.height != srcHeight_ ||
        src.bitsPerPixel != bitsPerPixel_)
        return 0;
    const uint8_t* srcPlanes[4] = {src.bits, nullptr, nullptr, nullptr};
    const int srcStrides[4] = {src.stride, 0, 0, 0};
    // Start at the last stored row and walk backwards: the top output row lands
    // at the end of the buffer.
    uint8_t* dstPlanes[4] = {dst + static_cast<int64_t>(dstHeight_ - 1) * dstStride, nullptr, nullptr, nullptr};
    const int dstStrides[4] = {-dstStride, 0, 0, 0};
    const int rows = sws_scale(context_, srcPlanes, srcStrides, 0, srcHeight_, dstPlanes, dstStrides);
    return rows == dstHeight_ ? 1 : 0;
}

void BicubicScaler::close()
{
    if (context_)
        sws_freeContext(context_);
    context_ = nullptr;
}

} // namespace quillet
