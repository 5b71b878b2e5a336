#include "video/screen/ScreenCodec.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/QualityLevel.h"
#include "video/screen/ScreenCodecState.h"

namespace quillet {

namespace {

// Frames larger than this are refused: the position histories alone would
// take gigabytes.
constexpr int32_t kMaxSide = 16384;
// Rate of the embedded H.264 stream; it only steers the encoder's key
// frame spacing, the side data follows the recording's frames.
constexpr uint8_t kSideDataFps = 15;

int32_t roundUp(int32_t v, int32_t to) { return (v + to - 1) / to * to; }

template <int Bpp>
inline uint32_t pixelAt(const uint8_t* row, int32_t x)
{
    const uint8_t* p = row + size_t(x) * Bpp;
    if constexpr (Bpp == 2)
        return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    else if constexpr (Bpp == 3)
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    else
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The colour changes of a w x h area whose first row in memory (its bottom
// row) starts at first: 1, plus along that row each pixel unlike its left
// neighbour; then in every further row each pixel unlike its left
// neighbour, the one two to the left, the last counted value and the pixel
// in the row before. Pixels compare as whole words of their own size.
template <int Bpp>
int64_t colourChanges(const uint8_t* first, size_t stride, int32_t w, int32_t h)
{
    int64_t changes = 1;
    uint32_t last = pixelAt<Bpp>(first, 0);
    for (int32_t x = 1; x < w; ++x) {
        const uint32_t p = pixelAt<Bpp>(first, x);
        if (p != pixelAt<Bpp>(first, x - 1)) {
            ++changes;
            last = p;
        }
    }
    const uint8_t* before = first;
    for (int32_t r = 1; r < h; ++r) {
        const uint8_t* row = before + stride;
        uint32_t left1 = pixelAt<Bpp>(row, 1);
        uint32_t left2 = pixelAt<Bpp>(row, 0);
        for (int32_t x = 2; x < w; ++x) {
            const uint32_t p = pixelAt<Bpp>(row, x);
            if (p != left1 && p != left2 && p != last && p != pixelAt<Bpp>(before, x)) {
                ++changes;
                last = p;
            }
            left2 = left1;
            left1 = p;
        }
        before = row;
    }
    return changes;
}

} // namespace

bool region_blocks(const Rect& rect, int32_t width, int32_t height, RegionBlocks& out)
{
    int32_t left = std::max<int32_t>(rect.left, 0);
    int32_t top = std::max<int32_t>(rect.top, 0);
    int32_t right = std::min<int32_t>(rect.right, width - 1);
    int32_t bottom = std::min<int32_t>(rect.bottom, height - 1);
    if (left > right || top > bottom)
        return false;
    out.bx = left / 8;
    out.by = top / 8;
    out.nx = right / 8 - out.bx + 1;
    out.ny = bottom / 8 - out.by + 1;
    return true;
}

ScreenCodec::ScreenCodec() = default;
ScreenCodec::~ScreenCodec() = default;

bool ScreenCodec::ready() const { return s_ != nullptr; }

uint32_t ScreenCodec::capacity() const { return s_ ? s_->cache.capacity() : 0; }

int ScreenCodec::init(int32_t width, int32_t height, int screen_bits_per_pixel, int mode, int codec_depth,
                      int quality_level)
{
    s_.reset();
    width_ = height_ = 0;
    bitsPerPixel_ = 0;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return 0;
    if (screen_bits_per_pixel != 16 && screen_bits_per_pixel != 24 && screen_bits_per_pixel != 32)
        return 0;
    // The SWF block path (depth 32) is not part of this codec yet.
    if (codec_depth != kCodecDepth)
        return 0;

    std::unique_ptr<State> s(new (std::nothrow) State);
    if (!s)
        return 0;
    mode_ = mode == kCodeMode ? kCodeMode : kDecodeMode;
    const bool coding = mode_ == kCodeMode;
    s->codecDepth = codec_depth;
    s->width8 = roundUp(width, 8);
    s->height8 = roundUp(height, 8);
    s->blocksX = s->width8 / 8;
    s->blocksY = s->height8 / 8;
    if (screen_bits_per_pixel == 16) {
        s->masks[0] = 248;
        s->masks[1] = layout16_ == Pixel16Layout::Rgb565 ? 252 : 248;
        s->masks[2] = 248;
    }

    const size_t positions = size_t(s->blocksX) * size_t(s->blocksY);
    const uint32_t capacity = uint32_t(std::clamp<size_t>(positions, 1, kMaxCapacity));
    if (!s->cache.allocate(capacity, positions, coding))
        return 0;
    const size_t workBytes = std::max<size_t>(size_t(s->width8) * size_t(s->height8) * 2 * 17 / 16, 640000);
    try {
        s->work.resize(std::max(workBytes, max_block_stream(positions)));
        s->positionLossy.assign(coding ? 0 : positions, 0);
        s->unitDct.assign(size_t(s->blocksY / 2 + 1), 0);
    } catch (const std::bad_alloc&) {
        return 0;
    }

    if (coding) {
        s->dct.set_quality(kDctQuality, DivisorRounding::Truncate);
        const int32_t w16 = roundUp(width, 16);
        const int32_t h16 = roundUp(height, 16);
        s->h264.set_input_mode(H264InputMode::I420);
        const int factor = qualityLevelRow(quality_level).videoBitrateFactor;
        s->h264.set_bitrate(w16, h16, (w16 + h16) * factor / 1120);
        if (!s->picture.allocate(w16, h16) || !s->h264.open(w16, h16, kSideDataFps))
            return 0;
        s->picture.bottom_up = false; // rows are written upright, at the units' own positions
        s->h264Open = true;
    }

    s_ = std::move(s);
    width_ = width;
    height_ = height;
    bitsPerPixel_ = screen_bits_per_pixel;
    reset();
    return ready() ? 1 : 0;
}

void ScreenCodec::reset()
{
    if (!s_)
        return;
    State& s = *s_;
    s.cache.reset();
    s.broken = false;
    s.posKnown = false;
    s.error = ScreenCodecError{};
    if (mode_ == kCodeMode) {
        if (!s.deflater.restart()) {
            s_.reset(); // no zlib stream: the codec cannot be used
            return;
        }
        if (s.h264Open) {
            std::memset(s.picture.data(), 128, s.picture.size());
            s.h264.force_keyframe = 1;
        }
        s.naturalCount = 0;
        s.naturalAreas.clear();
        s.naturalAll = true;
    } else {
        if (!s.inflater.restart()) {
            s_.reset();
            return;
        }
        std::fill(s.positionLossy.begin(), s.positionLossy.end(), 0);
    }
}

int ScreenCodec::natural_test(int tile, const Rect& rect, const ScreenFrame& frame)
{
    if (!s_ || mode_ != kCodeMode || !s_->h264Open || frame.bits == nullptr || frame.width != width_ ||
        frame.height != height_ || frame.bitsPerPixel != bitsPerPixel_)
        return 0;
    const int32_t left = std::max<int32_t>(rect.left, 0);
    const int32_t top = std::max<int32_t>(rect.top, 0);
    const int32_t right = std::min<int32_t>(rect.right, width_ - 1);
    const int32_t bottom = std::min<int32_t>(rect.bottom, height_ - 1);
    const int32_t w = right - left + 1;
    const int32_t h = bottom - top + 1;
    if (w <= 15 || h <= 15 || w + h <= 159)
        return 0;
    const bool known = tile >= 0 && tile < kMaxTiles;
    if (known && s_->tiles[tile] == rect) {
        natural = 1;
        return natural;
    }

    const int bpp = bitsPerPixel_ / 8;
    const size_t stride = frame.stride > 0 ? size_t(frame.stride) : size_t(width_) * size_t(bpp);
    const uint8_t* first = frame.bits + size_t(height_ - 1 - bottom) * stride + size_t(left) * size_t(bpp);
    const int64_t changes = bpp == 2   ? colourChanges<2>(first, stride, w, h)
                            : bpp == 3 ? colourChanges<3>(first, stride, w, h)
                                       : colourChanges<4>(first, stride, w, h);
    if (changes * 100 / (int64_t(w) * int64_t(h)) > 30) {
        natural = 1;
        if (known)
            s_->tiles[tile] = rect;
    }
    return natural;
}

void ScreenCodec::remember_rectangle(int tile, const Rect& rect)
{
    if (s_ && tile >= 0 && tile < kMaxTiles)
        s_->tiles[tile] = rect;
}

Rect ScreenCodec::remembered_rectangle(int tile) const
{
    if (s_ && tile >= 0 && tile < kMaxTiles)
        return s_->tiles[tile];
    return Rect{};
}

uint32_t ScreenCodec::natural_units() const { return s_ ? s_->naturalCount : 0; }

size_t ScreenCodec::side_data_capacity() const
{
    if (!s_ || !s_->h264Open)
        return 0;
    return H264Encoder::recommended_output_capacity(s_->picture.width(), s_->picture.height());
}

size_t ScreenCodec::side_data(uint8_t* out, size_t capacity, uint32_t budget)
{
    if (!s_ || mode_ != kCodeMode || !s_->h264Open || !natural || s_->naturalCount == 0 || out == nullptr)
        return 0;
    State& s = *s_;
    s.h264.frame_counter += budget;
    s.naturalCount = 0;
    size_t n;
    if (s.naturalAll)
        n = s.h264.encode(s.picture, out, capacity, s.h264.frame_counter);
    else
        n = s.h264.encode_changed(s.picture, s.naturalAreas.data(), s.naturalAreas.size(), out, capacity,
                                  s.h264.frame_counter);
    s.naturalAreas.clear();
    s.naturalAll = false;
    return n;
}

void ScreenCodec::set_natural_source(const I420Picture* picture)
{
    if (s_)
        s_->naturalSource = picture;
}

const uint8_t* ScreenCodec::lossy_blocks() const
{
    return s_ && mode_ != kCodeMode ? s_->positionLossy.data() : nullptr;
}

const ScreenCodecError& ScreenCodec::last_error() const
{
    static const ScreenCodecError notReady{"the codec is not set up", ScreenDataPart::Call, 0};
    return s_ ? s_->error : notReady;
}

} // namespace quillet
