#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ScreenFrame.h"
#include "video/DeflateStream.h"

// Keeps the previous captured frame to shrink the grabber's dirty rectangles
// to what really changed, and produces the pixel forms the still-image and
// SWF paths need: bottom-up 24-bit copies of a region, zlib-compressed ARGB
// tiles for the lossless mode, and the 32-bit expansion of 5-5-5 frames.
// Frames are bottom-up with rows of exactly width * bytes-per-pixel.
// Used from the video thread only.
namespace quillet {

enum class TileCoding { Jpeg, Lossless };

class BlockCoder {
public:
    static constexpr int kTileSize = 64;
    static constexpr int kDefaultTileJpegQuality = 90;
    // A rectangle whose left holds this value is deleted.
    static constexpr int32_t kDeleted = 10000;

    BlockCoder() = default;
    BlockCoder(const BlockCoder&) = delete;
    BlockCoder& operator=(const BlockCoder&) = delete;

    // Sets the coder up for frames of this geometry (width, height and bits
    // per pixel are taken from format). Frees earlier buffers first. In
    // lossless mode the previous frame starts as all 0xFF bytes, so that the
    // first tighten() sees every pixel as changed. Returns 0, leaving the
    // coder without buffers, for fewer than 16 bits per pixel or another
    // unsupported geometry.
    int init(const ScreenFrame& format, TileCoding coding);
    bool ready() const { return !previous_.empty(); }

    // Shrinks rects[0 .. count) (inclusive coordinates, left == kDeleted means
    // deleted) to the changed pixels, merges neighbours and moves the
    // survivors to the front; returns how many survive. Each survivor reaches
    // one pixel past the change to the right and below where the frame has
    // room (callers use them as inclusive). Always makes the frame the new
    // previous frame. Rectangles are clipped to the frame first. Returns 0
    // and changes nothing when the frame does not match init().
    int tighten(const ScreenFrame& frame, Rect* rects, int count);

    // Writes the region of width x height pixels whose top-left pixel is
    // (left, top) as B, G, R rows, bottom-up, each row padded with zero bytes
    // to a multiple of 4 (bgr24Size bytes in all). Returns 1, or 0 when the
    // region is empty or leaves the frame, or dest cannot hold it. Needs no
    // init(): it works on any 16-, 24- or 32-bit frame.
    int to_bgr24(const ScreenFrame& frame, uint8_t* dest, size_t capacity, int left, int top, int width,
                 int height) const;
    static size_t bgr24Size(int width, int height) { return ((size_t(width) * 3 + 3) & ~size_t(3)) * size_t(height); }

    // Converts the region (inclusive rectangle) to top-down 0xFF, R, G, B
    // pixels and compresses them into one complete zlib stream in out.
    // Returns the compressed length, or 0 when not set up for lossless tiles,
    // the region leaves the frame, or out is too small.
    size_t code_lossless_tile(const ScreenFrame& frame, uint8_t* out, size_t capacity, const Rect& region);

    // Expands a 5-5-5 frame into the work buffer as B, G, R, X pixels (X left
    // as it was) for the H.264 path; returns the buffer or nullptr.
    const uint8_t* expand_rgb555(const ScreenFrame& frame);

    uint8_t* work_buffer() { return work_.data(); }
    size_t work_buffer_size() const { return work_.size(); }

    // Counters of the SWF path, kept here because the SWF path reads and
    // writes them between frames.
    int placedImageCount = 0;
    int tileJpegQuality = kDefaultTileJpegQuality;
    int64_t frameTotal = 0;

private:
    bool matches(const ScreenFrame& frame) const;
    // Clips an inclusive rectangle to the frame; false when nothing is left.
    bool clip(Rect& r) const;

    std::vector<uint8_t> previous_;
    std::vector<uint8_t> argb_;
    std::vector<uint8_t> work_;
    DeflateStream deflate_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int bitsPerPixel_ = 0;
    TileCoding coding_ = TileCoding::Jpeg;
};

} // namespace quillet
