#include "capture/FrameGrabber.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/TickClock.h"
#include "capture/BicubicScaler.h"

namespace quillet {

namespace {

// The bicubic kernel reaches two source pixels on each side, so a change
// spreads that far in the scaled picture.
constexpr int32_t kScaleSpread = 2;
// Beyond this many pending rectangles one whole-picture copy is cheaper to track.
constexpr size_t kMaxUnsynced = 64;
// Beyond this many output changes between two readers the whole picture is
// reported instead (coders then refresh all of it).
constexpr size_t kMaxOutputChanges = 64;

bool isEmpty(const Rect& r) { return r.right < r.left || r.bottom < r.top; }

Rect intersect(const Rect& a, const Rect& b) // exclusive right and bottom
{
    return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

// Rounds a copy extent up to 8k + 7 unless it already is a multiple of 8, so
// that copies cover whole 8-pixel blocks of the coders.
int32_t copyExtent(int32_t n) { return (n % 8) ? (n | 7) : n; }

} // namespace

FrameGrabber::FrameGrabber(ScreenSource& source, std::function<uint64_t()> clock)
    : source_(source), clock_(clock ? std::move(clock) : std::function<uint64_t()>(tickMs))
{
    for (Rect& r : eventRects_)
        r = emptyChangeRect();
}

FrameGrabber::~FrameGrabber() { release(); }

int FrameGrabber::init(const Rect& area, uint8_t flags, bool largeLimit)
{
    flags_ = flags;
    if (initialised_)
        return 1;

    const uint8_t bpp = source_.bitsPerPixel();
    if (bpp != 32 && bpp != 16)
        return 0;
    const int32_t cx = source_.logicalWidth();
    const int32_t cy = source_.logicalHeight();
    physicalWidth_ = source_.physicalWidth();
    physicalHeight_ = source_.physicalHeight();
    if (cx <= 0 || cy <= 0 || physicalWidth_ <= 0 || physicalHeight_ <= 0)
        return 0;

    const bool hasArea = !(area == Rect{});
    Rect a{};
    if (hasArea) {
        a = intersect(area, Rect{0, 0, cx, cy});
        if (a.right - a.left < 8 || a.bottom - a.top < 8)
            return 0;
    }

    int64_t w = hasArea ? a.right - a.left : cx;
    int64_t h = hasArea ? a.bottom - a.top : cy;
    w = std::min<int64_t>(w, physicalWidth_);
    h = std::min<int64_t>(h, physicalHeight_);
    const int64_t areaW = w;
    const int64_t areaH = h;
    const int64_t maxW = largeLimit ? 1920 : 1600;
    const int64_t maxH = largeLimit ? 1080 : 1024;
    const bool limited = w > maxW || h > maxH;
    if (w > maxW) {
        h = maxW * h / w;
        w = maxW;
    }
    if (h > maxH) {
        w = maxH * w / h;
        h = maxH;
    }
    w = (w + 9) & ~int64_t{15};
    h = (h + 9) & ~int64_t{15};
    if (w < 16 || h < 16)
        return 0;
    width_ = static_cast<int32_t>(w);
    height_ = static_cast<int32_t>(h);

    area_ = Rect{0, 0, physicalWidth_, physicalHeight_};
    captureWidth_ = physicalWidth_;
    captureHeight_ = physicalHeight_;
    if (hasArea) {
        const int32_t left = static_cast<int32_t>(int64_t{physicalWidth_} * a.left / cx);
        const int32_t top = static_cast<int32_t>(int64_t{a.top} * physicalHeight_ / cy);
        // An area over the size limit is read whole and scaled down to the
        // output, as the whole screen is; reading only the output's size of
        // it would crop the picture instead.
        captureWidth_ = static_cast<int32_t>((limited ? areaW : w) * physicalWidth_ / cx);
        captureHeight_ = static_cast<int32_t>((limited ? areaH : h) * physicalHeight_ / cy);
        // Rounding the output up may push the capture past the screen's edge;
        // the screen cannot be read there.
        captureWidth_ = std::min(captureWidth_, physicalWidth_ - left);
        captureHeight_ = std::min(captureHeight_, physicalHeight_ - top);
        area_ = Rect{left, top, left + captureWidth_, top + captureHeight_};
    }

    bitsPerPixel_ = bpp;
    frameFormat_ = FrameFormat{};
    frameFormat_.width = width_;
    frameFormat_.height = height_;
    frameFormat_.bitCount = bpp;
    frameFormat_.sizeImage = static_cast<uint32_t>(height_) * (bpp / 8) * static_cast<uint32_t>(width_);

    tileCount_ = layoutTiles(captureWidth_, captureHeight_, captureTiles_);
    if (tileCount_ == 0)
        return 0;
    for (int i = 0; i < kMaxTiles; ++i) {
        const Rect& t = captureTiles_[i];
        captureTilesScreen_[i] = Rect{t.left + area_.left, t.top + area_.top, t.right + area_.left,
                                      t.bottom + area_.top};
    }
    const bool scaled = captureWidth_ != width_ || captureHeight_ != height_;
    if (scaled)
        layoutTiles(width_, height_, outputTiles_);
    else
        std::copy(captureTiles_, captureTiles_ + kMaxTiles, outputTiles_);

    if (!source_.openPicture(captureWidth_, captureHeight_))
        return 0;
    const size_t frameBytes = frameFormat_.sizeImage;
    try {
        outputBits_.assign(frameBytes, 0);
        referenceBits_.assign(frameBytes, 0);
        unsynced_.reserve(kMaxUnsynced + 1);
        polled_.reserve(64);
        outputChanges_.reserve(kMaxOutputChanges + 1);
    } catch (const std::bad_alloc&) {
        source_.closePicture();
        outputBits_ = {};
        referenceBits_ = {};
        return 0;
    }
    if (scaled) {
        scaler_ = std::make_unique<BicubicScaler>();
        if (bpp == 16) {
            // The scaler's own 5-5-5 path shares colour between neighbouring
            // pixels (a one-pixel red line comes out pink and shifted), so
            // 16-bit pictures are scaled through 32-bit copies.
            try {
                wide_.assign(static_cast<size_t>(captureWidth_) * captureHeight_ * 4, 0);
                wideOutput_.assign(static_cast<size_t>(width_) * height_ * 4, 0);
            } catch (const std::bad_alloc&) {
                source_.closePicture();
                release();
                return 0;
            }
        }
        if (!scaler_->open(captureWidth_, captureHeight_, width_, height_, 32)) {
            source_.closePicture();
            release();
            return 0;
        }
    }

    frame_ = ScreenFrame{};
    frame_.width = width_;
    frame_.height = height_;
    frame_.bitsPerPixel = bpp;
    frame_.bits = outputBits_.data();
    frame_.stride = width_ * (bpp / 8);
    frame_.imageSize = static_cast<uint32_t>(frameBytes);
    frame_.captureWidth = captureWidth_;
    frame_.captureHeight = captureHeight_;
    frame_.tileCount = static_cast<uint8_t>(tileCount_);

    std::copy(captureTiles_, captureTiles_ + kMaxTiles, rememberedRects_);
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        for (Rect& r : eventRects_)
            r = emptyChangeRect();
    }
    for (Rect& r : changeList_)
        r = Rect{};
    changeMagic_ = 0;
    unsynced_.clear();
    outputChanges_.assign(1, Rect{0, 0, width_ - 1, height_ - 1});
    initialised_ = true;
    lastFullRefresh_ = 0;
    // The first frame must hold the whole picture whatever the clock says.
    fullRefreshDue_ = true;
    fullRefreshInterval_ = kFullRefreshInitialMs;
    compositionActive_ = source_.compositionActive();
    return 1;
}

void FrameGrabber::release()
{
    if (initialised_)
        source_.closePicture();
    scaler_.reset();
    wide_ = {};
    wideOutput_ = {};
    outputBits_ = {};
    referenceBits_ = {};
    unsynced_.clear();
    outputChanges_.clear();
    frame_ = ScreenFrame{};
    tileCount_ = 0;
    initialised_ = false;
}

Rect FrameGrabber::captureArea() const { return area_; }

PixelView FrameGrabber::capturePicture() const
{
    return initialised_ ? source_.picture() : PixelView{};
}

void FrameGrabber::addChangedRect(const Rect& rect)
{
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (!initialised_)
        return;
    mergeIntoTiles(rect, captureTilesScreen_, tileCount_, eventRects_);
}

void FrameGrabber::moveArea(int32_t left, int32_t top)
{
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (!initialised_)
        return;
    areaMovePending_ = true;
    areaMoveLeft_ = left;
    areaMoveTop_ = top;
}

void FrameGrabber::applyAreaMove()
{
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (!areaMovePending_)
        return;
    areaMovePending_ = false;
    const int32_t left = std::clamp(areaMoveLeft_, 0, std::max(0, physicalWidth_ - captureWidth_));
    const int32_t top = std::clamp(areaMoveTop_, 0, std::max(0, physicalHeight_ - captureHeight_));
    if (left == area_.left && top == area_.top)
        return;
    area_ = Rect{left, top, left + captureWidth_, top + captureHeight_};
    for (int i = 0; i < kMaxTiles; ++i) {
        const Rect& t = captureTiles_[i];
        captureTilesScreen_[i] = Rect{t.left + left, t.top + top, t.right + left, t.bottom + top};
    }
    // Everything in the picture is new: changes reported for the old place
    // mean nothing, and the next frame reads all of it.
    for (Rect& r : eventRects_)
        r = emptyChangeRect();
    fullRefreshDue_ = true;
}

void FrameGrabber::mergeScreenRect(const Rect& inclusive)
{
    mergeIntoTiles(inclusive, captureTilesScreen_, tileCount_, changeList_);
}

void FrameGrabber::mergeMouseRect()
{
    int32_t x = 0;
    int32_t y = 0;
    if (source_.pointerPosition(x, y))
        mergeScreenRect(Rect{x - kMouseMargin, y - kMouseMargin, x + kMouseMargin, y + kMouseMargin});
}

void FrameGrabber::collectChanges()
{
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        std::copy(eventRects_, eventRects_ + kMaxTiles, changeList_);
        for (Rect& r : eventRects_)
            r = emptyChangeRect();
    }
    changeMagic_ = kChangeListAnswered;

