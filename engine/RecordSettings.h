#pragma once
#include <cstdint>
#include <string>

#include "engine/ScreenFrame.h"

namespace quillet {

class ProfileStore;

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
    // quality clamped to 0..4, source index clamped to 0..sourceCount, frame
    // rate and flags as stored. sourceCount is the number of recording devices
    // plus one when the computer's own sound can be recorded.
    void load(const ProfileStore& settings, int sourceCount);
    // Writes the stored fields back (the settings window's OK).
    int save(ProfileStore& settings) const;
};

// Frame-rate list entries map index i to {2, 5, 10, 15, 20}[i mod 5]; a
// negative index counts as 0.
int framesPerSecondForListIndex(int index);
// The list entry showing a rate: 2 -> 0, 5 -> 1, 10 -> 2, 15 -> 3, others 0.
int listIndexForFramesPerSecond(int fps);

} // namespace quillet
