#include "capture/BicubicScaler.h"

#include "capture/BicubicKernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace quillet {

namespace {

constexpr int kWeightBits = kBicubicWeightBits;
constexpr int32_t kWeightOne = 1 << kWeightBits;

// The cubic of the library's bicubic mode (Mitchell-Netravali with B = 0 and
// C = 0.6), so that both paths draw the same picture.
double cubic(double x)
{
    x = std::fabs(x);
    if (x < 1.0)
        return 1.4 * x * x * x - 2.4 * x * x + 1.0;
    if (x < 2.0)
        return -0.6 * x * x * x + 3.0 * x * x - 4.8 * x + 2.4;
    return 0.0;
}

// The pictures belong to the grabber and the screen source; the frames only
// borrow them.
void keepMemory(void*, uint8_t*) {}

AVFrame* borrow(uint8_t* bits, int32_t width, int32_t height, int32_t stride, bool bottomUp, AVPixelFormat format)
{
    AVFrame* f = av_frame_alloc();
    if (!f)
        return nullptr;
    f->format = format;
    f->width = width;
    f->height = height;
    const size_t bytes = static_cast<size_t>(stride) * height;
    f->buf[0] = av_buffer_create(bits, bytes, keepMemory, nullptr, 0);
    f->data[0] = bottomUp ? bits + static_cast<int64_t>(height - 1) * stride : bits;
    f->linesize[0] = bottomUp ? -stride : stride;
    if (!f->buf[0])
        av_frame_free(&f);
    return f;
}

} // namespace

BicubicScaler::~BicubicScaler() { close(); }

int BicubicScaler::open(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight,
                        uint8_t bitsPerPixel)
{
    close();
    // 32 bits only: the fourth byte is carried along, and BGRA is both the
    // fastest path and one that keeps every pixel's own colour (the 5-5-5
    // path shares colour between neighbours).
    if (bitsPerPixel != 32)
        return 0;
    const AVPixelFormat format = AV_PIX_FMT_BGRA;
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0)
        return 0;
    srcWidth_ = srcWidth;
    srcHeight_ = srcHeight;
    dstWidth_ = dstWidth;
    dstHeight_ = dstHeight;
    bitsPerPixel_ = bitsPerPixel;
    // Four taps suffice only when the height does not shrink.
    if (srcWidth == dstWidth && dstHeight >= srcHeight) {
        buildTaps();
        return 1;
    }
    context_ = sws_getContext(srcWidth, srcHeight, format, dstWidth, dstHeight, format, SWS_BICUBIC, nullptr,
                              nullptr, nullptr);
    if (!context_) {
        close();
        return 0;
    }
    return 1;
}

void BicubicScaler::buildTaps()
{
    taps_.resize(static_cast<size_t>(dstHeight_));
    const double step = static_cast<double>(srcHeight_) / dstHeight_;
    for (int32_t y = 0; y < dstHeight_; ++y) {
        // Pixel centres line up: output row y samples source position c.
        const double c = (y + 0.5) * step - 0.5;
        const int32_t first = static_cast<int32_t>(std::floor(c)) - 1;
        Tap& t = taps_[static_cast<size_t>(y)];
        int32_t sum = 0;
        int largest = 0;
        for (int k = 0; k < 4; ++k) {
            t.row[k] = std::clamp(first + k, 0, srcHeight_ - 1);
            t.weight[k] = static_cast<int32_t>(std::lround(cubic(c - (first + k)) * kWeightOne));
            sum += t.weight[k];
            if (t.weight[k] > t.weight[largest])
                largest = k;
        }
        // Weights must sum to one exactly, or flat areas would drift by a level.
        t.weight[largest] += kWeightOne - sum;
    }
}

