#pragma once
#include <cstdint>

#include "capture/ScreenSource.h"

struct SwsContext;

namespace quillet {

// High-quality bicubic resampling of a whole picture, through libswscale.
// Reads a top-row-first picture and writes a bottom-row-first one, so the flip
// the coders need costs nothing extra.
class BicubicScaler {
public:
    BicubicScaler() = default;
    ~BicubicScaler();
    BicubicScaler(const BicubicScaler&) = delete;
    BicubicScaler& operator=(const BicubicScaler&) = delete;

    // bitsPerPixel must be 32 (B, G, R, X). Returns 0 for other depths or
    // sizes the scaler refuses.
    int open(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight, uint8_t bitsPerPixel);
    // `src` must match the opened source size and depth; `dst` points at a
    // dstHeight × dstStride buffer whose first stored row is the bottom one.
    int scale(const PixelView& src, uint8_t* dst, int32_t dstStride);
    // The same, but computes only the output rows [first, first + count)
    // (counted from the top) of each range, leaving the others as they are.
    // The rows come out exactly as a whole-picture scale would make them.
    struct RowRange {
        int32_t first;
        int32_t count;
    };
    int scaleRows(const PixelView& src, uint8_t* dst, int32_t dstStride, const RowRange* ranges, int rangeCount);
    // Output rows [first, last] that a change of source rows [srcFirst,
    // srcLast] can reach through the filter, clipped to the picture.
    RowRange affectedRows(int32_t srcFirst, int32_t srcLast) const;
    // The same across: output columns that a change of source columns
    // [srcFirst, srcLast] can reach, as first and count.
    RowRange affectedColumns(int32_t srcFirst, int32_t srcLast) const;
    void close();

private:
    SwsContext* context_ = nullptr;
    int32_t srcWidth_ = 0;
    int32_t srcHeight_ = 0;
    int32_t dstWidth_ = 0;
    int32_t dstHeight_ = 0;
    uint8_t bitsPerPixel_ = 0;
};

} // namespace quillet
