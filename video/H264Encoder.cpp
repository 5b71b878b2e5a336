#include "video/H264Encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "video/ColorConvert.h"
#include "video/FlvAvcTags.h"
#include "video/H264Params.h"
#include "video/MacroblockHints.h"
#include "video/NalWriter.h"

namespace quillet {
namespace {

// Slices of one picture never come in more than a handful of NAL units with
// these settings; more would mean a library we do not understand.
constexpr int kMaxNalsPerPicture = 16;
// Bytes in front of each NAL unit the library hands out: 4-byte length, header byte.
constexpr int kLibraryNalPrefix = 5;

// The library's NAL units without their 5-byte prefix and with emulation
// prevention removed, into `payload` (grown as needed); views[i] describes
// unit i. Every unit must hold at least the prefix.
void unescape_nals(const x264_nal_t* const* nals, int count, std::vector<uint8_t>& payload, NalView* views)
{
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += static_cast<size_t>(nals[i]->i_payload);
    if (payload.size() < total)
        payload.resize(total);
    size_t used = 0;
    for (int i = 0; i < count; ++i) {
        const x264_nal_t& nal = *nals[i];
        const size_t n = remove_emulation_prevention(nal.p_payload + kLibraryNalPrefix,
                                                     static_cast<size_t>(nal.i_payload - kLibraryNalPrefix),
                                                     payload.data() + used);
        views[i] = NalView{static_cast<uint8_t>(nal.i_ref_idc), static_cast<uint8_t>(nal.i_type),
                           payload.data() + used, n};
        used += n;
    }
}

// Bytes of one 4:2:0 macroblock: 16 x 16 luma and two 8 x 8 chroma blocks.
constexpr size_t kMacroblockBytes = 16 * 16 + 2 * 8 * 8;

static_assert(kMacroblockConstant == X264_MBINFO_CONSTANT, "our flag is handed to the library as it stands");

bool pixel_mode(H264InputMode mode)
{
    return mode == H264InputMode::Bgr24 || mode == H264InputMode::Bgra32;
}

} // namespace

H264Encoder::~H264Encoder()
{
    close();
}

void H264Encoder::set_bitrate(int32_t width, int32_t height, int32_t c)
{
    const double r = (static_cast<double>(width) + static_cast<double>(height)) / 560.0;
    // Clamp in floating point: huge or negative inputs stay defined.
    const double kbps = std::trunc(r * r * static_cast<double>(c));
    bitrate_ = static_cast<int16_t>(std::clamp(kbps, 50.0, 512.0));
}

size_t H264Encoder::recommended_output_capacity(int32_t width, int32_t height)
{
    const size_t pixels = static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0));
    return std::max<size_t>(pixels * 3, 640000) + 30000;
}

int H264Encoder::open(int32_t width, int32_t height, uint8_t fps)
{
    close();
    frame_counter = 0;
    width_ = width;
    height_ = height;
    const int32_t rate = std::abs(static_cast<int32_t>(static_cast<int8_t>(fps)));
    if (rate == 0 || picture_.allocate(width, height) == 0)
        return 0;

    H264Settings settings;
    settings.width = width;
    settings.height = height;
    settings.fps = rate;
    settings.bitrate_kbps = bitrate_;
    settings.repeat_headers = mode_ == H264InputMode::I420;
    x264_param_t params;
    if (fill_h264_params(&params, settings) == 0)
        return 0;
    handle_ = x264_encoder_open(&params);
    if (handle_ == nullptr)
        return 0;
    pts_ = 0;
    keyframe_interval_ = params.i_keyint_max;
    since_idr_ = 0;
    still_pictures = 0;
    picture_current_ = false;
    previous_coded_ = false;
    payload_.reserve(picture_.size() + 1024);
    macroblock_flags_.assign(macroblock_count(width, height), 0);
    // Sized once, so that no picture allocates.
    saved_macroblocks_.resize(macroblock_flags_.size() * kMacroblockBytes);
    return 1;
}

