#include "capture/CursorOverlay.h"

#include <algorithm>
#include <cstring>

#include "capture/FrameGrabber.h"
#include "capture/LzoCompress.h"

namespace quillet {

namespace {

constexpr uint8_t kKeyB = CursorOverlay::kKeyRgb & 0xFF;
constexpr uint8_t kKeyG = (CursorOverlay::kKeyRgb >> 8) & 0xFF;
constexpr uint8_t kKeyR = (CursorOverlay::kKeyRgb >> 16) & 0xFF;

void putKey(uint8_t* p)
{
    p[0] = kKeyB;
    p[1] = kKeyG;
    p[2] = kKeyR;
    p[3] = 0;
}

bool isKey(const uint8_t* p) { return p[0] == kKeyB && p[1] == kKeyG && p[2] == kKeyR; }

// Pixel (x, y counted from the top) of a bottom-up 32 × 32 picture.
uint8_t* at(uint8_t* picture, int32_t x, int32_t y)
{
    return picture + ((CursorOverlay::kSide - 1 - y) * CursorOverlay::kSide + x) * 4;
}
const uint8_t* at(const uint8_t* picture, int32_t x, int32_t y)
{
    return picture + ((CursorOverlay::kSide - 1 - y) * CursorOverlay::kSide + x) * 4;
}

// Premultiplied source over an 8-bit destination channel.
uint8_t over(uint32_t src, uint32_t alpha, uint32_t dst)
{
    return static_cast<uint8_t>(std::min<uint32_t>(255, src + (dst * (255 - alpha) + 127) / 255));
}

} // namespace

CursorOverlay::CursorOverlay(ScreenSource& source) : source_(source)
{
    for (int i = 0; i < kSide * kSide; ++i)
        putKey(picture_ + i * 4);
}

void CursorOverlay::setScale(int32_t num, int32_t den)
{
    if (num <= 0 || den <= 0) {
        num = 1;
        den = 1;
    }
    scaleNum_ = num;
    scaleDen_ = den;
}

void CursorOverlay::setArea(const Rect& area) { area_ = area; }

void CursorOverlay::resetPosition()
{
    x_ = 0;
    y_ = 0;
    lastCursor_ = 0;
}

void CursorOverlay::loadShape(uint64_t cursor)
{
    if (cursor == shapeSerial_)
        return;
    CursorImage image;
    std::fill(std::begin(shape_), std::end(shape_), 0u);
    hotX_ = 0;
    hotY_ = 0;
    shapeSerial_ = cursor;
    if (!source_.cursorImage(image) || image.width <= 0 || image.height <= 0 ||
        image.argb.size() < static_cast<size_t>(image.width) * image.height)
        return;
    // Shapes larger than the picture are cut to the 32 × 32 window around the
    // hot spot, so the part that points stays visible.
    const int32_t x0 = std::clamp(image.hotX - kSide / 2, 0, std::max(0, image.width - kSide));
    const int32_t y0 = std::clamp(image.hotY - kSide / 2, 0, std::max(0, image.height - kSide));
    for (int32_t y = 0; y < kSide && y0 + y < image.height; ++y)
        for (int32_t x = 0; x < kSide && x0 + x < image.width; ++x)
            shape_[y * kSide + x] = image.argb[static_cast<size_t>(y0 + y) * image.width + x0 + x];
    hotX_ = image.hotX - x0;
    hotY_ = image.hotY - y0;
}

void CursorOverlay::computePosition(int32_t& outX, int32_t& outY) const
{
    int32_t px = 0;
    int32_t py = 0;
    source_.pointerPosition(px, py);
    px -= hotX_;
    py -= hotY_;
    if (!(area_ == Rect{})) {
        // Outside the area the cursor is parked at the far edge, where at most
        // one column or row of it shows.
        if (px >= area_.right)
            px = area_.right - 1;
        px -= area_.left;
        if (px < 0)
            px = area_.right - area_.left - 1;
        if (py >= area_.bottom)
            py = area_.bottom - 1;
        py -= area_.top;
        if (py < 0)
            py = area_.bottom - area_.top - 1;
    }
    px = std::max(px, 0);
    py = std::max(py, 0);
    outX = static_cast<int32_t>(int64_t{px} * scaleNum_ / scaleDen_);
    outY = static_cast<int32_t>(int64_t{py} * scaleNum_ / scaleDen_);
}

int CursorOverlay::updateForBurnIn(uint64_t cursor)
{
    if (cursor == 0)
        cursor = shapeSerial_;
    loadShape(cursor);
    int32_t nx = 0;
    int32_t ny = 0;
    computePosition(nx, ny);
    const bool moved = nx != x_ || ny != y_;
    x_ = nx;
    y_ = ny;
    return moved ? 1 : 0;
}

void CursorOverlay::renderPicture()
{
    // Covered pixels show the cursor over white (so inverting or translucent
    // parts read against a light ground); uncovered ones keep the key colour.
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x) {
            const uint32_t s = shape_[y * kSide + x];
            const uint32_t a = s >> 24;
            uint8_t* p = at(picture_, x, y);
            if (a == 0) {
                putKey(p);
                continue;
            }
            p[0] = over(s & 0xFF, a, 255);
            p[1] = over((s >> 8) & 0xFF, a, 255);
            p[2] = over((s >> 16) & 0xFF, a, 255);
            p[3] = 0;
        }
}

