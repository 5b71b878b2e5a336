#include <cstdio>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "engine/playback/RecordingConverter.h"

namespace quillet {

namespace {

std::string avError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

} // namespace

// FLV and MP4 carry the same H.264 and AAC (or MP3) streams, so moving them
// from one container to the other needs no coding: libavformat reads the
// packets and writes them again with their times.
int RecordingConverter::remux(const std::string& in, const std::string& out, const ConvertProgress& progress,
                              ConvertReport* report, std::string* error)
{
    AVFormatContext* src = nullptr;
    int rc = avformat_open_input(&src, in.c_str(), nullptr, nullptr);
    if (rc < 0) {
        *error = in + ": cannot be opened (" + avError(rc) + ")";
        return 0;
    }
    rc = avformat_find_stream_info(src, nullptr);
    if (rc < 0) {
        avformat_close_input(&src);
        *error = in + ": its streams cannot be read (" + avError(rc) + ")";
        return 0;
    }
    AVFormatContext* dst = nullptr;
    avformat_alloc_output_context2(&dst, nullptr, nullptr, out.c_str());
    if (!dst) {
        avformat_close_input(&src);
        *error = out + ": no container for this extension";
        return 0;
    }
    bool created = false;
    auto finish = [&](const std::string& why) {
        if (created && dst->pb)
            avio_closep(&dst->pb);
        avformat_free_context(dst);
        avformat_close_input(&src);
        if (!why.empty()) {
            if (created)
                std::remove(out.c_str());
            *error = why;
            return 0;
        }
        return 1;
    };
    std::vector<int> map(src->nb_streams, -1);
    for (unsigned i = 0; i < src->nb_streams; ++i) {
        const AVCodecParameters* p = src->streams[i]->codecpar;
        if (p->codec_type != AVMEDIA_TYPE_VIDEO && p->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        AVStream* s = avformat_new_stream(dst, nullptr);
        if (!s || avcodec_parameters_copy(s->codecpar, p) < 0)
            return finish(out + ": cannot take stream " + std::to_string(i));
        s->codecpar->codec_tag = 0; // the new container's own tag
        s->time_base = src->streams[i]->time_base;
        map[i] = s->index;
    }
    if (dst->nb_streams == 0)
        return finish(in + ": holds no video or sound stream");
    rc = avio_open(&dst->pb, out.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0)
        return finish(out + ": cannot be created (" + avError(rc) + ")");
    created = true;
    rc = avformat_write_header(dst, nullptr);
    if (rc < 0)
        return finish(out + ": the streams do not fit this container (" + avError(rc) + ")");
    const int64_t total = src->duration > 0 ? src->duration / 1000 : 0; // ms
    AVPacket* pkt = av_packet_alloc();
    ConvertReport r;
    while ((rc = av_read_frame(src, pkt)) >= 0) {
        const unsigned si = static_cast<unsigned>(pkt->stream_index);
        if (si >= map.size() || map[si] < 0) {
            av_packet_unref(pkt);
            continue;
        }
        AVStream* is = src->streams[si];
        AVStream* os = dst->streams[map[si]];
        if (is->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            ++r.frames;
        const int64_t ms = pkt->pts != AV_NOPTS_VALUE ? av_rescale_q(pkt->pts, is->time_base, {1, 1000}) : 0;
        av_packet_rescale_ts(pkt, is->time_base, os->time_base);
        pkt->stream_index = map[si];
        pkt->pos = -1;
        rc = av_interleaved_write_frame(dst, pkt);
        if (rc < 0) {
            av_packet_free(&pkt);
            return finish(out + ": writing failed (" + avError(rc) + ")");
        }
        if (progress)
            progress(static_cast<uint32_t>(ms > 0 ? ms : 0), static_cast<uint32_t>(total));
    }
    av_packet_free(&pkt);
    if (rc != AVERROR_EOF) {
        r.damaged = true;
        r.warnings.push_back(in + ": reading stopped early (" + avError(rc) + "); what came before was kept");
    }
    rc = av_write_trailer(dst);
    if (rc < 0)
        return finish(out + ": finishing the file failed (" + avError(rc) + ")");
    r.durationMs = static_cast<uint32_t>(total);
    if (report)
        *report = r;
    return finish("");
}

} // namespace quillet

#include <sys/stat.h>

#include "engine/playback/MediaFileInfo.h"

namespace quillet {

int probeMediaFile(const std::string& path, MediaFileInfo* out, std::string* error)
{
    AVFormatContext* ctx = nullptr;
    int rc = avformat_open_input(&ctx, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        *error = path + ": not a media file that can be read (" + avError(rc) + ")";
        return 0;
    }
    avformat_find_stream_info(ctx, nullptr);
    *out = MediaFileInfo{};
    out->container = ctx->iformat ? ctx->iformat->long_name ? ctx->iformat->long_name : ctx->iformat->name : "?";
    struct stat st {};
    if (stat(path.c_str(), &st) == 0)
        out->fileSize = static_cast<uint64_t>(st.st_size);
    out->durationMs = ctx->duration > 0 ? static_cast<uint32_t>(ctx->duration / 1000) : 0;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* s = ctx->streams[i];
        const AVCodecParameters* p = s->codecpar;
        const char* name = avcodec_get_name(p->codec_id);
        char text[160];
        if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
            std::snprintf(text, sizeof text, "video %s %dx%d", name, p->width, p->height);
            if (s->nb_frames > 0 && out->videoFrames == 0)
                out->videoFrames = s->nb_frames;
        } else if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
            std::snprintf(text, sizeof text, "audio %s %d Hz %d ch", name, p->sample_rate, p->ch_layout.nb_channels);
        } else {
            std::snprintf(text, sizeof text, "%s %s", av_get_media_type_string(p->codec_type), name);
        }
        out->streams.push_back(text);
    }
    avformat_close_input(&ctx);
    return 1;
}

} // namespace quillet
