#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ScreenFrame.h"

namespace quillet {

class ProfileStore;

// A stored setting that could not be used as it stood, and what is used instead.
struct SettingRepair {
    std::string section;
    std::string key;
    std::string stored;      // the text in the settings file
    std::string replacement; // the value used
};
using SettingRepairs = std::vector<SettingRepair>;

// Lowest and highest stored frame rate that is used as it stands (26 to 30
// then run at 25, the 40-ms period).
constexpr int kMinStoredFramesPerSecond = 1;
constexpr int kMaxStoredFramesPerSecond = 30;

// The recording parameters the shell fills and the session reads once at start.
struct RecordSettings {
    int qualityLevel = 2;
    uint8_t framesPerSecond = 15;
    bool recordSound = true;
    // 0 default recording device, 1..n device n-1, audioSourceCount = loopback
    int audioSourceIndex = 0;
    int audioSourceCount = 0; // derived, never stored
    bool hideWhileRecording = false;
    Rect captureArea; // right == left: the whole screen
    std::string outputFileName;
    bool useDefaultDeviceInsteadOfLoopback = false; // not stored

    bool wholeScreen() const { return captureArea.right == captureArea.left; }

    // Reads the stored fields from the settings file with the load rules:
    // quality clamped to 0..4, source index clamped to 0..sourceCount, flags
    // as stored. A frame rate that is not a number or lies outside 1..30 is
    // replaced by the default 15 (it would otherwise wrap through the byte it
    // is kept in). sourceCount is the number of recording devices plus one
    // when the computer's own sound can be recorded. Every value that was
    // replaced or clamped is appended to *repairs when given.
    void load(const ProfileStore& settings, int sourceCount, SettingRepairs* repairs = nullptr);
    // Writes the stored fields back (the settings window's OK).
    int save(ProfileStore& settings) const;
};

// Frame-rate list entries map index i to {2, 5, 10, 15, 20}[i mod 5]; a
// negative index counts as 0.
int framesPerSecondForListIndex(int index);
// The list entry showing a rate: 2 -> 0, 5 -> 1, 10 -> 2, 15 -> 3, others 0.
int listIndexForFramesPerSecond(int fps);

} // namespace quillet