    polled_.clear();
    if (source_.pollChanges(polled_)) {
        changesTracked_ = true;
        fullRefreshInterval_ = kFullRefreshTrackedMs;
        for (const Rect& r : polled_)
            if (r.right > r.left && r.bottom > r.top)
                mergeScreenRect(Rect{r.left, r.top, r.right - 1, r.bottom - 1});
        // The notifications are exact, so only they need copying. The square
        // around the mouse is still checked against the reference (it is where
        // the user works), which costs no screen read.
        std::copy(changeList_, changeList_ + kMaxTiles, copyList_);
        mergeMouseRect();
        return;
    }

    // No notifications: what changed last frame probably changes again.
    // Remembered rectangles are merged rather than replacing the entries, so a
    // change reported by addChangedRect elsewhere in the same tile survives.
    changesTracked_ = false;
    fullRefreshInterval_ = kFullRefreshGuessingMs;
    for (int i = 0; i < tileCount_; ++i) {
        const Rect& r = rememberedRects_[i];
        if (r.right != 0)
            mergeScreenRect(Rect{r.left + area_.left, r.top + area_.top, r.right + area_.left,
                                 r.bottom + area_.top});
    }
    // Guessing: the area around the mouse is where changes are likeliest.
    mergeMouseRect();
    std::copy(changeList_, changeList_ + kMaxTiles, copyList_);
}

