#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/ScreenFrame.h"
#include "video/screen/ScreenPicture.h"

// The screen codec "QVS2" of the AVI output and the own record file.
//
// Captured frames are cut into 8x8 blocks, each turned into a 96-byte
// converted block (64 Y samples and 16 averaged Cb/Cr pairs). A block seen
// before, here or elsewhere on the screen, costs a 2-bit code and one or two
// bytes; blocks with many distinct values (photographs) are coded with a DCT;
// everything else is stored as converted samples. The block stream runs
// through one zlib stream that lasts from one key frame to the next. With
// video-like content on the screen (see natural_test) the DCT units go to an
// embedded H.264 encoder instead, whose access units travel as side data.
// video/screen/FORMAT.md describes the bytes.
//
// The format is lossy only in two places: converted blocks keep chroma at
// half resolution (so a decoded pixel is the converted block turned back
// into colour, not the captured pixel), and DCT and H.264 units. Everything
// else decodes to exactly the converted blocks the coder saw.
//
// One object either codes (init mode 1) or decodes (any other mode); the
// decoding side of the H.264 side data lives in ScreenDecoder, so that this
// library does not need a decoder library. Not thread-safe: one thread at a
// time uses an instance.
//
// Codec depth 32 (the SWF block path) is not built here: init() with depth 32
// returns 0.
namespace quillet {

class I420Picture;

// Where a decode call found its data unusable.
enum class ScreenDataPart : uint8_t {
    None,        // no error
    Region,      // the region record's bytes as handed to decode_region()
    BlockStream, // the inflated block stream of the region
    SideData,    // the side data handed to ScreenDecoder::decode_side_data()
    Call,        // the call itself (not initialised, wrong mode, bad rectangle)
};

struct ScreenCodecError {
    const char* reason = nullptr; // static English text; nullptr when there was no error
    ScreenDataPart part = ScreenDataPart::None;
    size_t offset = 0; // byte offset inside that part where the problem was found
};

// How a 16-bit frame packs its pixels. The capture code delivers 5-5-5.
enum class Pixel16Layout : uint8_t { Rgb555, Rgb565 };

class ScreenCodec {
public:
    static constexpr int kCodeMode = 1;
    static constexpr int kDecodeMode = 0;
    static constexpr int kCodecDepth = 24;    // AVI and the own record file
    static constexpr int kSwfCodecDepth = 32; // not built (init returns 0)
    static constexpr int kBlockBytes = 96;
    static constexpr int kHistoryEntries = 8;
    static constexpr uint32_t kMaxCapacity = 32764;
    static constexpr int kMaxTiles = 16;
    // The DCT part's length field holds 16 bits.
    static constexpr size_t kMaxDctField = 65535;
    // The JPEG quality of DCT units.
    static constexpr int kDctQuality = 75;

    ScreenCodec();
    ~ScreenCodec();
    ScreenCodec(const ScreenCodec&) = delete;
    ScreenCodec& operator=(const ScreenCodec&) = delete;

    // Used by init() for 16-bit frames; Rgb555 until changed.
    void set_16bit_layout(Pixel16Layout layout) { layout16_ = layout; }

    // Sets the codec up for frames of width x height pixels (any positive
    // size up to 65535; rows bottom-up with a stride of width * bytes per
    // pixel) at 16, 24 or 32 screen bits per pixel. mode 1 codes, any other
    // mode decodes. Coding at depth 24 also opens the H.264 side channel for
    // the 16-aligned size, its bit rate taken from quality_level (0..4) as
    // for the recording's own H.264 output, at 15 frames per second.
    // Ends with reset(). Returns 1, or 0 (the codec is then unusable) for a
    // bad size, depth or bit count, or when memory or the H.264 encoder
    // cannot be had.
    int init(int32_t width, int32_t height, int screen_bits_per_pixel, int mode = kCodeMode,
             int codec_depth = kCodecDepth, int quality_level = 2);
    bool ready() const;
    int mode() const { return mode_; }

    // Key frame: forgets every block seen so far (hash table and position
    // histories), restarts the zlib stream, and in coding mode turns the
    // H.264 picture grey (all samples 128), makes its next picture an IDR
    // picture and clears the natural unit count. The regions after a reset
    // decode without anything before it.
    void reset();

