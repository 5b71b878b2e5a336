#include "mux/wmv/WmvWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>

#include "mux/wmv/TimeInterleaver.h"
#include "video/ColorConvert.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace quillet {
namespace {

// Windows Media Audio bit rates (bits/s) the writer offers, in the order it
// offers them; those the coder refuses for a recording's rate and channels
// are left out.
constexpr int kAudioBitRates[] = {24000, 32000, 40000, 48000, 64000, 80000, 96000, 128000, 160000, 192000};

bool takesDepth(uint16_t bitCount)
{
    return bitCount == 16 || bitCount == 24 || bitCount == 32;
}

AVCodecContext* openAudioCoder(const AVCodec* codec, const WmvWaveFormat& wf, int bitRate, bool globalHeader)
{
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c)
        return nullptr;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = static_cast<int>(wf.nSamplesPerSec);
    av_channel_layout_default(&c->ch_layout, wf.nChannels);
    c->bit_rate = bitRate;
    c->time_base = AVRational{1, c->sample_rate};
    if (globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(c, codec, nullptr) < 0)
        avcodec_free_context(&c);
    return c;
}

} // namespace

int chooseWmvAudio(const std::vector<WmvAudioChoice>& offered, uint32_t targetBytesPerSecond, bool withVideo)
{
    const int64_t target = static_cast<int64_t>(targetBytesPerSecond) * 8;
    int kept = -1;
    int64_t keptDistance = 0;
    for (size_t i = 0; i < offered.size(); ++i) {
        const int64_t distance = std::llabs(static_cast<int64_t>(offered[i].avgBytesPerSecond) * 8 - target);
        if (kept >= 0) {
            if (distance >= keptDistance)
                continue;
            const uint32_t keptAlign = offered[static_cast<size_t>(kept)].blockAlign;
            if (withVideo ? offered[i].blockAlign > keptAlign : offered[i].blockAlign < keptAlign)
                continue;
        }
        kept = static_cast<int>(i);
        keptDistance = distance;
    }
    return kept;
}

struct WmvWriter::Impl {
    ~Impl() { release(); }

    AVFormatContext* fmt = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* sound = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* soundStream = nullptr;
    // 5-5-5 pictures are widened to 32 bits before the conversion.
    Rgb555Expander expander;
    std::vector<uint8_t> saved; // a region of the 4:2:0 picture before its conversion
    AVFrame* picture = nullptr;
    AVFrame* soundFrame = nullptr;
    AVPacket* packet = nullptr;
    std::unique_ptr<TimeInterleaver<AVPacket*>> order;
    bool headerWritten = false;
    bool failed = false;

    WmvBitmapInfo bitmap;
    int framesPerSecond = 15;
    int64_t nextVideoPts = 0;      // coder time base: one tick per picture slot
    struct PictureTime {
        uint32_t ms, durationMs;
    };
    std::deque<PictureTime> videoMs; // times of the pictures inside the coder
    bool anyVideo = false;
    bool convertWhole = true;      // the 4:2:0 picture does not hold the last one taken
    uint32_t lastVideoMs = 0;
    int64_t lastKeyMs = 0;         // time of the last key picture out of the coder
    bool keySeen = false;
    int stillPictures = 0;         // pictures in a row reported unchanged
    uint32_t lastCodedMs = 0;
    PictureTime held{0, 0};        // the latest picture not coded
    bool holding = false;

    WmvWaveFormat wave;
    std::vector<std::vector<float>> pending; // per channel, samples not yet coded
    size_t pendingSamples = 0;
    int64_t soundStart = -1;       // first sample's place on the time line (samples)
    int64_t samplesTaken = 0;      // samples handed in (with silence filled in) since then
    int64_t samplesCoded = 0;