void FrameGrabber::copyRect(const Rect& screen)
{
    Rect r = intersect(screen, area_);
    r = intersect(r, Rect{0, 0, physicalWidth_, physicalHeight_});
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    source_.copyToPicture(r, r.left - area_.left, r.top - area_.top);
    markCaptureChanged(Rect{r.left - area_.left, r.top - area_.top, r.right - area_.left, r.bottom - area_.top});
}

void FrameGrabber::queueCopy(const Rect& r, bool batch, Rect& pending, bool& hasPending)
{
    if (!batch) {
        copyRect(r);
        return;
    }
    if (!hasPending) {
        pending = r;
        hasPending = true;
        return;
    }
    // Touching (within one pixel) or overlapping rectangles share one copy.
    const bool touches = r.left <= pending.right && r.right >= pending.left && r.top <= pending.bottom &&
                         r.bottom >= pending.top;
    if (touches) {
        pending = Rect{std::min(pending.left, r.left), std::min(pending.top, r.top),
                       std::max(pending.right, r.right), std::max(pending.bottom, r.bottom)};
        return;
    }
    copyRect(pending);
    pending = r;
}

void FrameGrabber::markCaptureChanged(const Rect& rect)
{
    if (unsynced_.size() >= kMaxUnsynced) {
        unsynced_.clear();
        unsynced_.push_back(Rect{0, 0, captureWidth_, captureHeight_});
        return;
    }
    if (!unsynced_.empty() && unsynced_.front() == Rect{0, 0, captureWidth_, captureHeight_})
        return;
    unsynced_.push_back(rect);
}

