#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The pictures a recording holds, as other decoders than the player's see
// them, for comparing with what the player shows.
namespace quillet::player::test {

struct RgbFrame {
    int64_t startMs = 0; // from the recording's start
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // top row first, 3 bytes a pixel
};

// Every picture of a file as ffmpeg decodes it, with its time; the forEach
// forms hand each over in turn without keeping them.
std::vector<RgbFrame> ffmpegFrames(const std::string& file);
void forEachFfmpegFrame(const std::string& file, const std::function<void(const RgbFrame&)>& take);
// One image file as ffmpeg decodes it.
RgbFrame ffmpegImage(const std::string& file);
// Every picture of an AVI or own record file as the recordings' own reader
// decodes it (the screen codec's decoder, the cursor drawn from its track),
// played from the start.
std::vector<RgbFrame> screenCodecFrames(const std::string& file);
void forEachScreenCodecFrame(const std::string& file, const std::function<void(const RgbFrame&)>& take);

// Mean of the red, green and blue bytes.
double meanLevel(const RgbFrame& f);
// A binary PPM (the player's "dump").
bool readPpm(const std::string& file, RgbFrame& out);
// A PNG (the player's "grab"), through ffmpeg.
bool readPng(const std::string& file, RgbFrame& out);

// The frame that shows at startMs (within a millisecond), or null.
const RgbFrame* frameStartingAt(const std::vector<RgbFrame>& frames, int64_t startMs);

struct Difference {
    double mean = 1e9; // per byte
    int max = 255;
};
Difference compare(const RgbFrame& a, const RgbFrame& b);

} // namespace quillet::player::test
