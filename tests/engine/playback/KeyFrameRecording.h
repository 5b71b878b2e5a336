#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ScreenFrame.h"

// A recording written frame by frame through the AVI or own record output,
// with key frames where the test wants them and what was captured at each.
namespace quillet::test {

constexpr int kKeyFrameFrames = 40;
constexpr int kKeyFrameFps = 5;

// Key frames at 0, 7, 14, 21, 28, 30 and 35.
inline bool isKey(int i) { return i % 7 == 0 || i == 30; }
// Frames 1, 5, 9, ... cover two ticks.
inline uint32_t ticksOf(int i) { return i % 4 == 1 ? 2 : 1; }

struct KeyFrameRecording {
    std::string file;
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<ScreenFrame> frames; // bits point into pictures
    std::vector<uint32_t> ticks;     // at which each frame shows
};

// ext "avi" or "rec"; name is the file's stem in the scratch folder.
KeyFrameRecording writeKeyFrameRecording(const char* ext, const std::string& name, bool (*keyAt)(int) = isKey);

} // namespace quillet::test