int FrameGrabber::capture(bool postProcess)
{
    if (!initialised_)
        return 0;
    applyAreaMove();
    changeMagic_ = kChangeListRequested;
    collectChanges();
    if (changeMagic_ != kChangeListAnswered)
        return 0;

    const uint64_t now = clock_();
    const bool batch = compositionActive_ || source_.prefersBatchedCopies();
    Rect pending{};
    bool hasPending = false;

    if (fullRefreshDue_ || now - lastFullRefresh_ > fullRefreshInterval_) {
        fullRefreshDue_ = false;
        lastFullRefresh_ = now;
        mergeScreenRect(Rect{area_.left, area_.top, area_.right - 1, area_.bottom - 1});
        for (int i = 0; i < tileCount_; ++i) {
            Rect& e = changeList_[i];
            e = Rect{e.left - area_.left, e.top - area_.top, e.right - area_.left, e.bottom - area_.top};
        }
        pending = area_;
        hasPending = true;
    } else {
        for (int i = 0; i < tileCount_; ++i) {
            Rect& e = changeList_[i];
            if (isEmpty(e)) {
                e = Rect{};
                continue;
            }
            const Rect& c = copyList_[i];
            if (!isEmpty(c)) {
                const int32_t w = copyExtent(c.right - c.left + 1);
                const int32_t h = copyExtent(c.bottom - c.top + 1);
                queueCopy(Rect{c.left, c.top, c.left + w, c.top + h}, batch, pending, hasPending);
            }

            const Rect& t = captureTiles_[i];
            Rect a{(e.left - area_.left) & ~15, (e.top - area_.top) & ~15, (e.right - area_.left) | 7,
                   (e.bottom - area_.top) | 7};
            a = Rect{std::max(a.left, t.left), std::max(a.top, t.top), std::min(a.right, t.right),
                     std::min(a.bottom, t.bottom)};
            e = (a.top < a.bottom && a.left < a.right) ? a : Rect{};
        }
    }
    for (int i = tileCount_; i < kMaxTiles; ++i)
        changeList_[i] = Rect{};
    if (hasPending)
        copyRect(pending);

    if (postProcess) {
        scaleToOutput();
        mapAndShrink();
    }
    return 1;
}