    void release()
    {
        TimeInterleaver<AVPacket*>::Item item;
        while (order && order->pop(&item, true))
            av_packet_free(&item.payload);
        if (fmt && fmt->pb)
            avio_closep(&fmt->pb);
        avformat_free_context(fmt);
        fmt = nullptr;
        avcodec_free_context(&video);
        avcodec_free_context(&sound);
        av_frame_free(&picture);
        av_frame_free(&soundFrame);
        av_packet_free(&packet);
        videoStream = soundStream = nullptr;
        videoMs.clear();
        pending.clear();
    }

    int addVideo(int bitRate, int codecChoice)
    {
        (void)codecChoice; // both choices are coded by the same coder here
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
        if (!codec)
            return 0;
        video = avcodec_alloc_context3(codec);
        if (!video)
            return 0;
        video->width = bitmap.biWidth;
        video->height = bitmap.biHeight;
        video->pix_fmt = AV_PIX_FMT_YUV420P;
        video->time_base = AVRational{1, framesPerSecond};
        video->framerate = AVRational{framesPerSecond, 1};
        video->bit_rate = bitRate;
        // The average rate with the stream's buffer window: a busy moment may
        // take up to half as much again for a while, as long as the three
        // seconds of the window even it out.
        video->rc_max_rate = bitRate + bitRate / 2;
        video->rc_buffer_size = static_cast<int>(static_cast<int64_t>(bitRate) * kBufferWindowMs / 1000);
        video->gop_size = static_cast<int>(kMaxKeyFrameDistance100ns / 10000000) * framesPerSecond;
        video->max_b_frames = 0;
        if (fmt->oformat->flags & AVFMT_GLOBALHEADER)
            video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(video, codec, nullptr) < 0)
            return 0;
        videoStream = avformat_new_stream(fmt, nullptr);
        if (!videoStream || avcodec_parameters_from_context(videoStream->codecpar, video) < 0)
            return 0;
        videoStream->time_base = video->time_base;
        return 1;
    }

    int addSound(const WmvWaveFormat& wf)
    {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
        if (!codec || wf.nChannels < 1 || wf.nChannels > 2 || wf.nSamplesPerSec == 0)
            return 0;
        const bool global = (fmt->oformat->flags & AVFMT_GLOBALHEADER) != 0;
        // The codings on offer are those the coder opens with.
        std::vector<WmvAudioChoice> offered;
        std::vector<int> rates;
        for (int rate : kAudioBitRates) {
            AVCodecContext* c = openAudioCoder(codec, wf, rate, global);
            if (!c)
                continue;
            offered.push_back({static_cast<uint32_t>(rate / 8), static_cast<uint32_t>(c->block_align)});
            rates.push_back(rate);
            avcodec_free_context(&c);
        }
        const int pick = chooseWmvAudio(offered, wf.nAvgBytesPerSec, true);
        if (pick < 0)
            return 0;
        sound = openAudioCoder(codec, wf, rates[static_cast<size_t>(pick)], global);
        if (!sound)
            return 0;
        soundStream = avformat_new_stream(fmt, nullptr);
        if (!soundStream || avcodec_parameters_from_context(soundStream->codecpar, sound) < 0)
            return 0;
        soundStream->time_base = sound->time_base;
        return 1;
    }

    // The conversions from what the recording hands in to what the coders take.
    int configureInputs()
    {
        if (bitmap.biBitCount == 16 && !expander.set_size(bitmap.biWidth, bitmap.biHeight))
            return 0;
        picture = av_frame_alloc();
        packet = av_packet_alloc();
        if (!picture || !packet)
            return 0;
        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = bitmap.biWidth;
        picture->height = bitmap.biHeight;
        if (av_frame_get_buffer(picture, 0) < 0)
            return 0;
        if (!sound)
            return 1;
        if (wave.wBitsPerSample != 16 || sound->frame_size <= 0)
            return 0;
        soundFrame = av_frame_alloc();
        if (!soundFrame)
            return 0;
        soundFrame->format = sound->sample_fmt;
        soundFrame->sample_rate = sound->sample_rate;
        soundFrame->nb_samples = sound->frame_size;
        if (av_channel_layout_copy(&soundFrame->ch_layout, &sound->ch_layout) < 0 ||
            av_frame_get_buffer(soundFrame, 0) < 0)
            return 0;
        pending.assign(wave.nChannels, std::vector<float>(static_cast<size_t>(sound->frame_size)));
        return 1;
    }

    // Moves every packet the coder has ready into the file.
    int drain(AVCodecContext* coder, AVStream* stream)
    {
        for (;;) {
            const int r = avcodec_receive_packet(coder, packet);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return 1;
            if (r < 0)
                return 0;
            packet->stream_index = stream->index;
            if (coder == video) {
                // The coder keeps no pictures back, so packets leave in the
                // order the pictures came, each with its own time.
                const PictureTime t = videoMs.empty() ? PictureTime{lastVideoMs, 0} : videoMs.front();
                if (!videoMs.empty())
                    videoMs.pop_front();
                const uint32_t ms = t.ms;
                packet->pts = packet->dts = av_rescale_q(ms, AVRational{1, 1000}, stream->time_base);
                const uint32_t duration = t.durationMs ? t.durationMs : 1000 / framesPerSecond;
                packet->duration = av_rescale_q(duration, AVRational{1, 1000}, stream->time_base);
                if (packet->flags & AV_PKT_FLAG_KEY) {
                    lastKeyMs = ms;
                    keySeen = true;
                }
            } else {
                av_packet_rescale_ts(packet, coder->time_base, stream->time_base);
                // The coder starts a block early with its own warm-up; a
                // decoder makes nothing of the first two blocks either way,
                // and without this one the file's clock starts with the
                // first picture rather than 46 ms before it.
                if (packet->pts < 0) {
                    av_packet_unref(packet);
                    continue;
                }
            }
            AVPacket* held = av_packet_alloc();
            if (!held)
                return 0;
            av_packet_move_ref(held, packet);
            const int64_t ms = av_rescale_q(held->pts, stream->time_base, AVRational{1, 1000});
            // Sound that comes more than the buffer window after the pictures
            // of its time has no place left in the file.
            if (!order->push(held->stream_index, ms, held))
                av_packet_free(&held);
            if (!writeReady(false))
                return 0;
        }
    }

    // The file's packets must never go back in time across the streams (the
    // muxer stops the program otherwise). The library's own interleaving
    // would hold pictures back for as long as the sound is late, without
    // bound when the sound device delivers nothing, and a killed recording
    // would lose them; this one holds them for the buffer window at most.
    int writeReady(bool all)
    {
        TimeInterleaver<AVPacket*>::Item item;
        bool wrote = false;
        while (order->pop(&item, all)) {
            const int r = av_write_frame(fmt, item.payload);
            av_packet_free(&item.payload);
            if (r < 0)
                return 0;
            wrote = true;
        }
        // What is muxed reaches the file now, so a killed recording keeps it.
        if (wrote)
            avio_flush(fmt->pb);
        return fmt->pb->error < 0 ? 0 : 1;
    }

    int codeSoundFrame(int samples)
    {
        if (av_frame_make_writable(soundFrame) < 0)
            return 0;
        for (size_t ch = 0; ch < pending.size(); ++ch) {
            float* out = reinterpret_cast<float*>(soundFrame->data[ch]);
            std::memcpy(out, pending[ch].data(), static_cast<size_t>(samples) * sizeof(float));
            std::memset(out + samples, 0, static_cast<size_t>(sound->frame_size - samples) * sizeof(float));
        }
        soundFrame->nb_samples = sound->frame_size;
        soundFrame->pts = soundStart + samplesCoded;
        samplesCoded += sound->frame_size;
        pendingSamples = 0;
        return avcodec_send_frame(sound, soundFrame) >= 0 && drain(sound, soundStream);
    }

    bool keyDue(uint32_t ms) const
    {
        const int64_t periodMs = 1000 / framesPerSecond;
        return !keySeen || ms - lastKeyMs + periodMs > kMaxKeyFrameDistance100ns / 10000;
    }

    // Codes the current 4:2:0 picture, shown from `ms` on.
    int codePicture(uint32_t ms, uint32_t durationMs)
    {
        // The coder's clock counts slots; a picture that covers several
        // slots keeps the rate control's idea of time right.
        const int64_t slot = av_rescale(ms, framesPerSecond, 1000);
        picture->pts = std::max(slot, nextVideoPts);
        nextVideoPts = picture->pts + 1;
        picture->pict_type = keyDue(ms) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        videoMs.push_back({ms, durationMs});
        lastCodedMs = ms;
        holding = false;
        if (avcodec_send_frame(video, picture) < 0 || !drain(video, videoStream)) {
            failed = true;
            return 0;
        }
        return 1;
    }

    // Brings the 4:2:0 picture up to date with a bottom-up RGB one: whole, or
    // where it changed. *differs tells whether a pixel of it changed: a
    // rectangle reported changed may hold what it held (the cursor drawn
    // again in its place).
    int convert(const uint8_t* bits, const WmvChanges* changes, bool* differs)
    {
        *differs = !changes;
        if (changes && changes->count == 0)
            return 1;
        const int w = bitmap.biWidth, h = bitmap.biHeight;
        PixelLayout layout = bitmap.biBitCount == 24 ? PixelLayout::Bgr24 : PixelLayout::Bgra32;
        if (bitmap.biBitCount == 16) {
            if (!expander.expand_rgb555(bits))
                return 0;
            bits = expander.data();
        }
        I420Planes planes;
        planes.y = picture->data[0];
        planes.u = picture->data[1];
        planes.v = picture->data[2];
        planes.stride_y = picture->linesize[0];
        planes.stride_u = picture->linesize[1];
        planes.stride_v = picture->linesize[2];
        if (!changes)
            return convert_to_i420(bits, layout, w, h, true, planes);
        for (size_t i = 0; i < changes->count; ++i) {
            const Rect& r = changes->rects[i];
            // The converter's own widening to whole 2 x 2 blocks, clipped.
            const int left = std::max(0, r.left & ~1), top = std::max(0, r.top & ~1);
            const int right = std::min(w, (r.right + 2) & ~1), bottom = std::min(h, (r.bottom + 2) & ~1);
            if (left >= right || top >= bottom)
                continue;
            if (!*differs)
                saveRegion(left, top, right, bottom);
            if (!convert_rect_to_i420(bits, layout, w, h, true, r, planes))
                return 0;
            if (!*differs)
                *differs = !sameAsSaved(left, top, right, bottom);
        }
        return 1;
    }

    // The 4:2:0 samples of an even-aligned region, kept to compare with.
    void saveRegion(int left, int top, int right, int bottom)
    {
        saved.clear();
        forEachRegionRow(left, top, right, bottom,
                         [&](const uint8_t* row, size_t n) { saved.insert(saved.end(), row, row + n); });
    }
    bool sameAsSaved(int left, int top, int right, int bottom)
    {
        size_t at = 0;
        bool same = true;
        forEachRegionRow(left, top, right, bottom, [&](const uint8_t* row, size_t n) {
            same = same && std::memcmp(saved.data() + at, row, n) == 0;
            at += n;
        });
        return same;
    }
    template <typename Fn>
    void forEachRegionRow(int left, int top, int right, int bottom, Fn&& fn)
    {
        for (int y = top; y < bottom; ++y)
            fn(picture->data[0] + ptrdiff_t(y) * picture->linesize[0] + left, size_t(right - left));
        for (int plane = 1; plane <= 2; ++plane)
            for (int y = top / 2; y < bottom / 2; ++y)
                fn(picture->data[plane] + ptrdiff_t(y) * picture->linesize[plane] + left / 2,
                   size_t(right - left) / 2);
    }

    // Appends sample frames (interleaved 16-bit, or silence when pcm is null).
    int takeSound(const uint8_t* pcm, size_t frames)
    {
        const size_t channels = pending.size();
        const size_t frameSize = static_cast<size_t>(sound->frame_size);
        size_t done = 0;
        while (done < frames) {
            const size_t n = std::min(frames - done, frameSize - pendingSamples);
            for (size_t ch = 0; ch < channels; ++ch) {
                float* out = pending[ch].data() + pendingSamples;
                if (!pcm) {
                    std::memset(out, 0, n * sizeof(float));
                    continue;
                }
                const uint8_t* in = pcm + ((done * channels) + ch) * 2;
                for (size_t i = 0; i < n; ++i, in += channels * 2)
                    out[i] = static_cast<float>(static_cast<int16_t>(in[0] | in[1] << 8)) * (1.0f / 32768.0f);
            }
            pendingSamples += n;
            done += n;
            if (pendingSamples == frameSize && !codeSoundFrame(static_cast<int>(frameSize)))
                return 0;
        }
        samplesTaken += static_cast<int64_t>(frames);
        return 1;
    }
};

