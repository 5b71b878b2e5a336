#include "video/screen/ScreenDecoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "video/I420Picture.h"

namespace quillet {

struct ScreenDecoder::Impl {
    ScreenCodec codec;
    I420Picture side;    // upright, 16-aligned: what the side data last decoded to
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    ScreenCodecError sideError;
    bool lastWasSide = false;

    ~Impl() { closeAv(); }

    void closeAv()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&ctx);
    }

    int openAv()
    {
        closeAv();
        const AVCodec* h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
        if (h264 == nullptr)
            return 0;
        ctx = avcodec_alloc_context3(h264);
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        if (ctx == nullptr || frame == nullptr || packet == nullptr)
            return 0;
        // One picture in, the same picture out: no frame threads, no delay.
        ctx->thread_count = 1;
        ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
        return avcodec_open2(ctx, h264, nullptr) == 0 ? 1 : 0;
    }

    int sideFail(size_t offset, const char* why)
    {
        sideError = ScreenCodecError{why, ScreenDataPart::SideData, offset};
        lastWasSide = true;
        return 0;
    }
};

ScreenDecoder::ScreenDecoder() : impl_(new Impl) {}
ScreenDecoder::~ScreenDecoder() = default;

int ScreenDecoder::init(int32_t width, int32_t height)
{
    picture_ = ScreenPicture{};
    if (!impl_->codec.init(width, height, 32, ScreenCodec::kDecodeMode))
        return 0;
    const int32_t w16 = (width + 15) / 16 * 16;
    const int32_t h16 = (height + 15) / 16 * 16;
    if (!impl_->side.allocate(w16, h16) || !picture_.allocate(width, height) || !impl_->openAv()) {
        picture_ = ScreenPicture{};
        return 0;
    }
    impl_->side.bottom_up = false;
    impl_->codec.set_natural_source(&impl_->side);
    reset();
    return 1;
}

void ScreenDecoder::reset()
{
    impl_->codec.reset();
    if (!impl_->side.empty())
        std::memset(impl_->side.data(), 128, impl_->side.size());
    // The coder's next side data starts with an IDR picture.
    if (impl_->ctx != nullptr)
        avcodec_flush_buffers(impl_->ctx);
    impl_->sideError = ScreenCodecError{};
    impl_->lastWasSide = false;
}

int ScreenDecoder::decode_region(const Rect& rect, const uint8_t* data, size_t length)
{
    impl_->lastWasSide = false;
    if (picture_.pixels.empty())
        return 0;
    return impl_->codec.decode_region(rect, data, length, picture_);
}

int ScreenDecoder::decode_side_data(const uint8_t* data, size_t length)
{
    Impl& m = *impl_;
    if (m.ctx == nullptr)
        return m.sideFail(0, "the decoder is not set up");
    if (data == nullptr || length == 0)
        return m.sideFail(0, "the side data is empty");
    if (length > size_t(1) << 30)
        return m.sideFail(0, "the side data is too large");
    if (av_new_packet(m.packet, int(length)) < 0)
        return m.sideFail(0, "out of memory for the side data");
    std::memcpy(m.packet->data, data, length);
    const int sent = avcodec_send_packet(m.ctx, m.packet);
    av_packet_unref(m.packet);
    if (sent < 0)
        return m.sideFail(0, "the H.264 side data does not decode");
    int got = 0;
    for (;;) {
        const int rc = avcodec_receive_frame(m.ctx, m.frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            break;
        if (rc < 0)
            return m.sideFail(0, "the H.264 side data does not decode");
        const bool planar420 = m.frame->format == AV_PIX_FMT_YUV420P || m.frame->format == AV_PIX_FMT_YUVJ420P;
        if (!planar420 || m.frame->width != m.side.width() || m.frame->height != m.side.height()) {
            av_frame_unref(m.frame);
            return m.sideFail(0, "the H.264 side data has another picture size or format than the recording");
        }
        const int32_t w = m.side.width();
        const int32_t h = m.side.height();
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(m.side.y() + size_t(y) * size_t(w), m.frame->data[0] + ptrdiff_t(y) * m.frame->linesize[0],
                        size_t(w));
        for (int32_t y = 0; y < h / 2; ++y) {
            std::memcpy(m.side.u() + size_t(y) * size_t(w / 2),
                        m.frame->data[1] + ptrdiff_t(y) * m.frame->linesize[1], size_t(w / 2));
            std::memcpy(m.side.v() + size_t(y) * size_t(w / 2),
                        m.frame->data[2] + ptrdiff_t(y) * m.frame->linesize[2], size_t(w / 2));
        }
        av_frame_unref(m.frame);
        ++got;
    }
    if (got == 0)
        return m.sideFail(0, "the H.264 side data holds no complete picture");
    m.lastWasSide = false;
    return 1;
}

const ScreenCodecError& ScreenDecoder::last_error() const
{
    return impl_->lastWasSide ? impl_->sideError : impl_->codec.last_error();
}

const uint8_t* ScreenDecoder::lossy_blocks() const { return impl_->codec.lossy_blocks(); }

} // namespace quillet