int BicubicScaler::scaleArea(const PixelView& src, uint8_t* dst, int32_t dstStride, RowRange rows, int32_t left,
                             int32_t right)
{
    if (taps_.empty() || !src.bits || !dst || src.width != srcWidth_ || src.height != srcHeight_ ||
        src.bitsPerPixel != bitsPerPixel_)
        return 0;
    left = std::max(left, 0);
    right = std::min(right, srcWidth_);
    const int32_t first = std::max(rows.first, 0);
    const int32_t end = std::min(rows.first + rows.count, dstHeight_);
    if (right <= left)
        return 1;
    const size_t begin = static_cast<size_t>(left) * 4;
    const size_t bytes = static_cast<size_t>(right - left) * 4;
    const BicubicRowKernel wide = bicubicRowKernelWide();
    for (int32_t y = first; y < end; ++y) {
        const Tap& t = taps_[static_cast<size_t>(y)];
        const uint8_t* s0 = src.row(t.row[0]) + begin;
        const uint8_t* s1 = src.row(t.row[1]) + begin;
        const uint8_t* s2 = src.row(t.row[2]) + begin;
        const uint8_t* s3 = src.row(t.row[3]) + begin;
        uint8_t* d = dst + static_cast<int64_t>(dstHeight_ - 1 - y) * dstStride + begin;
        const int32_t w0 = t.weight[0], w1 = t.weight[1], w2 = t.weight[2], w3 = t.weight[3];
        // Every byte, the unused fourth one included, gets the same filter.
        size_t i = wide ? wide(s0, s1, s2, s3, d, bytes, t.weight) : 0;
        i += bicubicRow16(s0 + i, s1 + i, s2 + i, s3 + i, d + i, bytes - i, t.weight);
        for (; i < bytes; ++i) {
            const int32_t v = (w0 * s0[i] + w1 * s1[i] + w2 * s2[i] + w3 * s3[i] + kWeightOne / 2) >> kWeightBits;
            d[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
        }
    }
    return 1;
}

int BicubicScaler::scale(const PixelView& src, uint8_t* dst, int32_t dstStride)
{
    if (!taps_.empty())
        return scaleArea(src, dst, dstStride, RowRange{0, dstHeight_}, 0, srcWidth_);
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

int BicubicScaler::scaleRows(const PixelView& src, uint8_t* dst, int32_t dstStride, const RowRange* ranges,
                             int rangeCount)
{
    if (!taps_.empty()) {
        int ok = 1;
        for (int i = 0; ok && i < rangeCount; ++i)
            ok = scaleArea(src, dst, dstStride, ranges[i], 0, srcWidth_);
        return ok;
    }
    if (!context_ || !src.bits || !dst || src.width != srcWidth_ || src.height != srcHeight_ ||
        src.bitsPerPixel != bitsPerPixel_)
        return 0;
    const AVPixelFormat format = AV_PIX_FMT_BGRA;
    AVFrame* in = borrow(src.bits, srcWidth_, srcHeight_, src.stride, false, format);
    AVFrame* out = borrow(dst, dstWidth_, dstHeight_, dstStride, true, format);
    int ok = 0;
    if (in && out && sws_frame_start(context_, out, in) >= 0) {
        ok = sws_send_slice(context_, 0, static_cast<unsigned>(srcHeight_)) >= 0 ? 1 : 0;
        const int32_t align = static_cast<int32_t>(sws_receive_slice_alignment(context_));
        for (int i = 0; ok && i < rangeCount; ++i) {
            int32_t first = std::max(ranges[i].first, 0);
            int32_t end = std::min(ranges[i].first + ranges[i].count, dstHeight_);
            first -= first % align;
            if (end < dstHeight_)
                end = std::min(dstHeight_, (end + align - 1) / align * align);
            if (end > first)
                ok = sws_receive_slice(context_, static_cast<unsigned>(first), static_cast<unsigned>(end - first)) >= 0;
        }
        sws_frame_end(context_);
    }
    av_frame_free(&in);
    av_frame_free(&out);
    return ok;
}

namespace {

// Output lines [first, last] of a dst-long axis that a change of source lines
// [srcFirst, srcLast] of a src-long axis can reach through the filter.
BicubicScaler::RowRange reach(int32_t srcFirst, int32_t srcLast, int32_t src, int32_t dst)
{
    if (src <= 0 || dst <= 0)
        return BicubicScaler::RowRange{0, 0};
    // Four bicubic taps reach two source lines each way, more when shrinking
    // (the kernel widens by the reduction); one extra line covers rounding.
    const int32_t taps = 2 * ((src + dst - 1) / dst) + 1;
    const int64_t first = int64_t{srcFirst - taps} * dst / src - 1;
    const int64_t last = int64_t{srcLast + taps + 1} * dst / src + 1;
    const int32_t f = static_cast<int32_t>(std::clamp<int64_t>(first, 0, dst));
    const int32_t l = static_cast<int32_t>(std::clamp<int64_t>(last, 0, dst - 1));
    return BicubicScaler::RowRange{f, std::max(0, l - f + 1)};
}

} // namespace

BicubicScaler::RowRange BicubicScaler::affectedRows(int32_t srcFirst, int32_t srcLast) const
{
    return reach(srcFirst, srcLast, srcHeight_, dstHeight_);
}

BicubicScaler::RowRange BicubicScaler::affectedColumns(int32_t srcFirst, int32_t srcLast) const
{
    if (!taps_.empty()) {
        // Columns are not filtered: a change stays in its own columns.
        const int32_t f = std::clamp(srcFirst, 0, srcWidth_);
        const int32_t l = std::clamp(srcLast, -1, srcWidth_ - 1);
        return RowRange{f, std::max(0, l - f + 1)};
    }
    return reach(srcFirst, srcLast, srcWidth_, dstWidth_);
}

void BicubicScaler::close()
{
    if (context_)
        sws_freeContext(context_);
    context_ = nullptr;
    taps_.clear();
}

} // namespace quillet
