#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/outputs/MediaOutput.h"
#include "video/screen/ScreenCodec.h"

namespace quillet {

class FrameGrabber;

// Where the coded pieces of a frame go: room for the next piece, then the
// piece itself. A container with a record limit answers 0 from room() once
// it is full.
class RegionSink {
public:
    virtual ~RegionSink() = default;
    // Room for one coded region of up to `capacity` bytes, or null when no
    // further record fits.
    virtual uint8_t* room(size_t capacity) = 0;
    // The region just coded into room(): its rectangle and byte count.
    virtual int commit(const Rect& rect, size_t length) = 0;
};

// The cursor as it travels beside the picture for one frame.
struct CursorUpdate {
    bool changed = false; // position or shape changed: a cursor record goes with the frame
    int32_t x = 0;
    int32_t y = 0;
    std::vector<uint8_t> picture; // LZO1X-compressed picture; empty when only the position changed
};

// What the AVI output and the own record file share: the screen codec over
// the grabber's output picture, one rectangle per tile, and the cursor beside
// the picture.
//
// A region too large for its record (65500 bytes) is coded as smaller
// rectangles: the codec leaves its state untouched when it refuses a
// region, so the pieces decode as if the whole had been coded. A piece
// that still does not fit, or finds no room in the container, is lost;
// lost() then says so, and the output codes the next frame as a key frame,
// since the decoder's picture differs from the coder's until then.
class ScreenFrameCoder {
public:
    int open(const OutputOpenParams& params);

    // Starts a frame: brings the output picture up to date, takes the cursor
    // position (scaled to the output picture; at a key frame position and
    // picture whether they changed or not), resets the codec at a key frame
    // and collects the rectangles to code: every whole tile at a key frame,
    // the tiles' dirty rectangles otherwise. With detectVideo the codec's
    // video-content test runs over them.
    void beginFrame(VideoFrameJob& job, bool key, bool detectVideo);
    int rectangleCount() const { return static_cast<int>(rects_.size()); }
    // Codes rectangle i into the sink; returns the coded bytes (pieces
    // summed), 0 when nothing came out.
    size_t codeRectangle(int i, RegionSink& sink);
    // The codec's H.264 side data for this frame (see ScreenCodec::side_data),
    // `regionBytes` coded so far; capacity limits it. Returns its length.
    size_t sideData(size_t regionBytes, size_t capacity);
    const uint8_t* sideDataBytes() const { return side_.data(); }
    // The last tile rectangle, which the own record file's closing record
    // names when no region was coded.
    Rect lastTile() const { return lastTile_; }

    const CursorUpdate& cursor() const { return cursor_; }
    // Some area of this frame could not be coded.
    bool lost() const { return lost_; }
    ScreenCodec& codec() { return codec_; }

    // Regions larger than this make the codec remember the tile's rectangle,
    // so a large change in the same place is looked at as video next time.
    static constexpr size_t kRememberAbove = 12000;
    // Side data this short says the video area has stopped moving.
    static constexpr size_t kForgetBelow = 100;

private:
    size_t codePiece(const Rect& rect, RegionSink& sink, int depth);
    void takeCursor(VideoFrameJob& job, bool key);

    ScreenCodec codec_;
    const ScreenFrame* frame_ = nullptr;
    struct Pending {
        Rect rect;
        int tile;
    };
    std::vector<Pending> rects_;
    std::vector<uint8_t> side_;
    int firstVideoTile_ = -1;
    Rect lastTile_{};
    bool lost_ = false;
    bool scaleSet_ = false;
    CursorUpdate cursor_;
};

} // namespace quillet
