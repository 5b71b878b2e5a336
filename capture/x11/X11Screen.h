#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/ScreenSource.h"
#include "capture/x11/X11Connection.h"

// Xlib types stay out of this header so that callers need no X11 includes.
struct _XDisplay;

namespace quillet {

// The X11 screen: copies through MIT-SHM (plain XGetImage when the extension
// is missing), changed rectangles from XDamage on the root window, the cursor
// from XFixes and pointer moves from XInput2 raw motion events, so that a still
// frame costs no server round trip at all.
//
// A 24-bit screen delivers 32-bit pixels (B, G, R, X); a 16-bit 5-6-5 screen is
// delivered as 5-5-5 words, and a 15-bit one as it is. Other depths are not
// delivered (bitsPerPixel() is 0).
//
// The source owns its own display connection; after open() it must be used by
// one thread at a time (the engine's video thread while recording).
class X11Screen : public ScreenSource {
public:
    X11Screen();
    ~X11Screen() override;
    X11Screen(const X11Screen&) = delete;
    X11Screen& operator=(const X11Screen&) = delete;

    // Time a display gets to answer the connection (ms).
    static constexpr uint32_t kOpenTimeoutMs = 10000;

    // Connects to `displayName` (nullptr: $DISPLAY). Returns 1, or 0 when the
    // display cannot be opened, did not answer within timeoutMs, or *cancel
    // became true meanwhile; openProblem() and openReason() then say which.
    int open(const char* displayName = nullptr, uint32_t timeoutMs = kOpenTimeoutMs,
             const std::atomic<bool>* cancel = nullptr);
    void close();
    X11OpenProblem openProblem() const { return openProblem_; }
    const std::string& openReason() const { return openReason_; }

    bool usesSharedMemory() const { return useShm_; }
    // Copies with plain XGetImage from the next openPicture() on, as when the
    // server lacks MIT-SHM (or is on another machine).
    void forcePlainCopies() { useShm_ = false; }
    bool tracksDamage() const { return damage_ != 0; }
    bool tracksPointerMoves() const { return xiOpcode_ != 0; }
    // X depth of the root window (24, 16, ...), 0 before open().
    int depth() const { return depth_; }

    int32_t logicalWidth() const override { return width_; }
    int32_t logicalHeight() const override { return height_; }
    int32_t physicalWidth() const override { return width_; }
    int32_t physicalHeight() const override { return height_; }
    uint8_t bitsPerPixel() const override { return bitsPerPixel_; }
    int openPicture(int32_t width, int32_t height) override;
    PixelView picture() const override;
    void closePicture() override;
    int copyToPicture(const Rect& screen, int32_t dstX, int32_t dstY) override;
    int pollChanges(std::vector<Rect>& changed) override;
    bool prefersBatchedCopies() const override { return true; }
    bool compositionActive() override;
    int pointerPosition(int32_t& x, int32_t& y) override;
    uint64_t cursorSerial() override;
    int cursorImage(CursorImage& image) override;
    // True once the X server has gone away; the recording then ends through
    // its normal stop, and the file is finalised.
    bool connectionLost(std::string* reason) const override;
    std::string sourceName() const override { return displayName_; }

private:
    // Connected, and the connection not lost.
    bool usable() const { return display_ && !watch_.lost(); }
    void pumpEvents();
    int queryPointer();
    void convert565(int32_t x, int32_t y, int32_t w, int32_t h);
    int attachShm(size_t bytes);
    void detachShm();

    _XDisplay* display_ = nullptr;
    X11ConnectionWatch watch_;
    std::string displayName_;
    X11OpenProblem openProblem_ = X11OpenProblem::Connected;
    std::string openReason_;
    int screen_ = 0;
    unsigned long root_ = 0;
    int depth_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint8_t bitsPerPixel_ = 0;
    bool from565_ = false;

    // Capture picture: inside the shared segment (followed by a staging area
    // for rectangles that cannot land in place) or on the heap without MIT-SHM.
    bool useShm_ = false;
    void* shmInfo_ = nullptr;  // XShmSegmentInfo
    void* shmImage_ = nullptr; // XImage describing the next transfer
    uint8_t* pictureBits_ = nullptr;
    uint8_t* staging_ = nullptr;
    std::vector<uint8_t> heapPicture_;
    int32_t pictureWidth_ = 0;
    int32_t pictureHeight_ = 0;
    int32_t pictureStride_ = 0;

    int damageEventBase_ = 0;
    unsigned long damage_ = 0;
    std::vector<Rect> pendingDamage_; // reported since the last poll

    int fixesEventBase_ = 0;
    bool hasFixes_ = false;
    uint64_t cursorSerial_ = 0;

    std::chrono::steady_clock::time_point lastPump_{};
    int xiOpcode_ = 0;
    bool pointerMoved_ = true;
    uint64_t lastPointerQuery_ = 0;
    int32_t pointerX_ = 0;
    int32_t pointerY_ = 0;
};

} // namespace quillet
