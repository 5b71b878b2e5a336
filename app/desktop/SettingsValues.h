#pragma once
#include <string>

#include "engine/ScreenFrame.h"

namespace quillet {
class ProfileStore;
}

namespace quillet::desktop {

// What the settings window holds between openings: read from the settings
// file once at start, changed by its OK (and the record-sound menu entry).
struct SettingsValues {
    int qualityLevel = 2;      // 0..4
    int framesPerSecond = 15;  // as stored; the window offers 2, 5, 10, 15
    bool recordSound = true;
    int audioSourceIndex = 0;  // 0 default device .. audioSourceCount
    int audioSourceCount = 0;
    bool hideWhileRecording = false;
    bool noTrayIcon = false;   // shown, never stored back

    // Reads the stored values with their load rules (quality clamped to
    // 0..4, source index to 0..sourceCount).
    void load(const ProfileStore& settings, int sourceCount);
    // Brings the source index into a new source count.
    void setSourceCount(int sourceCount);
};

// The four rectangle edits and what OK makes of them.
enum class AreaCheck {
    Accepted,
    OutOfRange,       // an edit is not a whole number 0..2000 (badField names it, 0..3)
    LargerThanScreen, // "Width1"
    TooSmall,         // "Width2": a non-zero side below 64
};
constexpr int kMaxAreaEdit = 2000;
constexpr int kMinAreaSide = 64;

// texts: left, top, width, height as typed. On Accepted, area is (left, top,
// left + width, top + height); a width of 0 therefore means the whole screen.
AreaCheck checkAreaEdits(const std::string texts[4], int screenWidth, int screenHeight, Rect* area, int* badField);

// An unsigned decimal number 0..2000 with optional surrounding blanks.
bool parseAreaEdit(const std::string& text, int* value);

// The values OK stores: the frame rate from the list's selection ({2, 5, 10,
// 15, 20}[s mod 5], negative as 0), the source index (negative as 0).
struct SettingsChoice {
    int qualityIndex = 0;
    int frameRateIndex = 0;
    int sourceIndex = 0;
    bool recordSound = true;
    bool hideWhileRecording = false;
    bool tip = false;
};
// Applies an accepted choice to values and writes "screen"/"audio2", "fps",
// "min" and "Quillet"/"a", "ad", "tip". Returns 1 when every write succeeded.
int storeSettingsChoice(const SettingsChoice& choice, SettingsValues* values, ProfileStore& settings);

} // namespace quillet::desktop
