#pragma once
#include <cstdint>
#include <vector>

#include "capture/synthetic/SyntheticScreen.h"
#include "engine/ScreenFrame.h"

// A scripted desktop on the synthetic screen for the playback tests: icons on
// a background, a window that moves, a menu that comes and goes and comes
// back, a window of text that scrolls and a video-like picture that changes
// every frame; plus a cursor that moves and changes shape.
namespace quillet::test {

class PlaybackScene {
public:
    PlaybackScene(SyntheticScreen& screen, const Rect& area) : screen_(screen), area_(area) {}

    // Paints frame t over the whole screen and moves the cursor.
    void paint(int t);
    // The recorded area as the coders saw it: a bottom-up frame of the
    // screen's depth (stored words, as the grabber copies them).
    void capture(ScreenFrame& frame, std::vector<uint8_t>& bits) const;
    // Where the cursor picture's top-left corner is, area-relative.
    int32_t cursorX() const { return pointerX_ - hot_ - area_.left; }
    int32_t cursorY() const { return pointerY_ - hot_ - area_.top; }
    // The cursor's colour at its (1, 1) pixel for shape s.
    static uint32_t cursorColour(int shape) { return shape ? 0x2040E0 : 0xE02020; }
    int shape() const { return shape_; }

private:
    void fill(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rgb);

    SyntheticScreen& screen_;
    Rect area_;
    int32_t pointerX_ = 0;
    int32_t pointerY_ = 0;
    int32_t hot_ = 1;
    int shape_ = -1;
};

} // namespace quillet::test
