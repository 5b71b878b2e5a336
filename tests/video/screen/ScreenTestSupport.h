#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "engine/ScreenFrame.h"
#include "video/screen/ScreenCodec.h"
#include "video/screen/ScreenDecoder.h"

// Helpers of the screen codec tests: an independent reader of the block
// stream (its own zlib stream and its own walk, written from the format
// description), the comparison of a decoded picture with the frame it came
// from, and a recorder loop that codes a scene the way the AVI output does.
namespace quillet::test {

// A frame the test paints pixel by pixel (bottom-up, 16 (5-5-5), 24 or 32 bits).
struct TestFrame {
    std::vector<uint8_t> bits;
    ScreenFrame frame;
    TestFrame(int32_t width, int32_t height, int bitsPerPixel = 32);
    // (x, y) counted from the top.
    void set(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b);
    void fill(const Rect& inclusive, uint8_t r, uint8_t g, uint8_t b);
};

// Deflates a block stream as the first region after a reset and puts the DCT
// part in front: a region the test writes by hand.
std::vector<uint8_t> craft_region(const std::vector<uint8_t>& blockStream, const std::vector<uint8_t>& dct = {});

struct ParsedBlock {
    int32_t x = 0; // pixel position of the block
    int32_t y = 0;
    int code = 0;  // 0 raw, 1 slot, 2 DCT, 3 history
    int value = 0; // slot number or history index
};

struct ParsedRegion {
    size_t dctBytes = 0;    // c - 2
    uint32_t pos = 0;       // ring position at the start
    size_t streamBytes = 0; // inflated block stream
    std::vector<uint8_t> stream;
    std::vector<ParsedBlock> blocks;
};

// Follows the coder's zlib stream region by region.
class StreamTap {
public:
    StreamTap();
    ~StreamTap();
    void restart();
    // Parses one region coded for rect in a width x height picture.
    bool parse(const Rect& rect, int32_t width, int32_t height, const uint8_t* data, size_t length,
               ParsedRegion& out);

private:
    z_stream z_{};
};

// The walk order of a rectangle's blocks (pixel positions), as the format describes it.
std::vector<std::pair<int32_t, int32_t>> walk_order(const Rect& rect, int32_t width, int32_t height);

struct FrameCheck {
    size_t exactBlocks = 0;      // blocks that must match the converted samples exactly
    size_t mismatchedBlocks = 0; // of them, how many did not
    size_t lossyBlocks = 0;
    double lossyPsnr = 99.0; // over the lossy blocks, against the frame's colours
    double framePsnr = 99.0; // over the whole picture
};

// Compares a decoded picture with the frame: exact where lossy is 0 (the
// colour of the frame's converted blocks), PSNR elsewhere and overall.
FrameCheck check_frame(const ScreenFrame& frame, const ScreenPicture& decoded, const uint8_t* lossy);

struct RecordOptions {
    int keyInterval = 30;    // frames from one key frame to the next
    bool naturalTest = true; // run the video-content test on every tile
    bool decodeSideData = true;
};

struct RecordTotals {
    int frames = 0;
    size_t regionBytes = 0;
    size_t sideBytes = 0;
    size_t regions = 0;
    size_t failedRegions = 0; // could not be coded even in pieces
    size_t splitRegions = 0;  // coded in more than one piece
    size_t sidePackets = 0;
    size_t naturalFrames = 0;
    FrameCheck worst; // lowest PSNRs and the largest mismatch count of all frames
    std::string firstError;
};

// Codes frames through a coder and decodes them at once, as an AVI
// recording and its player would, checking every decoded frame.
class Recorder {
public:
    Recorder(int32_t width, int32_t height, int bitsPerPixel, RecordOptions options = {});
    bool ok() const { return ok_; }
    // Codes, decodes and checks one frame (key frame when due).
    void frame(const ScreenFrame& frame, int index);
    const RecordTotals& totals() const { return totals_; }
    ScreenCodec& coder() { return coder_; }
    ScreenDecoder& decoder() { return decoder_; }

private:
    RecordOptions options_;
    ScreenCodec coder_;
    ScreenDecoder decoder_;
    std::vector<uint8_t> region_;
    std::vector<uint8_t> side_;
    RecordTotals totals_;
    bool ok_ = false;
};

} // namespace quillet::test
