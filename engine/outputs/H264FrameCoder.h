#pragma once
#include <cstdint>
#include <vector>

#include "engine/outputs/MediaOutput.h"
#include "video/ColorConvert.h"
#include "video/H264Encoder.h"

namespace quillet {

// The part MP4 and FLV share: the H.264 encoder with its packet buffer, fed
// with the output picture with the cursor burnt in.
class H264FrameCoder {
public:
    // Sets up and opens the encoder for the output size, rate and quality.
    // Returns 0 when the library refuses.
    int open(const OutputOpenParams& params);
    // Burns the cursor in, brings the output picture up to date, encodes it
    // with timestampMs and takes the cursor out again. Only the grabber's
    // output changes since the previous call are converted and analysed.
    // Returns the length of the FLV video tag written into packet() (0:
    // nothing produced; the next call then takes the whole picture).
    size_t encode(VideoFrameJob& job);
    // The AVC sequence-header tag of the open encoder, into packet().
    size_t sequenceHeader();
    void close() { encoder_.close(); }

    const uint8_t* packet() const { return packet_.data(); }
    bool lastWasKeyFrame() const { return encoder_.last_was_keyframe != 0; }
    H264Encoder& encoder() { return encoder_; }

private:
    H264Encoder encoder_;
    Rgb555Expander expander_; // 5-5-5 frames are expanded to 32 bits first
    std::vector<uint8_t> packet_;
};

// The SPS and PPS inside an AVC sequence-header tag (NAL units, header byte
// first). Returns 0 when the tag is too short for what its length fields say.
struct ParameterSets {
    const uint8_t* sps = nullptr;
    int spsLength = 0;
    const uint8_t* pps = nullptr;
    int ppsLength = 0;
};
int parseSequenceHeaderTag(const uint8_t* tag, size_t length, ParameterSets* out);

} // namespace quillet
