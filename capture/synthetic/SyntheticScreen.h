#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "capture/ScreenSource.h"

namespace quillet {

// A screen held in memory that plays a scripted scene: the test or benchmark
// paints rectangles, moves the pointer and changes the cursor, and the screen
// reports exactly those changes (when tracking is on) and counts the copies
// made from it. No display is needed.
class SyntheticScreen : public ScreenSource {
public:
    // physical size; bitsPerPixel 32 or 16 (5-5-5); a logical size of 0 means
    // the same as the physical one (no display scaling).
    SyntheticScreen(int32_t width, int32_t height, uint8_t bitsPerPixel = 32, int32_t logicalWidth = 0,
                    int32_t logicalHeight = 0);

    // --- the scene
    // Paints a rectangle (exclusive right and bottom) in 0xRRGGBB, clipped to
    // the screen, and reports it as changed.
    void fill(const Rect& r, uint32_t rgb);
    // Changes a rectangle without reporting it (a change the notifications miss).
    void fillUnreported(const Rect& r, uint32_t rgb);
    // The stored pixel at (x, y): B, G, R, X as one word at 32 bits, the 5-5-5
    // word at 16 bits.
    uint32_t pixel(int32_t x, int32_t y) const;
    // The stored form of 0xRRGGBB at this screen's depth.
    uint32_t stored(uint32_t rgb) const;
    void setPointer(int32_t x, int32_t y);
    void setCursor(const CursorImage& image);
    void setTracking(bool on) { tracking_ = on; }
    void setComposition(bool on) { composition_ = on; }
    void setBatching(bool on) { batching_ = on; }
    // Makes the next openPicture() fail, as when memory is short.
    void failNextOpen() { failOpen_ = true; }
    // The server goes away: every copy fails and connectionLost() says so.
    void loseConnection() { lost_ = true; }

    // --- what the grabber did
    int copies() const { return copies_; }
    int64_t copiedPixels() const { return copiedPixels_; }
    // Copies refused because they reached outside the screen or the picture.
    int rejectedCopies() const { return rejected_; }
    void resetCounters();

    // --- ScreenSource
    int32_t logicalWidth() const override { return logicalWidth_; }
    int32_t logicalHeight() const override { return logicalHeight_; }
    int32_t physicalWidth() const override { return width_; }
    int32_t physicalHeight() const override { return height_; }
    uint8_t bitsPerPixel() const override { return bitsPerPixel_; }
    int openPicture(int32_t width, int32_t height) override;
    PixelView picture() const override;
    void closePicture() override;
    int copyToPicture(const Rect& screen, int32_t dstX, int32_t dstY) override;
    int pollChanges(std::vector<Rect>& changed) override;
    bool prefersBatchedCopies() const override { return batching_; }
    bool compositionActive() override { return composition_; }
    bool connectionLost(std::string* reason) const override
    {
        if (lost_ && reason)
            *reason = "gone";
        return lost_;
    }
    std::string sourceName() const override { return ":synthetic"; }
    int pointerPosition(int32_t& x, int32_t& y) override;
    uint64_t cursorSerial() override { return cursor_.serial; }
    int cursorImage(CursorImage& image) override;

private:
    void paint(const Rect& r, uint32_t rgb);

    int32_t width_;
    int32_t height_;
    int32_t logicalWidth_;
    int32_t logicalHeight_;
    uint8_t bitsPerPixel_;
    std::vector<uint8_t> screen_; // top row first, width_ * bytes per pixel per row
    std::vector<uint8_t> picture_;
    int32_t pictureWidth_ = 0;
    int32_t pictureHeight_ = 0;
    std::vector<Rect> changes_;
    bool tracking_ = true;
    bool composition_ = false;
    bool batching_ = false;
    bool failOpen_ = false;
    std::atomic<bool> lost_{false};
    int32_t pointerX_ = 0;
    int32_t pointerY_ = 0;
    CursorImage cursor_;
    int copies_ = 0;
    int64_t copiedPixels_ = 0;
    int rejected_ = 0;
};

} // namespace quillet
