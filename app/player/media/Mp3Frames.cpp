#include "app/player/media/Mp3Frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace quillet::player {

namespace {

// Bit rates in kbit/s by index, for MPEG-1 and for MPEG-2/2.5 layer III.
constexpr int kRatesV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kRatesV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kSampleRates[3] = {44100, 48000, 32000};

float sampleOf(const AVFrame* f, int c, int i)
{
    const int n = f->ch_layout.nb_channels;
    switch (f->format) {
    case AV_SAMPLE_FMT_S16: return reinterpret_cast<const int16_t*>(f->data[0])[i * n + c] / 32768.0f;
    case AV_SAMPLE_FMT_S16P: return reinterpret_cast<const int16_t*>(f->data[c])[i] / 32768.0f;
    case AV_SAMPLE_FMT_FLT: return reinterpret_cast<const float*>(f->data[0])[i * n + c];
    case AV_SAMPLE_FMT_FLTP: return reinterpret_cast<const float*>(f->data[c])[i];
    default: return 0;
    }
}

int16_t toS16(float v) { return int16_t(std::lrint(std::clamp(v, -1.0f, 1.0f) * 32767.0f)); }

} // namespace

bool parseMp3Header(const uint8_t* p, Mp3FrameHeader& out)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int version = (p[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = (p[1] >> 1) & 3;   // 1: layer III
    const int rateIndex = (p[2] >> 4) & 15;
    const int freqIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer != 1 || freqIndex == 3)
        return false;
    const bool mpeg1 = version == 3;
    out.bitrateKbps = (mpeg1 ? kRatesV1 : kRatesV2)[rateIndex];
    if (out.bitrateKbps == 0)
        return false;
    out.sampleRate = kSampleRates[freqIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    out.samples = mpeg1 ? 1152 : 576;
    const int padding = (p[2] >> 1) & 1;
    out.bytes = out.samples / 8 * out.bitrateKbps * 1000 / out.sampleRate + padding;
    out.channels = ((p[3] >> 6) & 3) == 3 ? 1 : 2;
    return out.bytes > 4;
}

Mp3FrameDecoder::Mp3FrameDecoder() = default;

Mp3FrameDecoder::~Mp3FrameDecoder()
{
    avcodec_free_context(&codec_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
}

int Mp3FrameDecoder::open(int channels, int sampleRate, uint32_t bytesPerSecond)
{
    channels_ = channels == 2 ? 2 : 1;
    sampleRate_ = sampleRate;
    if (sampleRate > 0 && bytesPerSecond > 0)
        meanFrameBytes_ = double(samplesPerFrame()) * bytesPerSecond / sampleRate;
    synced_ = true;
    const AVCodec* c = avcodec_find_decoder(AV_CODEC_ID_MP3);
    if (!c)
        return 0;
    codec_ = avcodec_alloc_context3(c);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    return codec_ && packet_ && frame_ && avcodec_open2(codec_, c, nullptr) >= 0 ? 1 : 0;
}

void Mp3FrameDecoder::restart(uint64_t streamOffset)
{
    buffer_.clear();
    start_ = 0;
    bufferOffset_ = streamOffset;
    synced_ = streamOffset == 0;
    silentFrames_ = streamOffset == 0 ? 0 : primingFrames();
    if (codec_)
        avcodec_flush_buffers(codec_);
}

int Mp3FrameDecoder::samplesPerFrame() const { return sampleRate_ >= 32000 ? 1152 : 576; }

int Mp3FrameDecoder::primingFrames() const
{
    // A frame's main data may begin up to 511 bytes (MPEG-1) or 255 bytes
    // before it, in the data parts of the frames before (the header, its CRC
    // and the side information at most 38 or 23 bytes of each); one frame
    // more for the transform's overlap and one for the granule before it.
    const bool mpeg1 = sampleRate_ >= 32000;
    const double reach = mpeg1 ? 511 : 255;
    const double data = meanFrameBytes_ - (mpeg1 ? 38 : 23);
    return data > 8 ? int(std::ceil(reach / data)) + 2 : 12;
}

void Mp3FrameDecoder::feed(const uint8_t* data, size_t size)
{
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + long(start_));
        bufferOffset_ += start_;
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

int Mp3FrameDecoder::decodeInto(const uint8_t* bytes, const Mp3FrameHeader& h, std::vector<int16_t>& pcm)
{
    const size_t at = pcm.size();
    pcm.resize(at + size_t(h.samples) * size_t(channels_), 0);
    std::vector<uint8_t> padded(bytes, bytes + h.bytes);
    padded.resize(size_t(h.bytes) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet_->data = padded.data();
    packet_->size = h.bytes;
    int got = avcodec_send_packet(codec_, packet_) >= 0 ? avcodec_receive_frame(codec_, frame_) : -1;
    packet_->data = nullptr;
    packet_->size = 0;
    if (got < 0 || frame_->nb_samples <= 0) {
        ++badFrames_;
        return 0;
    }
    const int n = std::min(frame_->nb_samples, h.samples);
    const int inChannels = frame_->ch_layout.nb_channels;
    for (int i = 0; i < n; ++i) {
        if (channels_ == 1) {
            float v = 0;
            for (int c = 0; c < inChannels; ++c)
                v += sampleOf(frame_, c, i);
            pcm[at + size_t(i)] = toS16(inChannels > 0 ? v / float(inChannels) : 0);
        } else {
            for (int c = 0; c < 2; ++c)
                pcm[at + size_t(i) * 2 + size_t(c)] = toS16(sampleOf(frame_, std::min(c, inChannels - 1), i));
        }
    }
    return 1;
}

bool Mp3FrameDecoder::frameAt(size_t at, Mp3FrameHeader& h) const
{
    return at + 4 <= buffer_.size() && parseMp3Header(buffer_.data() + at, h);
}

// After a restart the bytes begin inside a frame. A constant-rate stream's
// frames follow one another at their mean size (padding evens it out), so the
// next frame starts at the next whole multiple of it, give or take a byte;
// data bytes that merely look like a header do not sit there.
bool Mp3FrameDecoder::findFrame(Mp3FrameHeader& h)
{
    if (synced_) {
        if (frameAt(start_, h))
            return true;
        synced_ = false; // damage: look for the next frame
    }
    const uint64_t from = bufferOffset_ + start_;
    if (meanFrameBytes_ > 0) {
        for (int64_t k = int64_t(std::ceil((double(from) - 1) / meanFrameBytes_));; ++k) {
            const int64_t at = std::llround(double(k) * meanFrameBytes_);
            if (at + 5 - int64_t(bufferOffset_) > int64_t(buffer_.size()))
                return false; // more bytes needed
            for (int64_t d : {0, 1, -1}) {
                const int64_t local = at + d - int64_t(bufferOffset_);
                if (local >= int64_t(start_) && frameAt(size_t(local), h)) {
                    start_ = size_t(local);
                    synced_ = true;
                    return true;
                }
            }
            // No frame there (damage): its bytes are passed over.
            start_ = std::max(start_, size_t(at + 2 - int64_t(bufferOffset_)));
        }
    }
    // Without a known rate: two headers in a row.
    for (; start_ + 4 <= buffer_.size(); ++start_) {
        if (!frameAt(start_, h))
            continue;
        const size_t after = start_ + size_t(h.bytes);
        if (after + 4 > buffer_.size())
            return false; // wait for the bytes that confirm it
        Mp3FrameHeader next;
        if (frameAt(after, next)) {
            synced_ = true;
            return true;
        }
    }
    return false;
}

int Mp3FrameDecoder::decodeFrame(std::vector<int16_t>& pcm, int64_t& firstSample)
{
    if (!codec_)
        return 0;
    Mp3FrameHeader h;
    if (!findFrame(h) || buffer_.size() - start_ < size_t(h.bytes))
        return 0;
    const double mean = meanFrameBytes_ > 0 ? meanFrameBytes_
                                            : double(h.samples) / 8.0 * h.bitrateKbps * 1000.0 / h.sampleRate;
    const int64_t number = std::llround(double(bufferOffset_ + start_) / mean);
    firstSample = number * h.samples;
    const size_t at = pcm.size();
    decodeInto(buffer_.data() + start_, h, pcm);
    if (silentFrames_ > 0) {
        --silentFrames_;
        std::fill(pcm.begin() + long(at), pcm.end(), int16_t(0));
    }
    start_ += size_t(h.bytes);
    return 1;
}

} // namespace quillet::player
