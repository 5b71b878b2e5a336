#include "audio/aac/AacLcEncoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include "audio/aac/AdtsHeader.h"
#include "base/ByteOrder.h"

namespace quillet {

namespace {

// Quality presets 1..6 scale the base bandwidth of the bit rate. A narrow
// band leaves more bits per coded line at the low rates a screen recording
// uses, which keeps speech clean; the wider presets suit music at high rates.
constexpr int kPresetBandwidthPercent[kAacMaxQualityPreset] = {70, 80, 90, 100, 110, 120};

// The library's quantiser search. Its "twoloop" search distorts a steady tone
// at 32 kbit/s per channel and below (1 kHz tone: 15 dB SNR against 72 dB
// with "fast" at 16 kbit/s mono), and those are our usual rates.
constexpr const char* kQuantiserSearch = "fast";

// Base bandwidth: 3 kHz plus 250 Hz per kbit/s and channel (16 kbit/s -> 7 kHz,
// 28 kbit/s -> 10 kHz, 64 kbit/s -> 19 kHz).
constexpr int kBaseBandwidthHz = 3000;
constexpr int kBandwidthHzPerKbps = 250;

// Silent frames fed at open, at most, until the encoder hands back its first
// packet; the library needs one frame of look-ahead.
constexpr int kMaxPrimingFrames = 4;

// The encoder prints statistics at information level when it closes; they
// mean nothing to someone recording the screen. Warnings and errors still show.
// Only the library's untouched default level is lowered, so a program that set
// its own level keeps it.
void quietInformationLines()
{
    if (av_log_get_level() == AV_LOG_INFO)
        av_log_set_level(AV_LOG_WARNING);
}

bool acceptedRate(int rate) { return rate == 32000 || rate == 44100 || rate == 48000; }

} // namespace

struct AacLcEncoder {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int sampleRate = 0;
    int channels = 0;
    int mpegId = 1;
    int64_t nextPts = 0;

    ~AacLcEncoder()
    {
        // Draining what the library still holds keeps it from warning about
        // queued frames; callers that want those samples use a silent chunk.
        if (context && packet && avcodec_is_open(context) && avcodec_send_frame(context, nullptr) == 0)
            while (avcodec_receive_packet(context, packet) == 0)
                av_packet_unref(packet);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }

    // Converts up to chunkBytes of interleaved s16le into the planar float
    // frame, silence after the valid data, and hands it to the library.
    int send(const uint8_t* pcm, int chunkBytes)
    {
        if (av_frame_make_writable(frame) < 0)
            return 0;
        const int validFrames = std::min(kAacFrameSamples, chunkBytes / (2 * channels));
        for (int ch = 0; ch < channels; ++ch) {
            float* dst = reinterpret_cast<float*>(frame->extended_data[ch]);
            const uint8_t* src = pcm + 2 * ch;
            for (int i = 0; i < validFrames; ++i, src += 2 * channels)
                dst[i] = float(int16_t(getLE16(src))) * (1.0f / 32768.0f);
            std::fill(dst + validFrames, dst + kAacFrameSamples, 0.0f);
        }
        frame->pts = nextPts;
        nextPts += kAacFrameSamples;
        return avcodec_send_frame(context, frame) == 0 ? 1 : 0;
    }
};

int aacBandwidthHz(int kbpsPerChannel, int sampleRate, int bandwidthLimitKHz, int qualityPreset)
{
    if (qualityPreset < kAacMinQualityPreset || qualityPreset > kAacMaxQualityPreset || kbpsPerChannel <= 0 ||
        sampleRate <= 0 || bandwidthLimitKHz <= 0)
        return 0;
    const long base = kBaseBandwidthHz + long(kBandwidthHzPerKbps) * kbpsPerChannel;
    const long own = base * kPresetBandwidthPercent[qualityPreset - 1] / 100;
    return int(std::min({own, long(bandwidthLimitKHz) * 1000, long(sampleRate / 2)}));
}

AacLcEncoder* aacEncoderOpen(int sampleRate, unsigned totalKbps, int channels, int mpegId, int objectType,
                             int bitrateMode, int bandwidthLimitKHz, int qualityPreset)
{
    if (!acceptedRate(sampleRate) || channels < 1 || channels > 2 || (mpegId != 0 && mpegId != 1) ||
        objectType != 2 || bitrateMode != 0 || bandwidthLimitKHz <= 0 || qualityPreset < kAacMinQualityPreset ||
        qualityPreset > kAacMaxQualityPreset)
        return nullptr;
    if (totalKbps < unsigned(kAacMinKbpsPerChannel * channels) ||
        totalKbps > unsigned(kAacMaxKbpsPerChannel * channels))
        return nullptr;

    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec)
        return nullptr;
    quietInformationLines();