void H264Encoder::close()
{
    if (handle_ != nullptr) {
        x264_encoder_close(handle_);
        handle_ = nullptr;
    }
}

size_t H264Encoder::refuse()
{
    force_keyframe = 0;
    last_was_keyframe = 0;
    picture_current_ = false;
    previous_coded_ = false;
    return 0;
}

bool H264Encoder::prepare_hints(const Rect* changed, size_t count)
{
    last_changed_macroblocks = macroblock_flags_.size();
    // An IDR picture is analysed whole anyway; after a lost picture the
    // library's reference is not what the rectangles were measured against.
    if (use_macroblock_hints == 0 || !previous_coded_ || force_keyframe != 0 || macroblock_flags_.empty())
        return false;
    last_changed_macroblocks = mark_constant_macroblocks(width_, height_, changed, count, macroblock_flags_.data());
    return true;
}

template <typename F>
void H264Encoder::for_each_marked(F f)
{
    const int32_t columns = (width_ + 15) / 16;
    size_t index = 0;
    for (size_t i = 0; i < macroblock_flags_.size(); ++i) {
        if (macroblock_flags_[i] == kMacroblockConstant)
            continue;
        const int32_t x = static_cast<int32_t>(i % static_cast<size_t>(columns)) * 16;
        const int32_t y = static_cast<int32_t>(i / static_cast<size_t>(columns)) * 16;
        f(x, y, std::min(16, width_ - x), std::min(16, height_ - y), index++, i);
    }
}

namespace {

// Copies (or compares) one macroblock's pixels between the picture and its
// 384-byte saved form. W is the macroblock's width in luma pixels: whole
// macroblocks use the fixed width, which the compiler turns into plain
// 16- and 8-byte moves instead of library calls.
template <int32_t W>
void save_macroblock(const I420Planes& p, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* to)
{
    const size_t luma = static_cast<size_t>(W > 0 ? W : w), chroma = luma / 2;
    for (int32_t r = 0; r < h; ++r)
        std::memcpy(to + r * 16, p.y + (y + r) * p.stride_y + x, luma);
    to += 256;
    for (int32_t r = 0; r < h / 2; ++r) {
        std::memcpy(to + r * 16, p.u + (y / 2 + r) * p.stride_u + x / 2, chroma);
        std::memcpy(to + r * 16 + 8, p.v + (y / 2 + r) * p.stride_v + x / 2, chroma);
    }
}

template <int32_t W>
bool macroblock_equal(const I420Planes& p, int32_t x, int32_t y, int32_t w, int32_t h, const uint8_t* from)
{
    const size_t luma = static_cast<size_t>(W > 0 ? W : w), chroma = luma / 2;
    for (int32_t r = 0; r < h; ++r)
        if (std::memcmp(from + r * 16, p.y + (y + r) * p.stride_y + x, luma) != 0)
            return false;
    from += 256;
    for (int32_t r = 0; r < h / 2; ++r)
        if (std::memcmp(from + r * 16, p.u + (y / 2 + r) * p.stride_u + x / 2, chroma) != 0 ||
            std::memcmp(from + r * 16 + 8, p.v + (y / 2 + r) * p.stride_v + x / 2, chroma) != 0)
            return false;
    return true;
}

} // namespace

void H264Encoder::save_marked_macroblocks()
{
    const I420Planes p = picture_.planes();
    for_each_marked([&](int32_t x, int32_t y, int32_t w, int32_t h, size_t index, size_t) {
        uint8_t* to = saved_macroblocks_.data() + index * kMacroblockBytes;
        if (w == 16)
            save_macroblock<16>(p, x, y, w, h, to);
        else
            save_macroblock<0>(p, x, y, w, h, to);
    });
}

