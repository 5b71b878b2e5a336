#pragma once
#include <ctime>
#include <functional>
#include <string>

#include "engine/RecordSettings.h"
#include "engine/ScreenFrame.h"

namespace quillet {

// Rules of the start sequence that need no devices.

enum class AreaResult {
    WholeScreen, // the area is empty: record the whole screen
    Ok,          // `out` holds the adjusted area
    Bad,         // negative size, or nothing of it lies on the screen
};

// Adjusts a capture area (exclusive right and bottom, screen pixels) to the
// coders' needs: width and height each become (value + 9) rounded down to a
// multiple of 16, and an area that would pass the right or bottom screen edge
// is shifted back, never below 0. Along an axis that the area covers, or where
// the rounded size would pass the screen's, the area becomes the whole screen
// width (or height), which the grabber rounds by scaling as it does for the
// whole screen. The result always lies on the screen. An area that becomes
// narrower or lower than 16 pixels is Bad: it cannot be coded and silently
// recording the whole screen instead would surprise the user.
AreaResult adjustCaptureArea(const Rect& area, int screenWidth, int screenHeight, Rect* out);

// Default output name: folder + local time as "%m-%d-%H_%M_%S" + "." + ext.
std::string defaultOutputName(const std::string& folder, const std::tm& localTime, const std::string& extension);

// The confirmation text: format name, file, sound on or off, frame rate, and
// the closing hint; keys are looked up in the "MSG" section through lookup.
using MessageLookup = std::function<std::string(const char* key)>;
std::string confirmationText(const std::string& formatName, const std::string& fileName, bool recordSound,
                             int framesPerSecond, const MessageLookup& lookup);

// The end-of-recording text: the slow-capture warning when it applies, then the
// "finished" text, the file name and the frame rate the recording ran at.
std::string endMessageText(uint32_t framesEncoded, uint32_t framesCounted, const std::string& fileName,
                           int framesPerSecond, const MessageLookup& lookup);

} // namespace quillet
