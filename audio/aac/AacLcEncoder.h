#pragma once
#include <cstdint>
#include <memory>

namespace quillet {

// AAC-LC encoder producing one complete ADTS frame per 1024 sample frames of
// 16-bit interleaved PCM. Three operations only: open, encode one frame, free.
// The coding itself is libavcodec's native AAC encoder; the ADTS header is ours.
struct AacLcEncoder; // opaque handle

constexpr int kAacFrameSamples = 1024;
constexpr int kAacMinSampleRateSupported = 32000;
constexpr int kAacMinKbpsPerChannel = 16;
constexpr int kAacMaxKbpsPerChannel = 160;
constexpr int kAacMinQualityPreset = 1;
constexpr int kAacMaxQualityPreset = 6;

// Decoded output lags the input by this many sample frames: sample i of the
// input comes out of a decoder that starts at the first frame and skips
// nothing as sample i + kAacOutputDelaySamples (64 ms at 32000 Hz). Half is
// AAC's own MDCT overlap (the 1024 priming samples an MP4 edit list may skip),
// half the library's look-ahead: the frame that carries chunk k is only coded
// once chunk k + 1 is known, since its window shape depends on what follows.
// With one frame out per chunk in, that lag cannot be removed; it is reported
// so that writers can shift the sound. Checked against a real decoder.
constexpr int kAacOutputDelaySamples = 2048;

// Largest ADTS frame encodeFrame can write: the header plus the 6144-bit
// per-channel limit of the AAC decoder buffer. Output buffers must hold this.
constexpr int aacMaxFrameBytes(int channels) { return 7 + 768 * channels; }

// Bytes of one full input chunk (1024 sample frames of 16-bit PCM).
constexpr int aacChunkBytes(int channels) { return kAacFrameSamples * 2 * channels; }

// Opens an encoder, or returns null when refused. Accepted: sampleRate 32000,
// 44100 or 48000 Hz; channels 1 or 2; totalKbps between 16 and 160 kbit/s per
// channel; mpegId 1 (MPEG-2) or 0 (MPEG-4), written into each header;
// objectType 2 (AAC LC); bitrateMode 0 (constant target bit rate, the only mode);
// bandwidthLimitKHz > 0, applied where it is below the preset's own bandwidth;
// qualityPreset 1 (fastest) .. 6 (widest bandwidth), 2 being the usual choice.
AacLcEncoder* aacEncoderOpen(int sampleRate, unsigned totalKbps, int channels, int mpegId, int objectType,
                             int bitrateMode, int bandwidthLimitKHz, int qualityPreset);

// Encodes one chunk of interleaved 16-bit little-endian PCM (any alignment)
// into one ADTS frame at out, which must hold aacMaxFrameBytes(channels).
// chunkBytes is normally aacChunkBytes(channels); a shorter chunk is read only
// up to chunkBytes (whole sample frames) and padded with silence. Stores the
// frame length (header included) in *outBytes. Returns 1, or 0 on a bad
// argument or a library failure (then *outBytes is 0 and nothing is written).
int aacEncoderEncodeFrame(AacLcEncoder* encoder, const uint8_t* pcm, int chunkBytes, uint8_t* out, int* outBytes);

// Releases the encoder; null is allowed.
void aacEncoderFree(AacLcEncoder* encoder);

struct AacEncoderFree {
    void operator()(AacLcEncoder* encoder) const { aacEncoderFree(encoder); }
};
using AacEncoderPtr = std::unique_ptr<AacLcEncoder, AacEncoderFree>;

// The audio bandwidth in Hz that a preset uses at a per-channel bit rate,
// after the bandwidth limit and the Nyquist frequency; 0 for a bad preset.
int aacBandwidthHz(int kbpsPerChannel, int sampleRate, int bandwidthLimitKHz, int qualityPreset);

} // namespace quillet