WmvWriter::WmvWriter() = default;
WmvWriter::~WmvWriter() { Close(); }

bool WmvWriter::IsOpen() const { return impl_ && impl_->headerWritten; }

bool WmvWriter::Failed() const
{
    return impl_ && (impl_->failed || (impl_->fmt && impl_->fmt->pb && impl_->fmt->pb->error < 0));
}

int WmvWriter::VideoBitRate() const { return impl_ && impl_->video ? static_cast<int>(impl_->video->bit_rate) : 0; }
int WmvWriter::AudioBitRate() const { return impl_ && impl_->sound ? static_cast<int>(impl_->sound->bit_rate) : 0; }

int WmvWriter::Open(const char* path, const WmvBitmapInfo& picture, int framesPerSecond, int bitRate,
                    const WmvWaveFormat* audio)
{
    Close();
    if (!path || !*path || framesPerSecond < 1 || bitRate <= 0 || picture.biWidth <= 0 || picture.biHeight <= 0 ||
        (picture.biWidth | picture.biHeight) & 1 || !takesDepth(picture.biBitCount))
        return 0;
    const uint64_t stride = static_cast<uint64_t>(picture.biWidth) * picture.biBitCount / 8;
    if (picture.biSizeImage < stride * static_cast<uint64_t>(picture.biHeight))
        return 0;

    auto impl = std::make_unique<Impl>();
    impl->bitmap = picture;
    impl->framesPerSecond = framesPerSecond;
    if (avformat_alloc_output_context2(&impl->fmt, av_guess_format("asf", nullptr, nullptr), nullptr, path) < 0)
        return 0;
    if (!impl->addVideo(bitRate, codec_choice_))
        return 0;
    if (audio) {
        impl->wave = *audio;
        if (!impl->addSound(*audio))
            return 0;
    }
    impl->order = std::make_unique<TimeInterleaver<AVPacket*>>(audio ? 2 : 1, kBufferWindowMs);
    if (!impl->configureInputs()) {
        std::fputs(kReconfigureError, stdout);
        return 0;
    }
    if (avio_open(&impl->fmt->pb, path, AVIO_FLAG_WRITE) < 0)
        return 0;
    if (avformat_write_header(impl->fmt, nullptr) < 0) {
        impl->release();
        // Our own empty file goes; a device such as /dev/full stays.
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec))
            std::filesystem::remove(path, ec);
        return 0;
    }
    impl->headerWritten = true;
    impl_ = std::move(impl);
    return 1;
}

