#pragma once
#include <cstdint>
#include <vector>

#include "capture/ScreenSource.h"
#include "engine/ScreenFrame.h"

namespace quillet {

class FrameGrabber;

// Screen copies never contain the mouse cursor; this class puts it back.
//
// Burn-in mode (MP4, FLV, WMV, images): updateForBurnIn() each frame, burnIn()
// before the frame is scaled and coded, restore() afterwards, so that the
// grabber's pictures stay cursor-free.
// Separate mode (AVI, own record file): changed() each frame; when it returns 1
// the position (and, with pictureSize() > 0, the picture) travels beside the
// frame.
//
// Cursor identities are the screen source's cursor serials; 0 ("no cursor
// read") keeps the previous one.
//
// Threads: one recording's video thread; setters before it starts.
class CursorOverlay {
public:
    static constexpr int32_t kSide = 32;
    static constexpr int32_t kPictureBytes = kSide * kSide * 4;
    // RGB (0, 128, 128) marks transparent pixels of the picture.
    static constexpr uint32_t kKeyRgb = 0x008080;

    // `source` must outlive the overlay.
    explicit CursorOverlay(ScreenSource& source);

    // Position scale num / den (output width and physical screen width when
    // the frame is scaled). Non-positive values give 1 / 1.
    void setScale(int32_t num, int32_t den);
    // The recorded area in physical screen pixels (exclusive right and bottom);
    // all zero: positions are screen positions, no clamping.
    void setArea(const Rect& area);
    // Forgets the position and the last shape sent.
    void resetPosition();

    // Reads the position (and the shape when it changed) for burn-in. Returns 1
    // when the position changed.
    int updateForBurnIn(uint64_t cursor);
    // Saves the capture picture under the cursor and draws the cursor there.
    // Returns 0 when the grabber has no picture.
    int burnIn(FrameGrabber& grabber);
    // Puts the saved pixels back. Returns 0 when nothing was saved.
    int restore(FrameGrabber& grabber);

    // Separate mode: returns 1 when the position or the shape changed. A new
    // shape renders the picture and sets pictureSize() to 4096, a move alone
    // sets it to 0.
    int changed(uint64_t cursor);

    int32_t x() const { return x_; }
    int32_t y() const { return y_; }
    int32_t pictureSize() const { return pictureSize_; }
    int32_t pictureWidth() const { return kSide; }
    int32_t pictureHeight() const { return kSide; }
    // 32 × 32 pixels, bottom row first, 4 bytes each: blue, green, red, 0.
    const uint8_t* picture() const { return picture_; }
    // The picture in the LZO1X format (LZO1X-1 compressor). Returns 1 or 0.
    int compressedPicture(std::vector<uint8_t>& out) const;

private:
    void loadShape(uint64_t cursor);
    void computePosition(int32_t& x, int32_t& y) const;
    void renderPicture();
    void shrinkPicture();

    ScreenSource& source_;
    uint8_t picture_[kPictureBytes]{};
    int32_t pictureSize_ = 0;
    int32_t x_ = 0;
    int32_t y_ = 0;
    uint64_t lastCursor_ = 0; // shape last put into the picture
    Rect area_{};
    int32_t scaleNum_ = 1;
    int32_t scaleDen_ = 1;

    // The current shape cut to 32 × 32: premultiplied ARGB, top row first.
    uint64_t shapeSerial_ = 0;
    uint32_t shape_[kSide * kSide]{};
    int32_t hotX_ = 0;
    int32_t hotY_ = 0;

    // Burn-in: the capture pixels under the cursor and where they came from.
    std::vector<uint8_t> background_;
    Rect saved_{}; // capture coordinates, exclusive; empty when nothing saved
};

// The arrow the SWF cursor always shows: a 32 × 32 picture in the layout of
// CursorOverlay::picture(), key colour where transparent.
void arrowCursorPicture(uint8_t picture[CursorOverlay::kPictureBytes]);
// Converts such a picture to the SWF lossless-with-alpha order: top row first,
// 4 bytes per pixel alpha, red, green, blue; key-coloured pixels become fully
// transparent (all zero), the others fully opaque. `argb` gets 4096 bytes.
void swfCursorPicture(const uint8_t picture[CursorOverlay::kPictureBytes], std::vector<uint8_t>& argb);

} // namespace quillet