void CursorOverlay::shrinkPicture()
{
    const int32_t side = static_cast<int32_t>(std::clamp<int64_t>(int64_t{kSide} * scaleNum_ / scaleDen_, 1, kSide));
    if (side == kSide)
        return;
    uint8_t shrunk[kPictureBytes];
    // Nearest pixel rather than a smooth filter: blending would tint the edges
    // with the key colour.
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x) {
            uint8_t* d = at(shrunk, x, y);
            if (x >= side || y >= side) {
                putKey(d);
                continue;
            }
            std::memcpy(d, at(picture_, x * kSide / side, y * kSide / side), 4);
        }
    std::memcpy(picture_, shrunk, sizeof shrunk);
}

int CursorOverlay::changed(uint64_t cursor)
{
    if (cursor == 0)
        cursor = lastCursor_ ? lastCursor_ : shapeSerial_;
    loadShape(cursor);
    int32_t nx = 0;
    int32_t ny = 0;
    computePosition(nx, ny);
    // A shape never known (the source cannot read cursors) is not a new shape
    // every frame: only the position travels.
    if (cursor == lastCursor_) {
        if (nx == x_ && ny == y_)
            return 0;
        pictureSize_ = 0;
    } else {
        lastCursor_ = cursor;
        pictureSize_ = kPictureBytes;
        renderPicture();
        if (scaleNum_ != scaleDen_)
            shrinkPicture();
    }
    x_ = nx;
    y_ = ny;
    return 1;
}

int CursorOverlay::compressedPicture(std::vector<uint8_t>& out) const
{
    return lzo1x1Compress(picture_, kPictureBytes, out);
}

