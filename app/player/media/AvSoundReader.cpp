#include "app/player/media/AvSoundReader.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace quillet::player {

AvSoundReader::AvSoundReader() : frame_(av_frame_alloc()) {}

AvSoundReader::~AvSoundReader()
{
    av_frame_free(&frame_);
    swr_free(&swr_);
}

int AvSoundReader::open(const std::string& path, std::string& error)
{
    if (!frame_) {
        error = path + ": out of memory";
        return 0;
    }
    if (!in_.open(path, AvInput::Want::Audio, error))
        return 0;
    const AVCodecContext* c = in_.codec();
    if (c->sample_rate <= 0 || c->ch_layout.nb_channels <= 0) {
        error = path + ": the sound track names no rate or channels";
        return 0;
    }
    format_.sampleRate = c->sample_rate;
    format_.channels = std::min(2, c->ch_layout.nb_channels);
    return 1;
}

std::string AvSoundReader::codecName() const { return avcodec_get_name(in_.codec()->codec_id); }

int AvSoundReader::read(std::vector<int16_t>& pcm, int64_t& firstSample)
{
    for (;;) {
        if (!in_.decode(frame_)) {
            if (stop_.atMs < 0) {
                stop_.atMs = nextSample_ * 1000 / format_.sampleRate;
                if (!in_.readError().empty()) {
                    stop_.early = true;
                    stop_.reason = in_.readError();
                }
            }
            return 0;
        }
        if (frame_->nb_samples <= 0)
            continue;
        // A change of layout or rate inside the track (rare) gets a new converter.
        if (!swr_ || frame_->format != swrInFormat_ || frame_->ch_layout.nb_channels != swrInChannels_ ||
            frame_->sample_rate != swrInRate_) {
            swr_free(&swr_);
            AVChannelLayout outLayout;
            av_channel_layout_default(&outLayout, format_.channels);
            if (swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, format_.sampleRate, &frame_->ch_layout,
                                    AVSampleFormat(frame_->format), frame_->sample_rate, 0, nullptr) < 0 ||
                swr_init(swr_) < 0) {
                swr_free(&swr_);
                continue;
            }
            swrInFormat_ = frame_->format;
            swrInChannels_ = frame_->ch_layout.nb_channels;
            swrInRate_ = frame_->sample_rate;
        }
        const int room = swr_get_out_samples(swr_, frame_->nb_samples);
        if (room <= 0)
            continue;
        const size_t at = pcm.size();
        pcm.resize(at + size_t(room) * size_t(format_.channels));
        uint8_t* out[1] = {reinterpret_cast<uint8_t*>(pcm.data() + at)};
        const int got = swr_convert(swr_, out, room, const_cast<const uint8_t**>(frame_->extended_data),
                                    frame_->nb_samples);
        pcm.resize(at + size_t(std::max(0, got)) * size_t(format_.channels));
        if (got <= 0)
            continue;
        const int64_t startUs = in_.toUs(frame_->best_effort_timestamp);
        firstSample = startUs == INT64_MIN ? nextSample_ : av_rescale(startUs, format_.sampleRate, 1000000);
        nextSample_ = firstSample + got;
        return 1;
    }
}

int AvSoundReader::seek(int64_t timeMs)
{
    stop_ = ReadStop{};
    if (swr_)
        swr_init(swr_);
    nextSample_ = timeMs * format_.sampleRate / 1000;
    return in_.seek(timeMs);
}

} // namespace quillet::player
