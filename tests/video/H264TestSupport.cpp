#include "tests/video/H264TestSupport.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace quillet::testing {

std::vector<uint8_t> screen_frame(int32_t width, int32_t height, int bpp, int frame_index)
{
    std::vector<uint8_t> f(static_cast<size_t>(width) * height * bpp);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            int r = 40 + x * 120 / width, g = 60 + y * 100 / height, b = 150;
            const bool in_window = x > width / 8 && x < width * 7 / 8 && y > height / 6 && y < height * 5 / 6;
            if (in_window) {
                r = g = b = 235;
                // Text-like strokes: fixed pseudo-random dark pixels on text lines.
                seed = seed * 1103515245u + 12345u;
                if ((y / 4) % 3 == 0 && ((seed >> 16) & 3) == 0)
                    r = g = b = 20;
            }
            const int bx = (frame_index * 6) % (width / 2);
            if (x >= bx && x < bx + width / 6 && y >= height / 3 && y < height / 3 + height / 5) {
                r = 200;
                g = 40;
                b = 30;
            }
            // Stored bottom-up: upright row y is stored row height - 1 - y.
            uint8_t* p = f.data() + (static_cast<size_t>(height - 1 - y) * width + x) * bpp;
            if (bpp == 2) {
                const uint16_t w = static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
                p[0] = static_cast<uint8_t>(w);
                p[1] = static_cast<uint8_t>(w >> 8);
            } else {
                p[0] = static_cast<uint8_t>(b);
                p[1] = static_cast<uint8_t>(g);
                p[2] = static_cast<uint8_t>(r);
                if (bpp == 4)
                    p[3] = static_cast<uint8_t>(x * 7 + y); // must be ignored
            }
        }
    }
    return f;
}

TestH264Decoder::TestH264Decoder(const std::vector<uint8_t>& extradata)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (ctx == nullptr)
        return;
    ctx_ = ctx;
    ctx->thread_count = 1;
    ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // Any damage in the stream is an error, not something to conceal.
    ctx->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_CRCCHECK;
    if (!extradata.empty()) {
        ctx->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(ctx->extradata, extradata.data(), extradata.size());
        ctx->extradata_size = static_cast<int>(extradata.size());
    }
    if (avcodec_open2(ctx, codec, nullptr) < 0)
        return;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    ok_ = frame_ != nullptr && packet_ != nullptr;
}

TestH264Decoder::~TestH264Decoder()
{
    AVFrame* frame = static_cast<AVFrame*>(frame_);
    AVPacket* packet = static_cast<AVPacket*>(packet_);
    AVCodecContext* ctx = static_cast<AVCodecContext*>(ctx_);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
}

bool TestH264Decoder::receive()
{
    AVCodecContext* ctx = static_cast<AVCodecContext*>(ctx_);
    AVFrame* frame = static_cast<AVFrame*>(frame_);
    for (;;) {
        const int rc = avcodec_receive_frame(ctx, frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0 || frame->format != AV_PIX_FMT_YUV420P || (frame->decode_error_flags != 0)) {
            ++errors;
            return false;
        }
        DecodedPicture pic;
        pic.width = frame->width;
        pic.height = frame->height;
        pic.key_frame = frame->key_frame != 0;
        pic.intra = frame->pict_type == AV_PICTURE_TYPE_I;
        for (int plane = 0; plane < 3; ++plane) {
            const int w = plane ? frame->width / 2 : frame->width;
            const int h = plane ? frame->height / 2 : frame->height;
            std::vector<uint8_t>& out = plane == 0 ? pic.y : (plane == 1 ? pic.u : pic.v);
            for (int row = 0; row < h; ++row)
                out.insert(out.end(), frame->data[plane] + row * frame->linesize[plane],
                           frame->data[plane] + row * frame->linesize[plane] + w);
        }
        pictures.push_back(std::move(pic));
        av_frame_unref(frame);
    }
}

bool TestH264Decoder::decode(const uint8_t* data, size_t size)
{
    if (!ok_)
        return false;
    AVPacket* packet = static_cast<AVPacket*>(packet_);
    if (av_new_packet(packet, static_cast<int>(size)) < 0)
        return false;
    std::memcpy(packet->data, data, size);
    const int rc = avcodec_send_packet(static_cast<AVCodecContext*>(ctx_), packet);
    av_packet_unref(packet);
    if (rc < 0) {
        ++errors;
        return false;
    }
    return receive();
}

bool TestH264Decoder::flush()
{
    if (!ok_)
        return false;
    avcodec_send_packet(static_cast<AVCodecContext*>(ctx_), nullptr);
    return receive();
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n)
{
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0)
        return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

} // namespace quillet::testing