int CursorOverlay::burnIn(FrameGrabber& grabber)
{
    const PixelView pic = grabber.capturePicture();
    saved_ = Rect{};
    if (!pic.bits)
        return 0;
    const Rect r{std::max(x_, 0), std::max(y_, 0), std::min(x_ + kSide, pic.width), std::min(y_ + kSide, pic.height)};
    if (r.right <= r.left || r.bottom <= r.top)
        return 1; // parked outside the picture: nothing to draw
    const int32_t bytes = pic.bytesPerPixel();
    const size_t rowBytes = static_cast<size_t>(r.right - r.left) * bytes;
    background_.resize(rowBytes * (r.bottom - r.top));
    for (int32_t y = r.top; y < r.bottom; ++y)
        std::memcpy(background_.data() + (y - r.top) * rowBytes, pic.row(y) + r.left * bytes, rowBytes);
    saved_ = r;

    for (int32_t y = r.top; y < r.bottom; ++y) {
        uint8_t* row = pic.row(y);
        for (int32_t x = r.left; x < r.right; ++x) {
            const uint32_t s = shape_[(y - y_) * kSide + (x - x_)];
            const uint32_t a = s >> 24;
            if (a == 0 && (s & 0xFFFFFF) == 0)
                continue;
            const uint32_t sb = s & 0xFF, sg = (s >> 8) & 0xFF, sr = (s >> 16) & 0xFF;
            if (bytes == 4) {
                uint8_t* p = row + x * 4;
                p[0] = over(sb, a, p[0]);
                p[1] = over(sg, a, p[1]);
                p[2] = over(sr, a, p[2]);
            } else {
                uint16_t v;
                std::memcpy(&v, row + x * 2, 2);
                // 5-bit channels widened to 8 bits and back.
                auto widen = [](uint32_t c5) { return (c5 << 3) | (c5 >> 2); };
                const uint32_t b = over(sb, a, widen(v & 31));
                const uint32_t g = over(sg, a, widen((v >> 5) & 31));
                const uint32_t rr = over(sr, a, widen((v >> 10) & 31));
                v = static_cast<uint16_t>(((rr >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
                std::memcpy(row + x * 2, &v, 2);
            }
        }
    }
    grabber.markCaptureChanged(r);
    return 1;
}

int CursorOverlay::restore(FrameGrabber& grabber)
{
    const PixelView pic = grabber.capturePicture();
    const Rect r = saved_;
    saved_ = Rect{};
    if (!pic.bits || r.right <= r.left || r.bottom <= r.top || r.right > pic.width || r.bottom > pic.height)
        return 0;
    const int32_t bytes = pic.bytesPerPixel();
    const size_t rowBytes = static_cast<size_t>(r.right - r.left) * bytes;
    for (int32_t y = r.top; y < r.bottom; ++y)
        std::memcpy(pic.row(y) + r.left * bytes, background_.data() + (y - r.top) * rowBytes, rowBytes);
    grabber.markCaptureChanged(r);
    return 1;
}

void arrowCursorPicture(uint8_t picture[CursorOverlay::kPictureBytes])
{
    // The classic arrow: 'X' black outline, '.' white fill, ' ' transparent.
    static const char* const kArrow[] = {
        "X",          "XX",          "X.X",         "X..X",       "X...X",     "X....X",   "X.....X",
        "X......X",   "X.......X",   "X........X",  "X.....XXXXX", "X..X..X",  "X.X X..X", "XX  X..X",
        "X    X..X",  "     X..X",   "      X..X",  "      X..X", "       XX",
    };
    for (int32_t y = 0; y < CursorOverlay::kSide; ++y)
        for (int32_t x = 0; x < CursorOverlay::kSide; ++x)
            putKey(at(picture, x, y));
    int32_t y = 0;
    for (const char* line : kArrow) {
        for (int32_t x = 0; line[x] != '\0'; ++x) {
            uint8_t* p = at(picture, x, y);
            if (line[x] == 'X') {
                p[0] = p[1] = p[2] = 0;
                p[3] = 0;
            } else if (line[x] == '.') {
                p[0] = p[1] = p[2] = 255;
                p[3] = 0;
            }
        }
        ++y;
    }
}

void swfCursorPicture(const uint8_t picture[CursorOverlay::kPictureBytes], std::vector<uint8_t>& argb)
{
    argb.assign(CursorOverlay::kPictureBytes, 0);
    for (int32_t y = 0; y < CursorOverlay::kSide; ++y)
        for (int32_t x = 0; x < CursorOverlay::kSide; ++x) {
            const uint8_t* p = at(picture, x, y);
            uint8_t* d = argb.data() + (y * CursorOverlay::kSide + x) * 4;
            if (isKey(p))
                continue; // transparent: alpha and colour 0
            d[0] = 255;
            d[1] = p[2];
            d[2] = p[1];
            d[3] = p[0];
        }
}

} // namespace quillet