    auto enc = std::make_unique<AacLcEncoder>();
    enc->sampleRate = sampleRate;
    enc->channels = channels;
    enc->mpegId = mpegId;
    enc->context = avcodec_alloc_context3(codec);
    enc->frame = av_frame_alloc();
    enc->packet = av_packet_alloc();
    if (!enc->context || !enc->frame || !enc->packet)
        return nullptr;

    AVCodecContext* ctx = enc->context;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = sampleRate;
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->bit_rate = int64_t(totalKbps) * 1000;
    ctx->profile = FF_PROFILE_AAC_LOW;
    ctx->cutoff = aacBandwidthHz(int(totalKbps) / channels, sampleRate, bandwidthLimitKHz, qualityPreset);
    ctx->time_base = AVRational{1, sampleRate};

    AVDictionary* options = nullptr;
    av_dict_set(&options, "aac_coder", kQuantiserSearch, 0);
    const int opened = avcodec_open2(ctx, codec, &options);
    av_dict_free(&options);
    if (opened < 0 || ctx->frame_size != kAacFrameSamples)
        return nullptr;

    enc->frame->format = AV_SAMPLE_FMT_FLTP;
    enc->frame->nb_samples = kAacFrameSamples;
    enc->frame->sample_rate = sampleRate;
    if (av_channel_layout_copy(&enc->frame->ch_layout, &ctx->ch_layout) < 0 || av_frame_get_buffer(enc->frame, 0) < 0)
        return nullptr;

    // The library holds one frame back before it returns its first packet.
    // Feeding silence until that packet appears (and dropping it: it codes
    // nothing but silence) lets every later frame yield its own packet at once,
    // so callers get one ADTS frame per chunk from the very first chunk on.
    const uint8_t silence[4] = {0, 0, 0, 0};
    for (int primed = 0;; ++primed) {
        if (primed == kMaxPrimingFrames || !enc->send(silence, 0))
            return nullptr;
        const int got = avcodec_receive_packet(ctx, enc->packet);
        if (got == 0) {
            av_packet_unref(enc->packet);
            break;
        }
        if (got != AVERROR(EAGAIN))
            return nullptr;
    }
    return enc.release();
}

int aacEncoderEncodeFrame(AacLcEncoder* enc, const uint8_t* pcm, int chunkBytes, uint8_t* out, int* outBytes)
{
    if (outBytes)
        *outBytes = 0;
    if (!enc || !out || !outBytes || chunkBytes < 0 || chunkBytes > aacChunkBytes(enc->channels) ||
        (chunkBytes > 0 && !pcm))
        return 0;
    if (!enc->send(pcm, chunkBytes))
        return 0;
    if (avcodec_receive_packet(enc->context, enc->packet) != 0)
        return 0;

    const int frameBytes = kAdtsHeaderBytes + enc->packet->size;
    int ok = 0;
    if (frameBytes <= aacMaxFrameBytes(enc->channels)) {
        AdtsFields fields;
        fields.mpegId = enc->mpegId;
        fields.objectType = 2;
        fields.sampleRate = enc->sampleRate;
        fields.channels = enc->channels;
        fields.frameBytes = frameBytes;
        ok = writeAdtsHeader(out, fields);
        if (ok) {
            std::memcpy(out + kAdtsHeaderBytes, enc->packet->data, size_t(enc->packet->size));
            *outBytes = frameBytes;
        }
    }
    av_packet_unref(enc->packet);
    return ok;
}

void aacEncoderFree(AacLcEncoder* encoder) { delete encoder; }

} // namespace quillet