int FrameGrabber::scaleToOutput()
{
    if (!initialised_)
        return 0;
    const PixelView pic = source_.picture();
    if (!pic.bits)
        return 0;
    int ok = 1;
    for (const Rect& r : unsynced_)
        addOutputChange(r);
    if (scaler_ && scaler_->verticalOnly() && bitsPerPixel_ == 32) {
        // Columns map one to one: only the written rectangles' own columns,
        // in the rows they reach, are filtered again.
        for (const Rect& r : unsynced_)
            if (ok && r.bottom > r.top)
                ok = scaler_->scaleArea(pic, outputBits_.data(), frame_.stride, scaler_->affectedRows(r.top, r.bottom - 1),
                                        r.left, r.right);
    } else if (scaler_ && !unsynced_.empty()) {
        // Only the output rows that the written rectangles reach are scaled
        // again; nothing written means the same output, so a still screen
        // costs no scaling at all.
        BicubicScaler::RowRange ranges[kMaxUnsynced + 1];
        int count = 0;
        for (const Rect& r : unsynced_)
            if (r.bottom > r.top)
                ranges[count++] = scaler_->affectedRows(r.top, r.bottom - 1);
        std::sort(ranges, ranges + count, [](const auto& a, const auto& b) { return a.first < b.first; });
        int merged = 0;
        int64_t rows = 0;
        for (int i = 0; i < count; ++i) {
            if (merged > 0 && ranges[i].first <= ranges[merged - 1].first + ranges[merged - 1].count) {
                auto& m = ranges[merged - 1];
                m.count = std::max(m.first + m.count, ranges[i].first + ranges[i].count) - m.first;
            } else {
                ranges[merged++] = ranges[i];
            }
        }
        for (int i = 0; i < merged; ++i)
            rows += ranges[i].count;
        const bool whole = rows * 4 >= int64_t{height_} * 3;
        if (whole) {
            ranges[0] = BicubicScaler::RowRange{0, height_};
            merged = 1;
        }
        if (bitsPerPixel_ == 32) {
            ok = whole ? scaler_->scale(pic, outputBits_.data(), frame_.stride)
                       : scaler_->scaleRows(pic, outputBits_.data(), frame_.stride, ranges, merged);
        } else {
            for (const Rect& r : unsynced_)
                widen555(pic, r);
            const PixelView wide{wide_.data(), captureWidth_, captureHeight_, captureWidth_ * 4, 32};
            ok = scaler_->scaleRows(wide, wideOutput_.data(), width_ * 4, ranges, merged);
            for (int i = 0; i < merged; ++i)
                narrowTo555(ranges[i].first, ranges[i].count);
        }
    } else if (!scaler_) {
        const int32_t bytes = bitsPerPixel_ / 8;
        for (const Rect& r : unsynced_) {
            const Rect c = intersect(r, Rect{0, 0, width_, height_});
            if (c.right <= c.left || c.bottom <= c.top)
                continue;
            const size_t n = static_cast<size_t>(c.right - c.left) * bytes;
            for (int32_t y = c.top; y < c.bottom; ++y)
                std::memcpy(frame_.rowFromTop(y) + c.left * bytes, pic.row(y) + c.left * bytes, n);
        }
    }
    unsynced_.clear();
    return ok;
}

void FrameGrabber::addOutputChange(const Rect& r)
{
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    const Rect whole{0, 0, width_ - 1, height_ - 1};
    if (!outputChanges_.empty() && outputChanges_.front() == whole)
        return;
    Rect out{};
    if (scaler_) {
        // Rows and columns outside the filter's reach of a changed source
        // pixel come out of the scaler exactly as before, even when they are
        // computed again.
        const BicubicScaler::RowRange rows = scaler_->affectedRows(r.top, r.bottom - 1);
        const BicubicScaler::RowRange columns = scaler_->affectedColumns(r.left, r.right - 1);
        if (rows.count <= 0 || columns.count <= 0)
            return;
        out = Rect{columns.first, rows.first, columns.first + columns.count - 1, rows.first + rows.count - 1};
    } else {
        out = intersect(r, Rect{0, 0, width_, height_});
        if (out.right <= out.left || out.bottom <= out.top)
            return;
        out = Rect{out.left, out.top, out.right - 1, out.bottom - 1};
    }
    // Readers skip rectangles with right <= left (the empty tile entry), so a
    // change one column wide is widened to an even pair of columns.
    out.left &= ~1;
    out.right = std::min(out.right | 1, width_ - 1);
    if (outputChanges_.size() >= kMaxOutputChanges) {
        outputChanges_.assign(1, whole);
        return;
    }
    outputChanges_.push_back(out);
}

