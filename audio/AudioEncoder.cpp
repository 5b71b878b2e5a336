#include "audio/AudioEncoder.h"

#include <algorithm>
#include <climits>

#include "base/ByteOrder.h"

namespace quillet {

namespace {
constexpr int kRecordLengthBytes = 2; // u16 little-endian frame length before each ADTS frame
// Silent chunks that carry the last real samples through the encoder's delay.
constexpr int kDelayChunks = kAacOutputDelaySamples / kAacFrameSamples;
// finish(): the kept partial chunk plus the delay chunks.
constexpr int kFinishRecords = 1 + kDelayChunks;
} // namespace

AudioEncoder::~AudioEncoder() { close(); }

int AudioEncoder::open(const CaptureAudioFormat& capture, const AudioTargetFormat& target, Mp3Framing framing)
{
    close();
    channels_ = capture.channels;
    sampleRate_ = int(capture.sampleRate);
    if (capture.sampleRate >= 32000) {
        const unsigned kbps = target.avgBytesPerSecond * 8 / 1000;
        aac_.reset(aacEncoderOpen(int(capture.sampleRate), kbps, capture.channels, kAacMpegId, kAacObjectType,
                                  kAacBitrateMode, kAacBandwidthLimitKHz, kAacQualityPreset));
        if (aac_) {
            aacKbps_ = int(kbps);
            return 1;
        }
    }
    const int vbrFields = target.mp3Flags == 2 ? Mp3Backend::kVbrFieldsOn : 0;
    mp3_.configure(int(target.sampleRate), int(capture.sampleRate), target.channels, int(target.avgBytesPerSecond),
                   vbrFields, framing == Mp3Framing::FlushEachBuffer ? 1 : 0);
    return mp3_.start();
}

void AudioEncoder::close()
{
    aac_.reset();
    mp3_.close();
    aacKbps_ = 0;
    finished_ = false;
    pending_.clear();
}

AudioEncoder::Backend AudioEncoder::backend() const
{
    if (aac_)
        return Backend::Aac;
    return mp3_.isStarted() ? Backend::Mp3 : Backend::None;
}

int AudioEncoder::maxOutputBytes(int pcmBytes) const
{
    if (pcmBytes < 0)
        return 0;
    if (!aac_)
        return Mp3Backend::maxOutputBytes(pcmBytes);
    const long chunk = aacChunkBytes(channels_);
    // Up to one chunk may already be kept; finish() writes at most kFinishRecords.
    const long records = std::max((chunk - 1 + long(pcmBytes)) / chunk, long(kFinishRecords));
    const long bound = records * (kRecordLengthBytes + aacMaxFrameBytes(channels_));
    return bound > INT_MAX ? INT_MAX : int(bound);
}

int AudioEncoder::encode(const uint8_t* pcm, uint8_t* out, int pcmBytes, int outCapacity)
{
    if (pcmBytes < 1)
        return 0;
    if (!pcm || !out || finished_)
        return -1;
    if (aac_)
        return encodeAac(pcm, out, pcmBytes, outCapacity);
    return mp3_.encode(pcm, pcmBytes, out, outCapacity);
}

int AudioEncoder::writeAacRecord(const uint8_t* chunk, int chunkBytes, uint8_t* out)
{
    int frameBytes = 0;
    if (!aacEncoderEncodeFrame(aac_.get(), chunk, chunkBytes, out + kRecordLengthBytes, &frameBytes))
        return -1;
    putLE16(out, uint32_t(frameBytes));
    return kRecordLengthBytes + frameBytes;
}

int AudioEncoder::encodeAac(const uint8_t* pcm, uint8_t* out, int pcmBytes, int outCapacity)
{
    if (outCapacity < maxOutputBytes(pcmBytes))
        return -1;
    const int chunk = aacChunkBytes(channels_);
    int written = 0;
    int consumed = 0;

    if (!pending_.empty()) {
        const int take = std::min(chunk - int(pending_.size()), pcmBytes);
        pending_.insert(pending_.end(), pcm, pcm + take);
        consumed = take;
        if (int(pending_.size()) < chunk)
            return 0;
        const int n = writeAacRecord(pending_.data(), chunk, out);
        if (n < 0)
            return n;
        written += n;
        pending_.clear();
    }
    while (pcmBytes - consumed >= chunk) {
        const int n = writeAacRecord(pcm + consumed, chunk, out + written);
        if (n < 0)
            return n;
        written += n;
        consumed += chunk;
    }
    pending_.assign(pcm + consumed, pcm + pcmBytes);
    return written;
}

int AudioEncoder::finish(uint8_t* out, int outCapacity)
{
    if (!out || finished_ || backend() == Backend::None || outCapacity < maxOutputBytes(0))
        return -1;
    if (!aac_) {
        finished_ = true;
        return mp3_.finish(out, outCapacity);
    }
    int written = 0;
    if (!pending_.empty()) {
        // The encoder pads the partial chunk with silence; it reads only what is kept.
        const int n = writeAacRecord(pending_.data(), int(pending_.size()), out);
        if (n < 0)
            return n;
        written += n;
        pending_.clear();
    }
    for (int i = 0; i < kDelayChunks; ++i) {
        const int n = writeAacRecord(nullptr, 0, out + written);
        if (n < 0)
            return n;
        written += n;
    }
    finished_ = true;
    return written;
}

} // namespace quillet