void H264Encoder::unmark_equal_macroblocks()
{
    const I420Planes p = picture_.planes();
    size_t equal = 0;
    for_each_marked([&](int32_t x, int32_t y, int32_t w, int32_t h, size_t index, size_t flag) {
        const uint8_t* from = saved_macroblocks_.data() + index * kMacroblockBytes;
        if (!(w == 16 ? macroblock_equal<16>(p, x, y, w, h, from) : macroblock_equal<0>(p, x, y, w, h, from)))
            return;
        macroblock_flags_[flag] = kMacroblockConstant;
        ++equal;
    });
    last_changed_macroblocks -= equal;
}

size_t H264Encoder::encode(const uint8_t* frame, size_t frame_bytes, uint8_t* out, size_t out_capacity,
                           uint32_t timestamp_ms)
{
    picture_current_ = false;
    return encode_changed(frame, frame_bytes, nullptr, 0, out, out_capacity, timestamp_ms);
}

size_t H264Encoder::encode_changed(const uint8_t* frame, size_t frame_bytes, const Rect* changed, size_t count,
                                   uint8_t* out, size_t out_capacity, uint32_t timestamp_ms)
{
    const PixelLayout layout = mode_ == H264InputMode::Bgr24 ? PixelLayout::Bgr24 : PixelLayout::Bgra32;
    const size_t needed = static_cast<size_t>(width_) * static_cast<size_t>(height_) * bytes_per_pixel(layout);
    if (handle_ == nullptr || !pixel_mode(mode_) || frame == nullptr || frame_bytes < needed || out == nullptr ||
        (count > 0 && changed == nullptr))
        return refuse();
    const bool had_picture = picture_current_;
    const bool hints = had_picture && prepare_hints(changed, count);
    if (hints)
        save_marked_macroblocks();
    if (!had_picture) {
        if (convert_to_i420(frame, layout, width_, height_, true, picture_.planes()) == 0)
            return refuse();
    } else {
        for (size_t i = 0; i < count; ++i)
            if (changed[i].right > changed[i].left &&
                convert_rect_to_i420(frame, layout, width_, height_, true, changed[i], picture_.planes()) == 0)
                return refuse();
    }
    picture_current_ = true;
    if (hints)
        unmark_equal_macroblocks();
    else
        last_changed_macroblocks = macroblock_flags_.size();
    const size_t written = encode_planes(out, out_capacity, timestamp_ms, hints);
    if (written == 0)
        picture_current_ = false;
    return written;
}

size_t H264Encoder::encode(const I420Picture& picture, uint8_t* out, size_t out_capacity, uint32_t timestamp_ms)
{
    last_changed_macroblocks = macroblock_flags_.size();
    if (handle_ == nullptr || mode_ != H264InputMode::I420 || picture.width() != width_ ||
        picture.height() != height_ ||
        copy_i420(picture, picture_.planes()) == 0)
        return refuse();
    return encode_planes(out, out_capacity, timestamp_ms, false);
}

size_t H264Encoder::encode_changed(const I420Picture& picture, const Rect* changed, size_t count, uint8_t* out,
                                   size_t out_capacity, uint32_t timestamp_ms)
{
    last_changed_macroblocks = macroblock_flags_.size();
    if (handle_ == nullptr || mode_ != H264InputMode::I420 || picture.width() != width_ ||
        picture.height() != height_ || (count > 0 && changed == nullptr))
        return refuse();
    const bool hints = prepare_hints(changed, count);
    if (hints)
        save_marked_macroblocks();
    if (copy_i420(picture, picture_.planes()) == 0)
        return refuse();
    if (hints)
        unmark_equal_macroblocks();
    return encode_planes(out, out_capacity, timestamp_ms, hints);
}

