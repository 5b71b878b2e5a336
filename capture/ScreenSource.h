#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ScreenFrame.h"

namespace quillet {

// A view of pixels stored top row first. `bits` is owned by whoever handed the
// view out; it stays valid until that owner closes or reallocates it.
struct PixelView {
    uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;       // bytes from one row to the next
    uint8_t bitsPerPixel = 0; // 32 (B, G, R, X in memory) or 16 (RGB 5-5-5 words)

    uint8_t* row(int32_t y) const { return bits + static_cast<int64_t>(y) * stride; }
    int bytesPerPixel() const { return bitsPerPixel / 8; }
};

// The mouse cursor's current shape. Pixels are premultiplied ARGB (alpha in the
// top byte), `width` × `height`, top row first. `serial` identifies the shape:
// it changes whenever the shape does and is never 0 for a real shape.
struct CursorImage {
    uint64_t serial = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t hotX = 0;
    int32_t hotY = 0;
    std::vector<uint32_t> argb;
};

// The platform's screen as the grabber and the cursor overlay see it. One
// backend per platform (X11) plus a scripted one for tests and benchmarks.
//
// Threads: a source is used by one thread at a time. The engine opens it and
// initialises the grabber on the user-interface thread, then hands both to the
// video thread until recording stops.
//
// Rectangles handed to and returned by a source are screen rectangles with
// exclusive right and bottom, in physical pixels.
class ScreenSource {
public:
    virtual ~ScreenSource() = default;

    // Desktop size as applications see it, and as the screen has it in pixels.
    // They differ only under display scaling.
    virtual int32_t logicalWidth() const = 0;
    virtual int32_t logicalHeight() const = 0;
    virtual int32_t physicalWidth() const = 0;
    virtual int32_t physicalHeight() const = 0;
    // Bits per pixel of the pictures this source delivers: 32, or 16 for
    // 5-5-5 words (a 5-6-5 screen is converted while copying). 0 when the
    // screen has a depth that cannot be delivered.
    virtual uint8_t bitsPerPixel() const = 0;

    // Allocate the capture picture of width × height (replacing any previous
    // one). The source owns its memory; `picture()` is valid until
    // closePicture() or the next openPicture(). Returns 1, or 0 when the memory
    // cannot be had.
    virtual int openPicture(int32_t width, int32_t height) = 0;
    virtual PixelView picture() const = 0;
    virtual void closePicture() = 0;

    // Copy the screen rectangle `screen` into the picture with its top-left
    // corner at (dstX, dstY). The caller keeps both rectangles inside the screen
    // and the picture. Returns 1, or 0 when the copy failed (the picture keeps
    // its old pixels there).
    virtual int copyToPicture(const Rect& screen, int32_t dstX, int32_t dstY) = 0;

    // Rectangles that changed on screen since the previous call, appended to
    // `changed`. Returns 1 when this source tracks changes (an empty result then
    // means a still screen), 0 when it cannot tell and the caller must guess.
    virtual int pollChanges(std::vector<Rect>& changed) = 0;

    // Copies cost a fixed amount per call (a server round trip), so merging
    // neighbouring rectangles into one copy pays even without a compositor.
    virtual bool prefersBatchedCopies() const = 0;

    // A compositing manager is running.
    virtual bool compositionActive() = 0;

    // Pointer position in screen pixels. Returns 1, or 0 when unknown.
    virtual int pointerPosition(int32_t& x, int32_t& y) = 0;
    // Identity of the current cursor shape; 0 when unknown. Cheap: no copy of
    // the image.
    virtual uint64_t cursorSerial() = 0;
    // The current cursor shape with its pixels. Returns 1, or 0 when unknown.
    virtual int cursorImage(CursorImage& image) = 0;

    // The screen is gone for good (its server went away): every copy fails
    // from now on. *reason, when given, says why. Any thread.
    virtual bool connectionLost(std::string* reason) const
    {
        (void)reason;
        return false;
    }
    // The name the user knows the screen by (an X display name), for messages.
    virtual std::string sourceName() const { return {}; }
};

} // namespace quillet