int WmvWriter::WriteVideo(uint32_t ms, const uint8_t* bits, size_t length, uint32_t durationMs,
                          const WmvChanges* changes)
{
    if (!IsOpen() || !bits)
        return 0;
    Impl& m = *impl_;
    const WmvBitmapInfo& b = m.bitmap;
    if (length < b.biSizeImage || (m.anyVideo && ms <= m.lastVideoMs)) {
        m.convertWhole = true; // this picture's changes are lost to the next one
        return 0;
    }
    // The coder may still hold the last picture; then it gets a copy, and
    // the parts that did not change are already in place either way.
    bool differs = true;
    if (av_frame_make_writable(m.picture) < 0 || !m.convert(bits, m.convertWhole ? nullptr : changes, &differs)) {
        m.convertWhole = true;
        return m.failed = true, 0;
    }
    m.convertWhole = false;
    m.anyVideo = true;
    m.lastVideoMs = ms;

    // The coder spends a few bits on every block of a picture it is given,
    // also when nothing changed (a still 1080-row screen costs 600 kbit/s).
    // A still picture is coded for a second after the last change, which
    // brings it to full quality, then once a second (and when a key picture
    // is due) so a killed recording loses little; the pictures between show
    // the one before, as they would anyway.
    const bool still = !differs;
    m.stillPictures = still ? m.stillPictures + 1 : 0;
    const bool keyDue = m.keyDue(ms);
    if (still && !keyDue && m.stillPictures > m.framesPerSecond && ms - m.lastCodedMs < kStillRefreshMs) {
        m.held = Impl::PictureTime{ms, durationMs};
        m.holding = true;
        return 1;
    }
    return m.codePicture(ms, durationMs) ? 1 : 0;
}