    // ---- coding (mode 1)

    // Codes the rectangle (inclusive, picture coordinates, row 0 at the top)
    // of frame into out[0 .. capacity) and returns the byte count. The
    // rectangle is clipped to the frame and widened to the 8-pixel grid (left
    // and top down, right and bottom up). Returns 0 for an empty rectangle, a
    // frame that does not match init(), a DCT part over 65535 - 2 bytes, or a
    // result that does not fit capacity; in every such case the codec's state
    // is exactly as before the call, so the caller may code the rectangle as
    // smaller pieces instead (or skip it) and later regions still decode.
    // A region record limited to 65500 bytes passes capacity 65500.
    size_t code_region(const ScreenFrame& frame, uint8_t* out, size_t capacity, const Rect& rect);
    // A capacity that always suffices for code_region() on this rectangle.
    size_t region_capacity(const Rect& rect) const;

    // Set while the current frame has video-like content: DCT units then go
    // to the H.264 picture instead of the DCT part. natural_test() sets it;
    // the caller clears it when a new frame begins (before the frame's
    // natural_test() calls), since only it knows where frames start.
    uint8_t natural = 0;

    // Video-content test of one tile's rectangle (inclusive) in frame: sets
    // `natural` when the rectangle is the one remembered for the tile, or when
    // its colour changes exceed 30 per cent of its pixels (the rectangle is
    // then remembered). Rectangles no more than 15 pixels wide or tall, or
    // whose width + height is at most 159, never count. Returns `natural`.
    // Always 0 when the H.264 side channel is not open.
    int natural_test(int tile, const Rect& rect, const ScreenFrame& frame);
    // Stores the rectangle for the tile (0 .. kMaxTiles - 1); an all-zero
    // rectangle forgets it.
    void remember_rectangle(int tile, const Rect& rect);
    Rect remembered_rectangle(int tile) const;

    // When `natural` is set and at least one unit went to the H.264 picture
    // since the last side data: adds budget to the H.264 encoder's frame
    // counter, clears the count and encodes the picture as one Annex B access
    // unit into out. Returns its length, or 0 (nothing to send, or it did not
    // fit capacity). The side data of a frame must reach the decoder before
    // that frame's regions.
    size_t side_data(uint8_t* out, size_t capacity, uint32_t budget);
    // A capacity that always suffices for side_data().
    size_t side_data_capacity() const;
    // DCT units copied into the H.264 picture since the last side data.
    uint32_t natural_units() const;

    // ---- decoding (other modes)

    // Decodes one region record's coded bytes for the rectangle it was coded
    // with (as stored beside it) into picture, which must be width x height.
    // Regions must be decoded in the order they were coded, from a reset on.
    // Units that went to the H.264 picture are taken from the picture set by
    // set_natural_source() (grey when none is set). Returns 1, or 0 with
    // last_error() telling why and where; the picture may then be partly
    // updated, and the codec needs a reset() (the next key frame) before it
    // decodes again.
    int decode_region(const Rect& rect, const uint8_t* data, size_t length, ScreenPicture& picture);
    // The upright I420 picture (16-aligned size) that H.264 units are copied
    // from; ScreenDecoder sets it. The picture must outlive its use.
    void set_natural_source(const I420Picture* picture);
    const ScreenCodecError& last_error() const;
    // Per 8x8 block position, row by row from the top-left: 1 where the
    // picture shows a block that came from a DCT or H.264 unit (directly or
    // through the cache), 0 where it shows converted samples exactly.
    // Decoding mode only; nullptr otherwise.
    const uint8_t* lossy_blocks() const;
    // Block positions per row and per column (width and height rounded up to 8, over 8).
    int32_t blocks_per_row() const { return (width_ + 7) / 8; }
    int32_t block_rows() const { return (height_ + 7) / 8; }

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int bits_per_pixel() const { return bitsPerPixel_; }
    // Cache slots: width8 * height8 / 64, within 1 .. kMaxCapacity.
    uint32_t capacity() const;

    struct State; // defined in ScreenCodecState.h

private:
    std::unique_ptr<State> s_;
    Pixel16Layout layout16_ = Pixel16Layout::Rgb555;
    int mode_ = kCodeMode;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int bitsPerPixel_ = 0;
};

} // namespace quillet
