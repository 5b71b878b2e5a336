#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/ScreenSource.h"
#include "capture/TileLayout.h"
#include "engine/ScreenFrame.h"

namespace quillet {

class BicubicScaler;

// The 40-byte bitmap information block that describes the output frame to
// writers and coders (little-endian on disk; plain fields here).
struct FrameFormat {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0; // positive: rows stored bottom row first
    uint16_t planes = 1;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};
static_assert(sizeof(FrameFormat) == 40, "the bitmap information block is 40 bytes");

// Copies the recorded screen area into a frame at every tick and tells the
// coders which parts changed.
//
// The picture is cut into at most 16 fixed tiles; each carries one dirty
// rectangle. Changes come from cheap sources (the screen source's change
// notifications, rectangles handed to addChangedRect, the area around the
// mouse), never from comparing whole screens; a periodic full copy bounds the
// damage of a missed change. Only dirty rectangles are copied from the screen.
//
// Pictures:
// - the capture picture (captureWidth × captureHeight, top row first) is owned
//   by the screen source and receives the screen copies;
// - the output picture (`frame()`, width × height, bottom row first as the
//   coders expect) is owned by the grabber; scaleToOutput() fills it;
// - the reference picture is the last state known to the coders.
//
// Threads: init() and release() on the user-interface thread while the video
// thread is not running; capture(), scaleToOutput(), mapAndShrink(), frame()
// and the cursor helpers on the video thread. addChangedRect() may be called
// from any thread while the grabber is initialised (it takes a lock), but not
// at the same time as init() or release().
//
// Ownership: the grabber owns the output and reference pictures, the screen
// source owns the capture picture; pointers from frame() and capturePicture()
// stay valid until release() (or the grabber's destruction).
//
// Changes: with a source that tracks changes (X11 damage), only reported
// rectangles are read from the screen, the square around the mouse is checked
// but not read, and a full copy follows every 10 s. Without tracking, the
// rectangles that changed last frame and the mouse square are read, with a full
// copy every 500 ms. Either way the first frame after init() is a full copy.
//
// A frame tick, burn-in types (MP4, FLV, WMV, images):
//   grabber.capture(false);
//   cursor.updateForBurnIn(source.cursorSerial()); cursor.burnIn(grabber);
//   grabber.scaleToOutput();          // images: then mapAndShrink()
//   ... code grabber.frame() ...
//   cursor.restore(grabber);
// Region-coding types (AVI, SWF): grabber.capture(true), then code the dirty
// rectangles of grabber.frame().tiles; cursor.changed(source.cursorSerial())
// says whether the cursor record goes with the frame.
//
// Results: 1 success, 0 failure.
class FrameGrabber {
public:
    // Tunable intervals of the full copy, in ms.
    static constexpr uint32_t kFullRefreshInitialMs = 3000;
    // Without change notifications every frame copies the remembered tiles, and
    // a missed change is only repaired by the full copy, so it comes often.
    static constexpr uint32_t kFullRefreshGuessingMs = 500;
    // With change notifications a miss is rare.
    static constexpr uint32_t kFullRefreshTrackedMs = 10000;
    // Half the side of the square around the pointer that is always checked.
    static constexpr int32_t kMouseMargin = 32;
    // Include override-redirect and layered windows in copies. The X server's
    // copies of the root window always include them; kept for callers.
    static constexpr uint8_t kFlagLayeredWindows = 8;

    // Magic values of the change list.
    static constexpr uint32_t kChangeListRequested = 3458773;
    static constexpr uint32_t kChangeListAnswered = 126543;

    // `source` must outlive the grabber. `clock` returns milliseconds on a
    // monotonic clock (default: tickMs()).
    explicit FrameGrabber(ScreenSource& source, std::function<uint64_t()> clock = {});
    ~FrameGrabber();
    FrameGrabber(const FrameGrabber&) = delete;
    FrameGrabber& operator=(const FrameGrabber&) = delete;

    // Prepares the pictures for recording `area` (screen rectangle in logical
    // pixels, exclusive right and bottom; all zero = whole screen). The output
    // is limited to 1920 × 1080 with `largeLimit`, else to 1600 × 1024, keeping
    // the aspect, and rounded to multiples of 16. An area reaching past the
    // screen is cut to it. Returns 0 when the screen's depth cannot be delivered,
    // the area holds fewer than 8 × 8 pixels or memory is short. Calling init on
    // an initialised grabber returns 1 and changes nothing.
    int init(const Rect& area, uint8_t flags, bool largeLimit);

    // One frame: collects the changes, copies the dirty rectangles of the
    // capture picture from the screen and aligns each tile's dirty rectangle
    // (capture coordinates, area-relative, inclusive). With `postProcess` it
    // then runs scaleToOutput() and mapAndShrink(). Returns 0 when not
    // initialised (no frame this tick).
    int capture(bool postProcess);
    // Brings the output picture up to date with the capture picture: a bicubic
    // scale when the sizes differ, else a copy of the rectangles written since
    // the last call.
    int scaleToOutput();
    // Turns each dirty rectangle into output coordinates, shrinks it to the
    // pixels that differ from the reference picture (aligned to 16 at the left
    // and top, to 8k + 7 at the right and bottom) and updates the reference.
    int mapAndShrink();
    void release();

