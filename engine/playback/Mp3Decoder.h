#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillet {

// Decodes an MP3 byte stream handed over in pieces of any size (frames may
// straddle them) into 16-bit interleaved PCM, with libavcodec's parser and
// decoder. Damaged frames are skipped: the parser finds the next header.
class Mp3Decoder {
public:
    Mp3Decoder();
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    // Returns 1, or 0 when the library has no MP3 decoder.
    int open();
    // Feeds bytes; decoded samples are appended to pcm. Returns 0 only when
    // the decoder is not open.
    int feed(const uint8_t* data, size_t size, std::vector<int16_t>& pcm);
    // Decodes what the parser still holds.
    int finish(std::vector<int16_t>& pcm);
    // Forgets everything buffered (after a seek).
    void restart();

    // What the decoded stream is, once a frame has been decoded (0 before).
    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    // Frames the decoder refused.
    int badFrames() const { return badFrames_; }

private:
    int decodePacket(const uint8_t* data, int size, std::vector<int16_t>& pcm);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    int sampleRate_ = 0;
    int channels_ = 0;
    int badFrames_ = 0;
};

} // namespace quillet
