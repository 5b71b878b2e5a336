#pragma once

#include "engine/ScreenFrame.h"

namespace quillet {

// Where the countdown's digit stands at each step: a 300 × 300 window that
// starts in the middle of the primary monitor and slides one step per second
// towards its lower right corner (where the tray usually is), while the digit
// shrinks. On the fifth step the window's top reaches the bottom edge, so the
// last picture slides out of view. Integer divisions throughout.
class CountdownPath {
public:
    static constexpr int kSide = 300;
    static constexpr int kFirstCount = 5;

    // `monitor`: the primary monitor, physical pixels.
    explicit CountdownPath(const Rect& monitor);

    // The window's top-left corner while `counter` (5 down to 0) shows.
    int x(int counter) const;
    int y(int counter) const;
    // The digit's size in tenths of a point: 160 pt for 5 down to 10 pt for 0.
    static int pointTenths(int counter) { return counter * 300 + 100; }

private:
    int left_ = 0, top_ = 0;
    int dx_ = 0, dy_ = 0;
};

} // namespace quillet
