#pragma once
#include <cstdint>
#include <vector>

struct lame_global_struct; // LAME's handle type (lame_t)

namespace quillet {

// MP3 back end of AudioEncoder on LAME: constant bit rate with a CRC in every
// frame, private/copyright/original header bits set, no VBR/info header frame.
// Produces a bare frame stream. Not thread-safe; used under the session's lock.
class Mp3Backend {
public:
    // Value of the VBR fields flag that makes start() fill LAME's VBR fields.
    static constexpr int kVbrFieldsOn = 3;

    Mp3Backend() = default;
    ~Mp3Backend();
    Mp3Backend(const Mp3Backend&) = delete;
    Mp3Backend& operator=(const Mp3Backend&) = delete;

    // Stores the parameters for start(); always returns 1.
    // flushEachBuffer: every encode() call ends on a frame boundary (FLV, SWF).
    int configure(int inputSampleRate, int outputSampleRate, int channels, int bytesPerSecond, int vbrFieldsFlag,
                  int flushEachBuffer);
    // (Re)creates the LAME handle with the stored parameters. Returns 1, or 0
    // when LAME refuses them (no handle is kept then).
    int start();
    // Encodes pcmBytes of 16-bit little-endian PCM (interleaved when stereo;
    // a trailing partial sample frame is ignored) into out, which holds
    // outCapacity bytes. Returns the MP3 bytes written (0 when LAME still holds
    // every sample back), -1 for a bad argument, no handle or too little room
    // (see maxOutputBytes), or LAME's own negative error code.
    int encode(const uint8_t* pcm, int pcmBytes, uint8_t* out, int outCapacity);
    // Writes out every frame LAME still holds (padding the last with silence)
    // and ends the stream: encode() fails afterwards until start(). Returns the
    // bytes written or a negative error as encode() does.
    int finish(uint8_t* out, int outCapacity);
    void close();

    // The output room encode() asks for: LAME's own worst case,
    // 1.25 x samples + 7200 bytes, per channel pair fed.
    static int maxOutputBytes(int pcmBytes);

    bool isStarted() const { return lame_ != nullptr; }
    int inputSampleRate() const { return inputSampleRate_; }
    int outputSampleRate() const { return outputSampleRate_; }
    int channels() const { return channels_; }
    int bytesPerSecond() const { return bytesPerSecond_; }
    int vbrFieldsFlag() const { return vbrFieldsFlag_; }
    int flushEachBuffer() const { return flushEachBuffer_; }
    // 576 x channels for MPEG-2/2.5 output, 1152 x channels for MPEG-1; 0 before start().
    int samplesPerFrame() const { return samplesPerFrame_; }
    // The live LAME handle (null when closed), for inspection of its settings.
    lame_global_struct* lameHandle() const { return lame_; }

private:
    int flushEachBuffer_ = 0;
    lame_global_struct* lame_ = nullptr;
    int inputSampleRate_ = 0;
    int channels_ = 1;
    int bytesPerSecond_ = 0;
    int outputSampleRate_ = 0;
    int vbrFieldsFlag_ = 0;
    int samplesPerFrame_ = 0;
    bool finished_ = false;
    std::vector<int16_t> aligned_; // copy of input that is not 16-bit aligned
};

} // namespace quillet
