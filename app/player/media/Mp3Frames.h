#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace quillet::player {

// What the four header bytes of an MPEG audio layer III frame say.
struct Mp3FrameHeader {
    int bytes = 0;       // the whole frame, header included
    int samples = 0;     // per channel: 1152 (MPEG-1) or 576 (MPEG-2 and 2.5)
    int sampleRate = 0;
    int channels = 0;
    int bitrateKbps = 0;
};

// Returns false for anything that is not a layer III header with a bit rate.
bool parseMp3Header(const uint8_t* p, Mp3FrameHeader& out);

// Decodes a constant-rate MP3 stream handed over in pieces of any size and
// knows where in the stream every decoded sample belongs: the stream is cut
// into frames by their headers, and a frame's number follows from its byte
// position, so a decode that starts in the middle of the stream (a seek), or
// a frame that does not decode (it becomes silence), keeps the time line.
class Mp3FrameDecoder {
public:
    Mp3FrameDecoder();
    ~Mp3FrameDecoder();
    Mp3FrameDecoder(const Mp3FrameDecoder&) = delete;
    Mp3FrameDecoder& operator=(const Mp3FrameDecoder&) = delete;

    // Output channels (1 or 2); frames of another layout are converted. The
    // stream's rate and mean byte rate tell where its frames start.
    // Returns 1, or 0 when the library has no MP3 decoder.
    int open(int channels, int sampleRate, uint32_t bytesPerSecond);
    // Forgets what is buffered; the next bytes fed start at streamOffset.
    // Frames right after a start in the middle of the stream lack the bit
    // reservoir and the overlap of the frames before them: the first
    // primingFrames() of them come out as silence.
    void restart(uint64_t streamOffset);
    // Frames a start must lie before the first sample wanted.
    int primingFrames() const;
    int samplesPerFrame() const;
    void feed(const uint8_t* data, size_t size);
    // Decodes the next whole frame: appends its samples to pcm and gives the
    // stream position (sample frames since the stream's first) of the first.
    // Returns 0 when no whole frame is buffered.
    int decodeFrame(std::vector<int16_t>& pcm, int64_t& firstSample);
    // Frames that did not decode (played as silence).
    int badFrames() const { return badFrames_; }

private:
    bool frameAt(size_t at, Mp3FrameHeader& h) const;
    bool findFrame(Mp3FrameHeader& h);
    int decodeInto(const uint8_t* frame, const Mp3FrameHeader& h, std::vector<int16_t>& pcm);

    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int channels_ = 1;
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;          // first unused byte of buffer_
    uint64_t bufferOffset_ = 0; // stream offset of buffer_[0]
    int badFrames_ = 0;
    double meanFrameBytes_ = 0; // 0: unknown
    bool synced_ = false;       // start_ is a frame boundary
    int sampleRate_ = 0;
    int silentFrames_ = 0;      // priming frames still to come
};

} // namespace quillet::player
