#pragma once
#include <cstdint>
#include <vector>

#include "audio/Mp3Backend.h"
#include "audio/aac/AacLcEncoder.h"
#include "engine/AudioFormats.h"

namespace quillet {

// How the MP3 back end ends each encode() call. The FLV and SWF writers store
// every buffer's output as its own tag, so they need whole frames per buffer.
enum class Mp3Framing : int {
    Continuous = 0,      // frames may straddle two buffers' outputs (AVI, own file)
    FlushEachBuffer = 1, // each buffer's output ends on a frame boundary (FLV, SWF)
};

// Turns captured 16-bit PCM into compressed audio for the container writers.
//
// Back end, chosen by open(): AAC-LC in ADTS frames when the capture rate is
// 32000 Hz or more (MP4, FLV), otherwise MP3; MP3 also when the AAC encoder
// refuses the format (then at the capture rate and channels, e.g. a 32000 Hz
// stereo FLV stream at too low a bit rate).
//
// Output layout of encode() and finish():
//   AAC: one record per 1024 sample frames, back to back:
//        [0..1] L, u16 little-endian = length of the ADTS frame
//        [2..8] 7-byte ADTS header (0xFF 0xF9 ..., ID 1, LC, no CRC)
//        [9..L+1] one raw AAC data block (L - 7 bytes)
//        The next record starts at offset L + 2. The AudioSpecificConfig that
//        matches is 0x12 0x88 (mono) or 0x12 0x90 (stereo) at 32000 Hz.
//   MP3: a bare MPEG audio layer III frame stream (CBR, CRC, no tag frame).
//        LAME keeps back the samples of incomplete frames between calls
//        (Continuous) unless FlushEachBuffer completes each buffer's last
//        frame with silence, for mono and stereo alike. A trailing partial
//        sample frame (an odd byte) is dropped.
//
// Partial chunks (AAC): PCM is consumed in chunks of channels x 2048 bytes.
// When a buffer is not a whole number of chunks, the bytes past the last whole
// chunk are kept (copied) and completed by the next buffer, so the encoder
// never reads past pcmBytes and no silence is inserted mid-stream; finish()
// pads what is still kept with silence. A buffer of whole chunks with nothing
// kept yields exactly pcmBytes / (channels x 2048) records.
//
// Timing (AAC): the encoder is primed with silence when it opens, so the
// first chunk already yields a record and record n stands for the n-th 1024
// sample frames in count and in duration. The content lags: a decoder that
// skips nothing plays input sample i as output sample i + outputDelaySamples()
// (2048 sample frames = 64 ms at 32000 Hz: 1024 of AAC priming, 1024 of the
// encoder's look-ahead; the first two records decode to silence). A writer
// keeps sound in place by shifting it by that amount (MP4: an edit list that
// starts the track 2048 samples in; FLV: AAC stamps earlier by whatever part
// of the delay the pictures' fixed composition time does not already cover).
// finish() adds the two silent records that carry the last real samples out.
//
// Buffers: the caller owns pcm and out; neither is kept after a call. out must
// hold outCapacity bytes, and outCapacity must be at least maxOutputBytes(pcmBytes)
// or the call writes and consumes nothing and returns -1.
//
// Not thread-safe: used under the session's lock from the thread that
// delivers sound buffers.
class AudioEncoder {
public:
    enum class Backend { None, Aac, Mp3 };

    // Constants of the AAC open call: MPEG ID written into the ADTS headers,
    // audio object type (LC), bit-rate mode, bandwidth limit and quality preset.
    static constexpr int kAacMpegId = 1;
    static constexpr int kAacObjectType = 2;
    static constexpr int kAacBitrateMode = 0;
    static constexpr int kAacBandwidthLimitKHz = 20;
    static constexpr int kAacQualityPreset = 2;

    AudioEncoder() = default;
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    // Closes whatever was open, then opens AAC (capture rate >= 32000 Hz) or
    // MP3. Returns 1 on success, 0 when no back end could be opened (the
    // session then reports "audioErr" and does not start).
    int open(const CaptureAudioFormat& capture, const AudioTargetFormat& target, Mp3Framing framing);

    // Encodes pcmBytes of 16-bit little-endian PCM (interleaved when stereo).
    // Returns the bytes written to out (0 for pcmBytes < 1, or when the back
    // end holds everything back), or a negative value on failure: -1 for a bad
    // argument, no open back end or too small an output; LAME's own negative
    // codes pass through. Callers write nothing unless the result is positive.
    int encode(const uint8_t* pcm, uint8_t* out, int pcmBytes, int outCapacity);

    // Ends the stream: writes what the back end still holds (AAC: the kept
    // partial chunk padded with silence, then silent chunks covering the delay;
    // MP3: LAME's flush) in the same layout as encode(). encode() fails after
    // it until the next open(). outCapacity must be at least maxOutputBytes(0).
    int finish(uint8_t* out, int outCapacity);

    // Frees the AAC encoder and closes the MP3 back end; also done by open()
    // and by destruction. Kept partial data is dropped.
    void close();

    // Output room that encode(pcmBytes) and finish() (pcmBytes = 0) need.
    int maxOutputBytes(int pcmBytes) const;

    Backend backend() const;
    bool isAac() const { return aac_ != nullptr; }
    int channels() const { return channels_; }
    // The total AAC bit rate handed to the encoder (0 with MP3).
    int aacBitrateKbps() const { return aac_ ? aacKbps_ : 0; }
    int sampleRate() const { return sampleRate_; }
    // AAC: decoder output lags input by this many sample frames; MP3: 0
    // (the MP3 delay is LAME's and is given by the target's codec delay).
    int outputDelaySamples() const { return aac_ ? kAacOutputDelaySamples : 0; }
    // AAC bytes kept from the last buffer, waiting to complete a chunk.
    int pendingBytes() const { return int(pending_.size()); }
    const Mp3Backend& mp3() const { return mp3_; }

private:
    int encodeAac(const uint8_t* pcm, uint8_t* out, int pcmBytes, int outCapacity);
    // Writes one record (length + ADTS frame) from chunkBytes of PCM at out.
    int writeAacRecord(const uint8_t* chunk, int chunkBytes, uint8_t* out);

    AacEncoderPtr aac_;
    Mp3Backend mp3_;
    int channels_ = 1;
    int sampleRate_ = 0;
    int aacKbps_ = 0;
    bool finished_ = false;
    std::vector<uint8_t> pending_; // AAC: bytes of an incomplete chunk, < one chunk
};

} // namespace quillet
