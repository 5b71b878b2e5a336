#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillet::player {

// One picture as the player shows it: 32-bit pixels in B, G, R, X byte order
// (X = 0xFF), top row first, stride exactly width * 4.
struct MediaPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;

    size_t stride() const { return size_t(width) * 4; }
    void allocate(int32_t w, int32_t h)
    {
        width = w;
        height = h;
        pixels.resize(size_t(w) * size_t(h) * 4);
    }
    uint8_t* row(int32_t y) { return pixels.data() + size_t(y) * stride(); }
    const uint8_t* row(int32_t y) const { return pixels.data() + size_t(y) * stride(); }
};

// When a picture shows: from startMs until endMs (the next picture's start, or
// the end of the recording for the last one), in ms from the recording's start.
struct PictureTiming {
    int64_t startMs = 0;
    int64_t endMs = 0;
    int64_t index = 0; // in presentation order from the start of the file, -1 when unknown
    bool key = false;
};

struct SoundFormat {
    int sampleRate = 0; // 0: no sound
    int channels = 0;
    bool present() const { return sampleRate > 0 && channels > 0; }
};

// What the player learns about a file when it opens it.
struct MediaInfo {
    std::string path;
    std::string format;  // "MP4", "FLV", "WMV", "AVI", "record file", "JPEG images", ...
    std::string details; // codecs and rates, for the window's information line
    int32_t width = 0;
    int32_t height = 0;
    int64_t durationMs = 0; // as far as the file can be played
    double framesPerSecond = 0;
    SoundFormat sound; // as the sound reader delivers it (16-bit interleaved)
};

// "m:ss.t" (or "h:mm:ss.t") for a media time in ms.
std::string formatMediaTime(int64_t ms);

} // namespace quillet::player