int WmvWriter::WriteAudio(uint32_t ms, const uint8_t* bytes, size_t length)
{
    if (!IsOpen() || !impl_->sound || (!bytes && length))
        return 0;
    Impl& m = *impl_;
    const size_t frameBytes = m.pending.size() * 2;
    if (length > kMaxAudioBlock || length % frameBytes)
        return 0;
    const int64_t rate = m.sound->sample_rate;
    const int64_t at = av_rescale(ms, rate, 1000);
    if (m.soundStart < 0)
        m.soundStart = at;
    // A block that starts later than the sound so far (sound the recording
    // lost) is preceded by silence, so what follows stays in place. Rounding
    // of the times leaves less than a millisecond either way.
    const int64_t gap = at - (m.soundStart + m.samplesTaken);
    if (gap > rate / 1000 && !m.takeSound(nullptr, static_cast<size_t>(gap)))
        return m.failed = true, 0;
    if (!m.takeSound(bytes, length / frameBytes))
        return m.failed = true, 0;
    return m.fmt->pb->error < 0 ? 0 : 1;
}

int WmvWriter::Close()
{
    if (!impl_)
        return 0;
    Impl& m = *impl_;
    int ok = m.headerWritten && !m.failed;
    if (m.headerWritten) {
        // The last partial block of sound is coded padded with silence, and
        // the coders give up what they hold.
        if (m.sound && m.pendingSamples > 0 && !m.codeSoundFrame(static_cast<int>(m.pendingSamples)))
            ok = 0;
        if (m.sound && (avcodec_send_frame(m.sound, nullptr) < 0 || !m.drain(m.sound, m.soundStream)))
            ok = 0;
        // A still screen at the end: the last picture is coded, so the file
        // lasts to its end.
        if (m.holding && !m.codePicture(m.held.ms, m.held.durationMs))
            ok = 0;
        if (avcodec_send_frame(m.video, nullptr) < 0 || !m.drain(m.video, m.videoStream))
            ok = 0;
        if (!m.writeReady(true))
            ok = 0;
        if (av_write_trailer(m.fmt) < 0)
            ok = 0;
        if (m.fmt->pb->error < 0)
            ok = 0;
        if (avio_closep(&m.fmt->pb) < 0)
            ok = 0;
    }
    impl_.reset();
    return ok;
}

} // namespace quillet
