#include "engine/playback/Mp3Decoder.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

namespace quillet {

struct Mp3Decoder::Impl {
    const AVCodec* codec = nullptr;
    AVCodecContext* ctx = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    // The bytes being parsed, with the zero padding the decoder may read into.
    std::vector<uint8_t> padded;

    void release()
    {
        if (parser)
            av_parser_close(parser);
        parser = nullptr;
        avcodec_free_context(&ctx);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }
    ~Impl() { release(); }
};

Mp3Decoder::Mp3Decoder() : impl_(std::make_unique<Impl>()) {}
Mp3Decoder::~Mp3Decoder() = default;

int Mp3Decoder::open()
{
    impl_->release();
    sampleRate_ = channels_ = badFrames_ = 0;
    Impl& m = *impl_;
    m.codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
    if (!m.codec)
        return 0;
    m.ctx = avcodec_alloc_context3(m.codec);
    m.parser = av_parser_init(AV_CODEC_ID_MP3);
    m.packet = av_packet_alloc();
    m.frame = av_frame_alloc();
    if (!m.ctx || !m.parser || !m.packet || !m.frame || avcodec_open2(m.ctx, m.codec, nullptr) < 0) {
        m.release();
        return 0;
    }
    return 1;
}

void Mp3Decoder::restart()
{
    open();
}

namespace {

int16_t toS16(float v)
{
    const float s = std::clamp(v, -1.0f, 1.0f) * 32767.0f;
    return static_cast<int16_t>(std::lrint(s));
}

// One sample of channel c at index i, whatever layout the decoder chose.
int16_t sampleAt(const AVFrame* f, int c, int i, int channels)
{
    switch (f->format) {
    case AV_SAMPLE_FMT_S16: return reinterpret_cast<const int16_t*>(f->data[0])[i * channels + c];
    case AV_SAMPLE_FMT_S16P: return reinterpret_cast<const int16_t*>(f->data[c])[i];
    case AV_SAMPLE_FMT_FLT: return toS16(reinterpret_cast<const float*>(f->data[0])[i * channels + c]);
    case AV_SAMPLE_FMT_FLTP: return toS16(reinterpret_cast<const float*>(f->data[c])[i]);
    default: return 0;
    }
}

} // namespace

int Mp3Decoder::decodePacket(const uint8_t* data, int size, std::vector<int16_t>& pcm)
{
    Impl& m = *impl_;
    m.packet->data = const_cast<uint8_t*>(data);
    m.packet->size = size;
    if (avcodec_send_packet(m.ctx, size > 0 ? m.packet : nullptr) < 0) {
        ++badFrames_;
        return 1;
    }
    while (avcodec_receive_frame(m.ctx, m.frame) == 0) {
        const int channels = m.frame->ch_layout.nb_channels;
        if (channels <= 0 || channels > 2) {
            ++badFrames_;
            continue;
        }
        sampleRate_ = m.frame->sample_rate;
        channels_ = channels;
        const size_t at = pcm.size();
        pcm.resize(at + size_t(m.frame->nb_samples) * channels);
        for (int i = 0; i < m.frame->nb_samples; ++i)
            for (int c = 0; c < channels; ++c)
                pcm[at + size_t(i) * channels + c] = sampleAt(m.frame, c, i, channels);
    }
    return 1;
}

int Mp3Decoder::feed(const uint8_t* data, size_t size, std::vector<int16_t>& pcm)
{
    Impl& m = *impl_;
    if (!m.ctx)
        return 0;
    m.padded.assign(data, data + size);
    m.padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    data = m.padded.data();
    while (size > 0) {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        const int used = av_parser_parse2(m.parser, m.ctx, &out, &outSize, data, chunk, AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        if (used < 0)
            return 1;
        data += used;
        size -= static_cast<size_t>(used);
        if (outSize > 0)
            decodePacket(out, outSize, pcm);
        if (used == 0 && outSize == 0)
            break;
    }
    return 1;
}

int Mp3Decoder::finish(std::vector<int16_t>& pcm)
{
    Impl& m = *impl_;
    if (!m.ctx)
        return 0;
    uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(m.parser, m.ctx, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (outSize > 0)
        decodePacket(out, outSize, pcm);
    decodePacket(nullptr, 0, pcm); // drains the decoder
    return 1;
}

} // namespace quillet
