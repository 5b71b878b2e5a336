#pragma once

namespace quillet::desktop::layout {

// The main window is a small fixed dialog; its controls sit at fixed places
// (window coordinates), which the desktop tests also use to click them.
struct Box {
    int x, y, w, h;
    int centreX() const { return x + w / 2; }
    int centreY() const { return y + h / 2; }
};

constexpr int kWindowWidth = 440;
constexpr int kWindowHeight = 272;
constexpr int kIconSize = 32;

// The row of command buttons, left to right.
constexpr Box kStart{8, 8, 40, 40};
constexpr Box kPause{54, 8, 40, 40};
constexpr Box kStop{100, 8, 40, 40};
constexpr Box kPen{146, 8, 40, 40};
constexpr Box kSettings{192, 8, 40, 40};
constexpr Box kAbout{238, 8, 40, 40};
constexpr Box kLanguage{284, 8, 40, 40};
// Elapsed time above the sound level.
constexpr Box kElapsed{332, 8, 100, 22};
constexpr Box kLevel{332, 34, 100, 12};
constexpr Box kFormatList{8, 56, 424, 26};
constexpr Box kFileBox{8, 88, 336, 28};
constexpr Box kFolder{350, 88, 40, 28};
constexpr Box kPlay{392, 88, 40, 28};
constexpr Box kInfoBox{8, 124, 424, 140};

} // namespace quillet::desktop::layout
