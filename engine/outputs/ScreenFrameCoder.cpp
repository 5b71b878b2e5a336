#include "engine/outputs/ScreenFrameCoder.h"

#include <algorithm>

#include "capture/CursorOverlay.h"
#include "capture/FrameGrabber.h"
#include "engine/outputs/FrameRecords.h"

namespace quillet {

namespace {

// Splits stop at a unit (16 × 16 pixels): a single unit always fits a record.
constexpr int kMaxSplitDepth = 24;

} // namespace

int ScreenFrameCoder::open(const OutputOpenParams& params)
{
    rects_.clear();
    lost_ = false;
    scaleSet_ = false;
    return codec_.init(params.width, params.height, params.bitsPerPixel, ScreenCodec::kCodeMode,
                       ScreenCodec::kCodecDepth, params.qualityLevel);
}

void ScreenFrameCoder::takeCursor(VideoFrameJob& job, bool key)
{
    cursor_.changed = false;
    cursor_.picture.clear();
    CursorOverlay* overlay = job.cursor;
    if (!overlay)
        return;
    if (!scaleSet_) {
        // Positions and the picture follow the output picture, which is
        // smaller than the recorded area when the grabber scales.
        const FrameGrabber& g = *job.grabber;
        overlay->setScale(g.width(), g.captureWidth() > 0 ? g.captureWidth() : g.width());
        scaleSet_ = true;
    }
    const bool changed = overlay->changed(job.cursorSerial) != 0;
    // A key frame carries the cursor whole, so that playing from it shows
    // the cursor before it next moves or changes shape.
    if (!changed && !key)
        return;
    cursor_.changed = true;
    cursor_.x = overlay->x();
    cursor_.y = overlay->y();
    if ((overlay->pictureSize() > 0 || key) && !overlay->compressedPicture(cursor_.picture))
        cursor_.picture.clear();
}

void ScreenFrameCoder::beginFrame(VideoFrameJob& job, bool key, bool detectVideo)
{
    FrameGrabber& g = *job.grabber;
    g.scaleToOutput();
    g.mapAndShrink();
    frame_ = &g.frame();
    lost_ = false;
    rects_.clear();
    firstVideoTile_ = -1;
    codec_.natural = 0;
    if (key) {
        codec_.reset();
        for (int i = 0; i < ScreenCodec::kMaxTiles; ++i)
            codec_.remember_rectangle(i, Rect{});
    }
    const Rect* tiles = g.outputTiles();
    const int n = std::min(g.tileCount(), ScreenCodec::kMaxTiles);
    for (int i = 0; i < n; ++i) {
        const FrameTile t = g.tile(i);
        lastTile_ = tiles[i];
        if (key)
            rects_.push_back({tiles[i], i});
        else if (t.isDirty())
            rects_.push_back({t.dirty, i});
    }
    if (detectVideo) {
        for (const Pending& p : rects_)
            if (codec_.natural_test(p.tile, p.rect, *frame_) && firstVideoTile_ < 0)
                firstVideoTile_ = p.tile;
    }
    takeCursor(job, key);
}

size_t ScreenFrameCoder::codePiece(const Rect& rect, RegionSink& sink, int depth)
{
    uint8_t* out = sink.room(records::kMaxRegionBytes);
    if (!out) {
        lost_ = true;
        return 0;
    }
    const size_t n = codec_.code_region(*frame_, out, records::kMaxRegionBytes, rect);
    if (n > 0)
        return sink.commit(rect, n) ? n : (lost_ = true, size_t(0));
    sink.commit(rect, 0); // gives the room back
    // Too large for one record: two halves across the longer side, cut on
    // the 16-pixel grid of the walk.
    const int32_t w = rect.right - rect.left + 1;
    const int32_t h = rect.bottom - rect.top + 1;
    if (depth >= kMaxSplitDepth || (w <= 16 && h <= 16)) {
        lost_ = true;
        return 0;
    }
    Rect a = rect, b = rect;
    if (w >= h) {
        const int32_t cut = rect.left + std::max<int32_t>(16, (w / 2) & ~15);
        a.right = cut - 1;
        b.left = cut;
    } else {
        const int32_t cut = rect.top + std::max<int32_t>(16, (h / 2) & ~15);
        a.bottom = cut - 1;
        b.top = cut;
    }
    size_t total = codePiece(a, sink, depth + 1);
    if (b.left <= b.right && b.top <= b.bottom)
        total += codePiece(b, sink, depth + 1);
    return total;
}

size_t ScreenFrameCoder::codeRectangle(int i, RegionSink& sink)
{
    const Pending& p = rects_[static_cast<size_t>(i)];
    const size_t n = codePiece(p.rect, sink, 0);
    if (n > kRememberAbove)
        codec_.remember_rectangle(p.tile, p.rect);
    return n;
}

size_t ScreenFrameCoder::sideData(size_t regionBytes, size_t capacity)
{
    if (!codec_.natural)
        return 0;
    const bool pending = codec_.natural_units() > 0;
    side_.resize(std::min(capacity, codec_.side_data_capacity()));
    const size_t n = codec_.side_data(side_.data(), side_.size(), static_cast<uint32_t>(regionBytes / 1000));
    // Units went to the H.264 picture but its picture did not fit: the
    // decoder would show them from an older one.
    if (pending && n == 0)
        lost_ = true;
    if (n > 0 && n < kForgetBelow && firstVideoTile_ >= 0)
        codec_.remember_rectangle(firstVideoTile_, Rect{});
    return n;
}

} // namespace quillet