void FrameGrabber::widen555(const PixelView& pic, const Rect& r)
{
    const Rect c = intersect(r, Rect{0, 0, captureWidth_, captureHeight_});
    for (int32_t y = c.top; y < c.bottom; ++y) {
        const auto* in = reinterpret_cast<const uint16_t*>(pic.row(y));
        uint8_t* out = wide_.data() + static_cast<size_t>(y) * captureWidth_ * 4;
        for (int32_t x = c.left; x < c.right; ++x) {
            const uint32_t v = in[x];
            // 5 bits to 8 by repeating the top bits, so that narrowing back
            // with a shift returns the same value.
            const uint32_t b = v & 31, g = (v >> 5) & 31, red = (v >> 10) & 31;
            out[x * 4 + 0] = static_cast<uint8_t>((b << 3) | (b >> 2));
            out[x * 4 + 1] = static_cast<uint8_t>((g << 3) | (g >> 2));
            out[x * 4 + 2] = static_cast<uint8_t>((red << 3) | (red >> 2));
            out[x * 4 + 3] = 0;
        }
    }
}

void FrameGrabber::narrowTo555(int32_t firstRow, int32_t rowCount)
{
    const int32_t end = std::min(firstRow + rowCount, height_);
    for (int32_t y = std::max(firstRow, 0); y < end; ++y) {
        // Both buffers store the bottom row first.
        const size_t stored = static_cast<size_t>(height_ - 1 - y);
        const uint8_t* in = wideOutput_.data() + stored * width_ * 4;
        auto* out = reinterpret_cast<uint16_t*>(outputBits_.data() + stored * frame_.stride);
        for (int32_t x = 0; x < width_; ++x)
            out[x] = static_cast<uint16_t>(((in[x * 4 + 2] >> 3) << 10) | ((in[x * 4 + 1] >> 3) << 5) |
                                           (in[x * 4] >> 3));
    }
}

int FrameGrabber::shrinkToDifference(Rect& e) const
{
    const int32_t bytes = bitsPerPixel_ / 8;
    const uint8_t* out = outputBits_.data();
    const uint8_t* ref = referenceBits_.data();
    const int32_t stride = frame_.stride;
    // Stored rows run bottom-up: frame row y (from the top) is stored row H-1-y.
    auto outRow = [&](int32_t y) { return out + static_cast<int64_t>(height_ - 1 - y) * stride; };
    auto refRow = [&](int32_t y) { return ref + static_cast<int64_t>(height_ - 1 - y) * stride; };
    const size_t span = static_cast<size_t>(e.right - e.left + 1) * bytes;
    const int32_t off = e.left * bytes;

    int32_t top = e.top;
    while (top <= e.bottom && std::memcmp(outRow(top) + off, refRow(top) + off, span) == 0)
        ++top;
    if (top > e.bottom) {
        e = Rect{};
        return 0;
    }
    int32_t bottom = e.bottom;
    while (bottom > top && std::memcmp(outRow(bottom) + off, refRow(bottom) + off, span) == 0)
        --bottom;

    // Row by row keeps the scan in memory order; each row only needs to look
    // at the columns left of (right of) the best column found so far.
    int32_t left = e.right;
    int32_t right = e.left;
    for (int32_t y = top; y <= bottom; ++y) {
        const uint8_t* o = outRow(y);
        const uint8_t* r = refRow(y);
        for (int32_t x = e.left; x < left; ++x)
            if (std::memcmp(o + x * bytes, r + x * bytes, bytes) != 0) {
                left = x;
                break;
            }
        for (int32_t x = e.right; x > right; --x)
            if (std::memcmp(o + x * bytes, r + x * bytes, bytes) != 0) {
                right = x;
                break;
            }
    }
    // A row with a difference was found, so both ends exist; a single
    // differing column leaves left == right.
    if (left > right)
        std::swap(left, right);
    e = Rect{left, top, right, bottom};
    return 1;
}