    // Merges a changed screen rectangle (inclusive, physical pixels) into the
    // changes of the next frame.
    void addChangedRect(const Rect& rect);
    // Moves the recorded area, keeping its size, so that its top-left corner is
    // at (left, top) or as near as the screen allows (a followed window moved).
    // Any thread while initialised; the next capture() reads the whole area at
    // its new place.
    void moveArea(int32_t left, int32_t top);

    bool initialised() const { return initialised_; }
    bool compositionActive() const { return compositionActive_; }
    int tileCount() const { return tileCount_; }
    // Tile i of the output picture with its current dirty rectangle. The
    // rectangle is in output coordinates after mapAndShrink(); between
    // capture() and mapAndShrink() it is still in capture coordinates
    // (the same when the frame is not scaled).
    FrameTile tile(int i) const;
    uint8_t bitsPerPixel() const { return bitsPerPixel_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t captureWidth() const { return captureWidth_; }
    int32_t captureHeight() const { return captureHeight_; }
    const FrameFormat& frameFormat() const { return frameFormat_; }
    // The recorded area in physical screen pixels (exclusive right and bottom).
    Rect captureArea() const;
    // The output frame with the tiles' current dirty rectangles. The grabber
    // owns its pixels; they stay valid until release().
    const ScreenFrame& frame();
    // The capture picture (top row first), owned by the screen source.
    PixelView capturePicture() const;
    // Areas of the output picture (upright, inclusive right and bottom) that
    // may differ from what it held at the last clearOutputChanges() (or at
    // init(), when all of it counts as changed). Every pixel that differs lies
    // inside one of them, the cursor's drawing and removal included, so a coder
    // that keeps its own copy of the output picture can refresh just these.
    const std::vector<Rect>& outputChanges() const { return outputChanges_; }
    void clearOutputChanges() { outputChanges_.clear(); }
    // Records that pixels of the capture picture were changed outside a copy
    // (the cursor drawn in or taken out), so that scaleToOutput() carries them
    // over. Capture coordinates, exclusive right and bottom.
    void markCaptureChanged(const Rect& rect);

    // The dirty rectangle of each tile as the last step left it.
    const Rect* changeList() const { return changeList_; }
    uint32_t changeListMagic() const { return changeMagic_; }
    uint32_t fullRefreshInterval() const { return fullRefreshInterval_; }
    const Rect* captureTiles() const { return captureTiles_; }
    const Rect* outputTiles() const { return outputTiles_; }

private:
    void collectChanges();
    void applyAreaMove();
    void mergeScreenRect(const Rect& inclusive);
    void mergeMouseRect();
    void queueCopy(const Rect& screen, bool batch, Rect& pending, bool& hasPending);
    void copyRect(const Rect& screen);
    void alignEntry(Rect& e, const Rect& tile, int32_t limitRight, int32_t limitBottom) const;
    int shrinkToDifference(Rect& e) const; // 0: no difference
    Rect toCaptureRect(const Rect& output) const;
    void widen555(const PixelView& pic, const Rect& rect);
    // Adds the output area that scaling or copying capture rectangle r
    // (exclusive right and bottom) can have changed.
    void addOutputChange(const Rect& r);
    void narrowTo555(int32_t firstRow, int32_t rowCount);

    ScreenSource& source_;
    std::function<uint64_t()> clock_;

    bool initialised_ = false;
    uint8_t flags_ = 0;
    Rect area_{};             // physical pixels, origin of the capture picture on screen
    int32_t physicalWidth_ = 0;
    int32_t physicalHeight_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t captureWidth_ = 0;
    int32_t captureHeight_ = 0;
    uint8_t bitsPerPixel_ = 0;
    FrameFormat frameFormat_{};

    Rect captureTiles_[kMaxTiles]{};
    Rect captureTilesScreen_[kMaxTiles]{};
    Rect outputTiles_[kMaxTiles]{};
    int tileCount_ = 0;
    Rect rememberedRects_[kMaxTiles]{};

    std::mutex eventMutex_;
    Rect eventRects_[kMaxTiles]{};
    bool areaMovePending_ = false; // guarded by eventMutex_, as is the target
    int32_t areaMoveLeft_ = 0;
    int32_t areaMoveTop_ = 0;

    uint32_t changeMagic_ = 0;
    Rect changeList_[kMaxTiles]{};
    // The part of each entry that must be read from the screen (screen
    // coordinates, inclusive; empty entries have right < left).
    Rect copyList_[kMaxTiles]{};

    uint64_t lastFullRefresh_ = 0;
    uint32_t fullRefreshInterval_ = kFullRefreshInitialMs;
    bool compositionActive_ = false;
    bool changesTracked_ = false;
    bool fullRefreshDue_ = false;

    std::vector<uint8_t> outputBits_;
    // 16-bit frames only: 32-bit copies of the capture and output pictures
    // that the scaler works on.
    std::vector<uint8_t> wide_;
    std::vector<uint8_t> wideOutput_;
    std::vector<uint8_t> referenceBits_;
    ScreenFrame frame_{};
    std::unique_ptr<BicubicScaler> scaler_;
    // Capture-picture rectangles written since the last scaleToOutput().
    std::vector<Rect> unsynced_;
    std::vector<Rect> polled_;
    std::vector<Rect> outputChanges_;
};

} // namespace quillet
