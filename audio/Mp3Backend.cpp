#include "audio/Mp3Backend.h"

#include <bit>
#include <climits>
#include <cstring>

#include <lame/lame.h>

namespace quillet {

static_assert(std::endian::native == std::endian::little, "PCM is handed to LAME in host order");

namespace {
// Below this input rate LAME produces MPEG-2/2.5, whose bit rates stop at 160.
constexpr int kLowRateLimitHz = 24000;
} // namespace

Mp3Backend::~Mp3Backend() { close(); }

int Mp3Backend::configure(int inputSampleRate, int outputSampleRate, int channels, int bytesPerSecond,
                          int vbrFieldsFlag, int flushEachBuffer)
{
    inputSampleRate_ = inputSampleRate;
    outputSampleRate_ = outputSampleRate;
    channels_ = channels;
    bytesPerSecond_ = bytesPerSecond;
    vbrFieldsFlag_ = vbrFieldsFlag;
    flushEachBuffer_ = flushEachBuffer;
    return 1;
}

int Mp3Backend::start()
{
    close();
    lame_ = lame_init();
    if (!lame_)
        return 0;
    // LAME keeps its default when a setter refuses a value (e.g. 3 channels
    // stay 2) and would then misread the PCM; a refusal fails start instead.
    int refused = 0;
    refused |= lame_set_in_samplerate(lame_, inputSampleRate_);
    refused |= lame_set_out_samplerate(lame_, outputSampleRate_);
    refused |= lame_set_num_channels(lame_, channels_);
    refused |= lame_set_mode(lame_, channels_ == 1 ? MONO : JOINT_STEREO);
    refused |= lame_set_VBR(lame_, vbr_off);
    if (vbrFieldsFlag_ == kVbrFieldsOn) {
        // With VBR off these only fill the library's fields.
        lame_set_VBR_q(lame_, 1);
        lame_set_VBR_mean_bitrate_kbps(lame_, (bytesPerSecond_ * 8 + 500) / 1000);
        if (lame_get_in_samplerate(lame_) < kLowRateLimitHz) {
            lame_set_VBR_min_bitrate_kbps(lame_, 8);
            lame_set_VBR_max_bitrate_kbps(lame_, 160);
        } else {
            lame_set_VBR_min_bitrate_kbps(lame_, 32);
            lame_set_VBR_max_bitrate_kbps(lame_, 320);
        }
    }
    lame_set_brate(lame_, bytesPerSecond_ * 8 / 1000);
    lame_set_copyright(lame_, 1);
    lame_set_original(lame_, 1);
    lame_set_error_protection(lame_, 1);
    lame_set_extension(lame_, 1);
    lame_set_bWriteVbrTag(lame_, 0);
    if (refused != 0 || lame_init_params(lame_) < 0) {
        close();
        return 0;
    }
    samplesPerFrame_ = (lame_get_version(lame_) == 0 ? 576 : 1152) * lame_get_num_channels(lame_);
    finished_ = false;
    return 1;
}

int Mp3Backend::maxOutputBytes(int pcmBytes)
{
    if (pcmBytes < 0)
        return 0;
    const long samples = pcmBytes / 2;
    const long bound = samples + samples / 4 + 7200;
    return bound > INT_MAX ? INT_MAX : int(bound);
}

int Mp3Backend::encode(const uint8_t* pcm, int pcmBytes, uint8_t* out, int outCapacity)
{
    // LAME takes a capacity of 0 as "unlimited", so never let one through.
    if (!lame_ || finished_ || !out || pcmBytes < 0 || (pcmBytes > 0 && !pcm) || outCapacity < 1 ||
        outCapacity < maxOutputBytes(pcmBytes))
        return -1;
    const int channels = lame_get_num_channels(lame_);
    const int n = (pcmBytes / 2) / channels;

    const short* samples = reinterpret_cast<const short*>(pcm);
    if (n > 0 && reinterpret_cast<uintptr_t>(pcm) % alignof(short) != 0) {
        aligned_.resize(size_t(n) * size_t(channels));
        std::memcpy(aligned_.data(), pcm, aligned_.size() * sizeof(int16_t));
        samples = aligned_.data();
    }

    // Nothing to add: a flush now would only append frames of padding.
    if (n == 0)
        return 0;
    int written = channels == 1
                      ? lame_encode_buffer(lame_, samples, samples, n, out, outCapacity)
                      : lame_encode_buffer_interleaved(lame_, const_cast<short*>(samples), n, out, outCapacity);
    if (written < 0)
        return written;
    // Completing the last frame makes each buffer's MP3 data self-contained,
    // which the FLV and SWF writers need for their per-buffer tags. Stereo
    // (only the FLV fallback at 32000 Hz) needs it as much as mono does.
    if (flushEachBuffer_) {
        const int flushed = lame_encode_flush_nogap(lame_, out + written, outCapacity - written);
        if (flushed < 0)
            return flushed;
        written += flushed;
    }
    return written;
}

int Mp3Backend::finish(uint8_t* out, int outCapacity)
{
    // The flush writes at most the frames of one granule's look-ahead plus padding.
    if (!lame_ || finished_ || !out || outCapacity < maxOutputBytes(0))
        return -1;
    finished_ = true;
    return lame_encode_flush(lame_, out, outCapacity);
}

void Mp3Backend::close()
{
    if (lame_) {
        lame_close(lame_);
        lame_ = nullptr;
    }
    samplesPerFrame_ = 0;
    finished_ = false;
}

} // namespace quillet