Rect FrameGrabber::toCaptureRect(const Rect& o) const
{
    if (o == Rect{} || (captureWidth_ == width_ && captureHeight_ == height_))
        return o;
    const int64_t cw = captureWidth_;
    const int64_t ch = captureHeight_;
    Rect c{static_cast<int32_t>(o.left * cw / width_), static_cast<int32_t>(o.top * ch / height_),
           static_cast<int32_t>(((o.right + 1) * cw + width_ - 1) / width_ - 1),
           static_cast<int32_t>(((o.bottom + 1) * ch + height_ - 1) / height_ - 1)};
    c.right = std::min(c.right, captureWidth_ - 1);
    c.bottom = std::min(c.bottom, captureHeight_ - 1);
    return c;
}

int FrameGrabber::mapAndShrink()
{
    if (!initialised_)
        return 0;
    const bool scaled = scaler_ != nullptr;
    const int64_t cw = captureWidth_;
    const int64_t ch = captureHeight_;
    for (int i = 0; i < tileCount_; ++i) {
        Rect& e = changeList_[i];
        if (scaled && !(e == Rect{})) {
            e = Rect{static_cast<int32_t>((cw / 2 + e.left * int64_t{width_}) / cw),
                     static_cast<int32_t>((ch / 2 + e.top * int64_t{height_}) / ch),
                     static_cast<int32_t>((cw / 2 + e.right * int64_t{width_}) / cw),
                     static_cast<int32_t>((ch / 2 + e.bottom * int64_t{height_}) / ch)};
            // The scaler smears a change over its neighbours; look there too.
            e = Rect{e.left - kScaleSpread, e.top - kScaleSpread, e.right + kScaleSpread, e.bottom + kScaleSpread};
        }
        e = Rect{std::max(e.left, 0), std::max(e.top, 0), std::min(e.right, width_ - 1),
                 std::min(e.bottom, height_ - 1)};
        const int32_t w = e.right - e.left + 1;
        const int32_t h = e.bottom - e.top + 1;
        // A difference one pixel wide is still a change: keeping only wider
        // ones would leave a thin line out of the coded picture for good.
        const bool keep = (w > 1 && h > 1) ? shrinkToDifference(e) == 1 : w > 1;
        if (keep) {
            Rect a{e.left & ~15, e.top & ~15, std::min(e.right | 7, width_ - 1), std::min(e.bottom | 7, height_ - 1)};
            e = a.top < a.bottom ? a : Rect{};
        } else {
            e = Rect{};
        }
    }
    const int32_t bytes = bitsPerPixel_ / 8;
    for (int i = 0; i < tileCount_; ++i) {
        const Rect& e = changeList_[i];
        if (!(e == Rect{})) {
            const size_t n = static_cast<size_t>(e.right - e.left + 1) * bytes;
            for (int32_t y = e.top; y <= e.bottom; ++y) {
                const int64_t at = static_cast<int64_t>(height_ - 1 - y) * frame_.stride + e.left * bytes;
                std::memcpy(referenceBits_.data() + at, outputBits_.data() + at, n);
            }
        }
        rememberedRects_[i] = toCaptureRect(e);
    }
    return 1;
}

FrameTile FrameGrabber::tile(int i) const
{
    if (i < 0 || i >= tileCount_)
        return FrameTile{};
    return FrameTile{outputTiles_[i], changeList_[i]};
}

const ScreenFrame& FrameGrabber::frame()
{
    for (int i = 0; i < kMaxTiles; ++i)
        frame_.tiles[i] = tile(i);
    return frame_;
}

} // namespace quillet
