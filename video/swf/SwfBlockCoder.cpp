#include "video/swf/SwfBlockCoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillet {
namespace {

constexpr int kBlockPixels = SwfBlockCoder::kBlock * SwfBlockCoder::kBlock;
constexpr int kBlockBytes = kBlockPixels * 3;
// Header pixels of the lossless bitmap before the positions: the two counts.
constexpr int kCountPixels = 2;
// Room for one JPEG-coded block (six 8x8 blocks at their worst) and the headers.
constexpr size_t kJpegBytesPerBlock = 2048;
constexpr size_t kJpegHeaderRoom = 1024;

// More than `limit` distinct colours among the block's pixels?
bool manyColours(const uint8_t* rgb, int limit)
{
    // Open addressing over a table twice the limit; 0 marks a free slot, so
    // colours are stored with a set top bit.
    uint32_t table[256] = {};
    int distinct = 0;
    for (int i = 0; i < kBlockPixels; ++i) {
        const uint32_t c = 0x1000000u | uint32_t(rgb[i * 3]) | uint32_t(rgb[i * 3 + 1]) << 8 |
                           uint32_t(rgb[i * 3 + 2]) << 16;
        uint32_t h = (c * 2654435761u) >> 24;
        while (table[h] != 0 && table[h] != c)
            h = (h + 1) & 255;
        if (table[h] == 0) {
            table[h] = c;
            if (++distinct > limit)
                return true;
        }
    }
    return false;
}

void putPixel(uint8_t* at, uint32_t value24)
{
    at[0] = 0xFF;
    at[1] = uint8_t(value24 >> 16);
    at[2] = uint8_t(value24 >> 8);
    at[3] = uint8_t(value24);
}

} // namespace

int SwfBlockCoder::init(int width, int height, int bitsPerPixel)
{
    width_ = height_ = 0;
    if (width <= 0 || height <= 0 || width % kBlock || height % kBlock || width > kMaxSide || height > kMaxSide)
        return 0;
    if (bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32)
        return 0;
    if (!deflate_.open())
        return 0;
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bitsPerPixel;
    columns_ = width / kBlock;
    rows_ = height / kBlock;
    previous_.assign(size_t(width) * size_t(height) * 3, 0);
    marks_.assign(size_t(columns_) * size_t(rows_), 0);
    return 1;
}

