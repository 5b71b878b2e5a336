#include "engine/playback/SoundResampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace quillet {

SoundResampler::~SoundResampler()
{
    swr_free(&swr_);
}

int SoundResampler::open(int inRate, int channels, int outRate)
{
    swr_free(&swr_);
    if (inRate <= 0 || outRate <= 0 || channels < 1 || channels > 2)
        return 0;
    channels_ = channels;
    inRate_ = inRate;
    outRate_ = outRate;
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    if (swr_alloc_set_opts2(&swr_, &layout, AV_SAMPLE_FMT_S16, outRate, &layout, AV_SAMPLE_FMT_S16, inRate, 0,
                            nullptr) < 0 ||
        swr_init(swr_) < 0) {
        swr_free(&swr_);
        return 0;
    }
    return 1;
}

int SoundResampler::convert(const int16_t* in, size_t frames, std::vector<int16_t>& out)
{
    if (!swr_)
        return 0;
    const int room = swr_get_out_samples(swr_, static_cast<int>(frames));
    if (room < 0)
        return 0;
    const size_t at = out.size();
    out.resize(at + size_t(room) * channels_);
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + at);
    const uint8_t* src = reinterpret_cast<const uint8_t*>(in);
    const int got = swr_convert(swr_, &dst, room, frames ? &src : nullptr, static_cast<int>(frames));
    if (got < 0) {
        out.resize(at);
        return 0;
    }
    out.resize(at + size_t(got) * channels_);
    return 1;
}

int SoundResampler::flush(std::vector<int16_t>& out)
{
    return convert(nullptr, 0, out);
}

} // namespace quillet