size_t H264Encoder::encode_planes(uint8_t* out, size_t out_capacity, uint32_t timestamp_ms, bool hints)
{
    const bool force = force_keyframe != 0;
    force_keyframe = 0;
    last_was_keyframe = 0;
    previous_coded_ = false;
    if (out == nullptr)
        return 0;

    x264_picture_t in;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    const I420Planes planes = picture_.planes();
    in.img.plane[0] = planes.y;
    in.img.plane[1] = planes.u;
    in.img.plane[2] = planes.v;
    in.img.i_stride[0] = static_cast<int>(planes.stride_y);
    in.img.i_stride[1] = static_cast<int>(planes.stride_u);
    in.img.i_stride[2] = static_cast<int>(planes.stride_v);
    in.i_type = force ? X264_TYPE_IDR : X264_TYPE_AUTO;
    // Every macroblock unchanged means the same picture as the library's
    // reference. Its scene-cut test then finds every block's inter cost at
    // the fixed minimum, below any block's intra cost, so it cannot fire, and
    // every macroblock is skipped unanalysed. Saying "P" spares the
    // whole-picture analysis and changes no byte. Near the end of a key-frame
    // interval the library keeps the choice, so the interval stays its own.
    if (!force && hints && use_still_picture_shortcut != 0 && last_changed_macroblocks == 0 &&
        since_idr_ + 2 < keyframe_interval_) {
        in.i_type = X264_TYPE_P;
        ++still_pictures;
    }
    in.i_pts = pts_++;
    // The flags stay ours: the library reads them only inside this call,
    // since it holds no picture back.
    if (hints)
        in.prop.mb_info = macroblock_flags_.data();

    x264_picture_t coded;
    x264_nal_t* nals = nullptr;
    int count = 0;
    if (x264_encoder_encode(handle_, &nals, &count, &in, &coded) < 0 || count <= 0 || count > kMaxNalsPerPicture)
        return 0;
    // From here the library's reference is this picture, whether or not its
    // bytes reach the caller (a lost one forces the next to be an IDR picture).
    previous_coded_ = true;
    since_idr_ = coded.i_type == X264_TYPE_IDR ? 0 : since_idr_ + 1;

    const x264_nal_t* list[kMaxNalsPerPicture];
    for (int i = 0; i < count; ++i) {
        if (nals[i].i_payload < kLibraryNalPrefix)
            return 0;
        list[i] = &nals[i];
    }
    NalView views[kMaxNalsPerPicture];
    unescape_nals(list, count, payload_, views);

    const bool key = coded.i_type == X264_TYPE_IDR;
    const size_t written = pixel_mode(mode_)
        ? write_avc_video_tag(out, out_capacity, timestamp_ms, key, views, static_cast<size_t>(count))
        : write_annexb_access_unit(out, out_capacity, views, static_cast<size_t>(count));
    if (written == 0) {
        // The picture is lost; later ones may refer to it, so restart with an IDR.
        force_keyframe = 1;
        return 0;
    }
    last_was_keyframe = key ? 1 : 0;
    return written;
}

size_t H264Encoder::sequence_header_tag(uint8_t* out, size_t out_capacity, uint32_t timestamp_ms)
{
    if (handle_ == nullptr)
        return 0;
    x264_nal_t* nals = nullptr;
    int count = 0;
    if (x264_encoder_headers(handle_, &nals, &count) < 0)
        return 0;
    const x264_nal_t* sps = nullptr;
    const x264_nal_t* pps = nullptr;
    for (int i = 0; i < count; ++i) {
        if (nals[i].i_payload < kLibraryNalPrefix)
            continue;
        if (nals[i].i_type == kNalSps && sps == nullptr)
            sps = &nals[i];
        else if (nals[i].i_type == kNalPps && pps == nullptr)
            pps = &nals[i];
    }
    if (sps == nullptr || pps == nullptr)
        return 0;
    const x264_nal_t* sets[2] = {sps, pps};
    NalView views[2];
    unescape_nals(sets, 2, payload_, views);
    return write_avc_sequence_header_tag(out, out_capacity, timestamp_ms, views[0], views[1]);
}

} // namespace quillet