bool SwfBlockCoder::loadBlock(const ScreenFrame& frame, int bx, int by, uint8_t rgb[kBlockBytes])
{
    const int bpp = frame.bitsPerPixel / 8;
    uint8_t* d = rgb;
    for (int y = 0; y < kBlock; ++y) {
        const uint8_t* s = frame.rowFromTop(by * kBlock + y) + size_t(bx) * kBlock * bpp;
        for (int x = 0; x < kBlock; ++x, s += bpp, d += 3) {
            if (bpp == 2) {
                const uint32_t p = uint32_t(s[0]) | uint32_t(s[1]) << 8;
                d[0] = uint8_t((p & 0x1F) << 3);
                d[1] = uint8_t((p >> 2) & 0xF8);
                d[2] = uint8_t((p >> 7) & 0xF8);
            } else {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
        }
    }
    bool changed = false;
    for (int y = 0; y < kBlock; ++y) {
        uint8_t* p = previous_.data() + (size_t(by * kBlock + y) * size_t(width_) + size_t(bx) * kBlock) * 3;
        const uint8_t* row = rgb + y * kBlock * 3;
        if (std::memcmp(p, row, kBlock * 3) != 0) {
            std::memcpy(p, row, kBlock * 3);
            changed = true;
        }
    }
    return changed;
}

int SwfBlockCoder::code(const ScreenFrame& frame, const Rect* rects, int count, bool key, int jpegQuality,
                        SwfBlockData& out)
{
    out = SwfBlockData{};
    if (width_ == 0 || frame.bits == nullptr || frame.width != width_ || frame.height != height_ ||
        frame.bitsPerPixel != bitsPerPixel_)
        return 0;
    if (key) {
        std::fill(marks_.begin(), marks_.end(), uint8_t{1});
    } else {
        std::fill(marks_.begin(), marks_.end(), uint8_t{0});
        for (int i = 0; i < count; ++i) {
            const Rect& r = rects[i];
            const int l = std::max(0, r.left) / kBlock, t = std::max(0, r.top) / kBlock;
            const int rr = std::min(width_ - 1, r.right) / kBlock, b = std::min(height_ - 1, r.bottom) / kBlock;
            for (int by = t; by <= b; ++by)
                for (int bx = l; bx <= rr; ++bx)
                    marks_[size_t(by) * columns_ + bx] = 1;
        }
    }
    positions_.clear();
    jpegPositions_.clear();
    losslessPixels_.clear();
    jpegPixels_.clear();
    uint8_t rgb[kBlockBytes];
    for (int by = 0; by < rows_; ++by)
        for (int bx = 0; bx < columns_; ++bx) {
            if (!marks_[size_t(by) * columns_ + bx])
                continue;
            // A key frame sends every block: the player starts its picture afresh.
            if (!loadBlock(frame, bx, by, rgb) && !key)
                continue;
            const uint32_t position = uint32_t(bx) << 12 | uint32_t(by);
            if (manyColours(rgb, kJpegColourThreshold)) {
                jpegPositions_.push_back(position);
                jpegPixels_.insert(jpegPixels_.end(), rgb, rgb + kBlockBytes);
            } else {
                positions_.push_back(position);
                losslessPixels_.insert(losslessPixels_.end(), rgb, rgb + kBlockBytes);
            }
        }
    out.losslessBlocks = int(positions_.size());
    out.jpegBlocks = int(jpegPositions_.size());
    if (out.empty())
        return 1;
    positions_.insert(positions_.end(), jpegPositions_.begin(), jpegPositions_.end());
    if (out.jpegBlocks > 0 && !writeMosaic(jpegQuality, out))
        return 0;
    return writeLossless(out);
}

int SwfBlockCoder::writeLossless(SwfBlockData& out)
{
    const int n = out.losslessBlocks;
    const int columns =
        std::clamp(int(std::ceil(std::sqrt(double(n)))), kMinLosslessColumns, kMaxLosslessColumns);
    const int u = columns * kBlock;
    const int headerPixels = kCountPixels + int(positions_.size());
    const int headerRows = (headerPixels + u - 1) / u;
    const int blockRows = (n + columns - 1) / columns;
    const int h = headerRows + blockRows * kBlock;
    bitmap_.assign(size_t(u) * size_t(h) * 4, 0);
    for (size_t i = 0; i < bitmap_.size(); i += 4)
        bitmap_[i] = 0xFF;
    putPixel(&bitmap_[0], uint32_t(out.losslessBlocks));
    putPixel(&bitmap_[4], uint32_t(out.jpegBlocks));
    for (size_t i = 0; i < positions_.size(); ++i)
        putPixel(&bitmap_[(kCountPixels + i) * 4], positions_[i]);
    for (int k = 0; k < n; ++k) {
        const uint8_t* src = losslessPixels_.data() + size_t(k) * kBlockBytes;
        const int x0 = (k % columns) * kBlock;
        const int y0 = headerRows + (k / columns) * kBlock;
        for (int y = 0; y < kBlock; ++y) {
            uint8_t* d = &bitmap_[(size_t(y0 + y) * u + x0) * 4];
            for (int x = 0; x < kBlock; ++x, d += 4, src += 3) {
                d[1] = src[2];
                d[2] = src[1];
                d[3] = src[0];
            }
        }
    }
    out.lossless.resize(bitmap_.size() + bitmap_.size() / 1000 + 64);
    if (!deflate_.open())
        return 0;
    deflate_.setOutput(out.lossless.data(), out.lossless.size());
    if (!deflate_.feed(bitmap_.data(), bitmap_.size(), Z_FINISH))
        return 0;
    out.lossless.resize(deflate_.totalOut());
    out.losslessWidth = u;
    out.losslessHeight = h;
    return 1;
}

int SwfBlockCoder::writeMosaic(int quality, SwfBlockData& out)
{
    const int n = out.jpegBlocks;
    const int columns = (n + kMosaicMaxColumns - 1) / kMosaicMaxColumns;
    const int rows = (n + columns - 1) / columns;
    const int total = columns * rows;
    out.mosaicWidth = columns * kBlock;
    out.mosaicHeight = rows * kBlock;
    out.jpeg.resize(kJpegHeaderRoom + size_t(total) * kJpegBytesPerBlock);
    jpeg_.set_quality(quality);
    if (!jpeg_.write_headers(out.mosaicWidth, out.mosaicHeight, out.jpeg.data(), out.jpeg.size()))
        return 0;
    const JpegKernels& kernels = jpegKernels();
    JpegMcuSamples samples;
    const uint8_t* rowPointers[kBlock];
    for (int k = 0; k < total; ++k) {
        if (k < n) {
            const uint8_t* block = jpegPixels_.data() + size_t(k) * kBlockBytes;
            for (int y = 0; y < kBlock; ++y)
                rowPointers[y] = block + y * kBlock * 3;
            kernels.convertMcu(rowPointers, samples);
        } else {
            // The slots after the last block are flat grey.
            std::memset(&samples, 0, sizeof samples);
        }
        if (!jpeg_.encode_mcu(samples))
            return 0;
    }
    if (!jpeg_.finish_scan())
        return 0;
    out.jpeg.resize(jpeg_.bytes_written(out.jpeg.data()));
    return 1;
}

} // namespace quillet
