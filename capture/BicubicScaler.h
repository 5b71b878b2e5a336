#pragma once
#include <cstdint>
#include <vector>

#include "capture/ScreenSource.h"

struct SwsContext;

namespace quillet {

// High-quality bicubic resampling of a whole picture. Reads a top-row-first
// picture and writes a bottom-row-first one, so the flip the coders need costs
// nothing extra.
//
// A picture that keeps its width and grows a little in height (a 1920 x 1080
// screen into a 1920 x 1088 frame, the commonest case) is scaled by our own
// vertical filter: the same cubic (B = 0, C = 0.6) at the same sample
// positions as the library's, without its horizontal pass and colour
// round trip, and it can scale just the columns that changed. Other sizes go
// through libswscale.
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
    // True when output columns equal source columns (our vertical filter);
    // scaleArea() is then available.
    bool verticalOnly() const { return !taps_.empty(); }
    // Vertical filter only: computes output rows `rows` in the source columns
    // [left, right) (both clipped), exactly as a whole-picture scale would.
    int scaleArea(const PixelView& src, uint8_t* dst, int32_t dstStride, RowRange rows, int32_t left, int32_t right);
    void close();

private:
    // One output row of the vertical filter: four source rows (clamped to the
    // picture) and their weights in 1/16384.
    struct Tap {
        int32_t row[4];
        int32_t weight[4];
    };
    void buildTaps();

    std::vector<Tap> taps_;
    SwsContext* context_ = nullptr;
    int32_t srcWidth_ = 0;
    int32_t srcHeight_ = 0;
    int32_t dstWidth_ = 0;
    int32_t dstHeight_ = 0;
    uint8_t bitsPerPixel_ = 0;
};

} // namespace quillet
