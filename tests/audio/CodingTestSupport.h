#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Signals, real-decoder round trips and tone analysis shared by the audio
// coding tests. Decoding goes through libavformat/libavcodec, never our code.
namespace quillet::testing {

// Interleaved 16-bit PCM, little-endian bytes, the same sine on every channel.
std::vector<uint8_t> makeTonePcm(int sampleRate, int channels, int sampleFrames, double frequencyHz,
                                 double amplitude, int startFrame = 0);
// Deterministic white noise at the given peak amplitude (0..1).
std::vector<uint8_t> makeNoisePcm(int sampleRate, int channels, int sampleFrames, double amplitude, uint32_t seed);

struct DecodedAudio {
    bool ok = false;
    std::string error;       // first failure, empty when ok
    int sampleRate = 0;
    int channels = 0;
    int packets = 0;
    std::vector<float> samples; // interleaved, -1..1
    std::vector<float> channel(int index) const;
};

// Decodes a whole elementary stream ("aac" for ADTS, "mp3") with CRC checks
// on and any decode error treated as a failure.
DecodedAudio decodeStream(const std::vector<uint8_t>& bytes, const char* format);

// Runs the ffmpeg program on the stream ("-err_detect crccheck+explode",
// "-v error"); returns "" when it decodes cleanly, else what it printed.
// Sets *available to false when no ffmpeg program is installed.
std::string ffmpegDecodeErrors(const std::vector<uint8_t>& bytes, const char* format, bool* available);

// Frequency of the strongest spectral peak (Hann window, parabolic interpolation).
double peakFrequencyHz(const std::vector<float>& signal, int sampleRate);

// Fraction of signal energy above cutoffHz, in dB (Hann-windowed power spectrum).
double energyAboveDb(const std::vector<float>& signal, int sampleRate, double cutoffHz);

// Signal-to-noise-and-distortion ratio in dB of a decoded tone of known
// frequency over the signal's middle (skipping `margin` frames at both ends):
// the best-fitting sinusoid at that frequency against everything else.
double toneSnrDb(const std::vector<float>& decoded, int sampleRate, double frequencyHz, int margin);

// Index of the first sample whose magnitude exceeds threshold, or -1.
int firstAbove(const std::vector<float>& signal, float threshold);

std::vector<float> pcmChannel(const std::vector<uint8_t>& pcm, int channels, int index);

} // namespace quillet::testing
