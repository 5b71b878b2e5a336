#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct SwrContext;

namespace quillet {

// 16-bit interleaved PCM from one sample rate to another, same channels,
// with libswresample.
class SoundResampler {
public:
    SoundResampler() = default;
    ~SoundResampler();
    SoundResampler(const SoundResampler&) = delete;
    SoundResampler& operator=(const SoundResampler&) = delete;

    int open(int inRate, int channels, int outRate);
    // Appends the converted samples of `frames` sample frames to out.
    int convert(const int16_t* in, size_t frames, std::vector<int16_t>& out);
    // Appends what the filter still holds.
    int flush(std::vector<int16_t>& out);

private:
    SwrContext* swr_ = nullptr;
    int channels_ = 1;
    int inRate_ = 0;
    int outRate_ = 0;
};

} // namespace quillet
