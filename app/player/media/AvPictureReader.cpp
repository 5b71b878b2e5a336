#include "app/player/media/AvPictureReader.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace quillet::player {

AvPictureReader::AvPictureReader() : current_(av_frame_alloc()), ahead_(av_frame_alloc()) {}

AvPictureReader::~AvPictureReader()
{
    av_frame_free(&current_);
    av_frame_free(&ahead_);
    sws_freeContext(sws_);
}

int AvPictureReader::open(const std::string& path, std::string& error)
{
    path_ = path;
    if (!current_ || !ahead_) {
        error = path + ": out of memory";
        return 0;
    }
    if (!in_.open(path, AvInput::Want::Video, error))
        return 0;
    const AVRational rate = av_guess_frame_rate(in_.format(), in_.stream(), nullptr);
    if (rate.num > 0 && rate.den > 0)
        frameMs_ = std::max<int64_t>(1, av_rescale(1000, rate.den, rate.num));
    return 1;
}

int64_t AvPictureReader::frameStartMs(const AVFrame* f) const
{
    return in_.toMs(f->best_effort_timestamp);
}

int AvPictureReader::fetchAhead()
{
    haveAhead_ = in_.decode(ahead_) != 0;
    if (!haveAhead_)
        return 0;
    int64_t start = frameStartMs(ahead_);
    // Pictures without a time, or out of order, follow the previous one.
    if (start == INT64_MIN || (haveCurrent_ && start <= currentStart_))
        start = haveCurrent_ ? currentStart_ + frameMs_ : 0;
    aheadStart_ = start;
    return 1;
}

void AvPictureReader::noteEnd()
{
    if (stop_.atMs >= 0)
        return;
    stop_.atMs = haveCurrent_ ? currentStart_ : 0;
    if (!in_.readError().empty()) {
        stop_.early = true;
        stop_.reason = in_.readError();
        if (in_.lastPacketPos() >= 0)
            stop_.reason += " after the picture at byte " + std::to_string(in_.lastPacketPos());
        return;
    }
    // A file cut short still ends cleanly for the demuxer when its index
    // names pictures that are not there; the declared length tells.
    const int64_t declared = in_.declaredDurationMs();
    const int64_t reached = haveCurrent_ ? currentStart_ + frameMs_ : 0;
    if (declared > 0 && reached + std::max<int64_t>(2 * frameMs_, 500) < declared) {
        stop_.early = true;
        stop_.reason = path_ + ": the pictures end at " + std::to_string(reached) + " ms, the file claims " +
                       std::to_string(declared) + " ms (cut short or damaged)";
    }
}

int AvPictureReader::advance(PictureTiming& timing)
{
    if (!haveAhead_ && !fetchAhead()) {
        noteEnd();
        return 0;
    }
    std::swap(current_, ahead_);
    haveCurrent_ = true;
    currentStart_ = aheadStart_;
    const bool key = current_->key_frame != 0 || current_->pict_type == AV_PICTURE_TYPE_I;
    const int64_t index = index_ >= 0 ? index_++ : -1;
    fetchAhead();
    timing.startMs = currentStart_;
    timing.endMs = haveAhead_ ? aheadStart_ : currentStart_ + frameMs_;
    timing.index = index;
    timing.key = key;
    return 1;
}

int AvPictureReader::picture(MediaPicture& out)
{
    if (!haveCurrent_ || current_->width <= 0 || current_->height <= 0)
        return 0;
    const int w = current_->width, h = current_->height;
    // Same conversion as ffmpeg's own default, so the player shows what its
    // decode gives.
    sws_ = sws_getCachedContext(sws_, w, h, AVPixelFormat(current_->format), w, h, AV_PIX_FMT_BGR0, SWS_BICUBIC,
                                nullptr, nullptr, nullptr);
    if (!sws_)
        return 0;
    if (out.width != w || out.height != h)
        out.allocate(w, h);
    uint8_t* dst[4] = {out.pixels.data(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {int(out.stride()), 0, 0, 0};
    sws_scale(sws_, current_->data, current_->linesize, 0, h, dst, dstStride);
    return 1;
}

int AvPictureReader::seek(int64_t timeMs)
{
    haveAhead_ = false;
    haveCurrent_ = false;
    index_ = timeMs <= 0 ? 0 : -1;
    stop_ = ReadStop{};
    return in_.seek(timeMs);
}

std::vector<std::string> AvPictureReader::takeWarnings()
{
    std::vector<std::string> out;
    if (in_.badPackets() > reportedBad_) {
        out.push_back(path_ + ": " + std::to_string(in_.badPackets() - reportedBad_) +
                      " damaged picture(s) could not be decoded");
        reportedBad_ = in_.badPackets();
    }
    return out;
}

} // namespace quillet::player
