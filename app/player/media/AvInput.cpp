#include "app/player/media/AvInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

namespace quillet::player {

std::string avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

AvInput::~AvInput()
{
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
    av_packet_free(&packet_);
}

int AvInput::open(const std::string& path, Want want, std::string& error)
{
    path_ = path;
    int rc = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        error = path + ": cannot be opened as a media file (" + avErrorText(rc) + ")";
        return 0;
    }
    rc = avformat_find_stream_info(format_, nullptr);
    if (rc < 0) {
        error = path + ": no stream can be read (" + avErrorText(rc) + ")";
        return 0;
    }
    const AVMediaType type = want == Want::Video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    const AVCodec* decoder = nullptr;
    streamIndex_ = av_find_best_stream(format_, type, -1, -1, &decoder, 0);
    if (streamIndex_ < 0) {
        if (streamIndex_ == AVERROR_DECODER_NOT_FOUND)
            error = path + ": this build has no decoder for its " + (want == Want::Video ? "pictures" : "sound");
        return 0;
    }
    stream_ = format_->streams[streamIndex_];
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (int(i) != streamIndex_)
            format_->streams[i]->discard = AVDISCARD_ALL;
    codec_ = avcodec_alloc_context3(decoder);
    packet_ = av_packet_alloc();
    if (!codec_ || !packet_ || avcodec_parameters_to_context(codec_, stream_->codecpar) < 0) {
        error = path + ": out of memory";
        return 0;
    }
    codec_->pkt_timebase = stream_->time_base;
    // Two threads decode frames of large H.264 pictures in time on two cores;
    // slice threads would add no delay, frame threads add one frame each.
    codec_->thread_count = want == Want::Video ? 2 : 1;
    codec_->thread_type = FF_THREAD_SLICE | FF_THREAD_FRAME;
    rc = avcodec_open2(codec_, decoder, nullptr);
    if (rc < 0) {
        error = path + ": the " + decoder->name + " decoder cannot be opened (" + avErrorText(rc) + ")";
        return 0;
    }
    originUs_ = format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
    return 1;
}

int64_t AvInput::toUs(int64_t ts) const
{
    if (ts == AV_NOPTS_VALUE)
        return INT64_MIN;
    return av_rescale_q(ts, stream_->time_base, AVRational{1, 1000000}) - originUs_;
}

int64_t AvInput::toMs(int64_t ts) const
{
    const int64_t us = toUs(ts);
    return us == INT64_MIN ? us : us / 1000;
}

int64_t AvInput::toStreamTs(int64_t ms) const
{
    return av_rescale_q(ms * 1000 + originUs_, AVRational{1, 1000000}, stream_->time_base);
}

int64_t AvInput::declaredDurationMs() const
{
    if (format_->duration > 0)
        return format_->duration / 1000;
    if (stream_->duration > 0)
        return av_rescale_q(stream_->duration, stream_->time_base, AVRational{1, 1000});
    return 0;
}

int AvInput::decode(AVFrame* frame)
{
    for (;;) {
        const int got = avcodec_receive_frame(codec_, frame);
        if (got == 0)
            return 1;
        if (got == AVERROR_EOF)
            return 0;
        if (got != AVERROR(EAGAIN)) {
            // A broken picture: the decoder goes on with the next packet.
            ++badPackets_;
        }
        if (drained_)
            return 0;
        const int rc = av_read_frame(format_, packet_);
        if (rc < 0) {
            if (rc != AVERROR_EOF && readError_.empty())
                readError_ = path_ + ": reading stopped (" + avErrorText(rc) + ")";
            drained_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (packet_->stream_index == streamIndex_) {
            if (packet_->pos >= 0)
                lastPos_ = packet_->pos;
            if (avcodec_send_packet(codec_, packet_) < 0)
                ++badPackets_;
        }
        av_packet_unref(packet_);
    }
}

int AvInput::seek(int64_t ms)
{
    const int rc = av_seek_frame(format_, streamIndex_, toStreamTs(ms < 0 ? 0 : ms), AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(codec_);
    drained_ = false;
    readError_.clear();
    if (rc < 0) {
        // Before the first key frame or in a file without an index: from the start.
        if (av_seek_frame(format_, streamIndex_, stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0,
                          AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0 &&
            avformat_seek_file(format_, -1, INT64_MIN, 0, INT64_MAX, 0) < 0)
            return 0;
    }
    return 1;
}

} // namespace quillet::player
