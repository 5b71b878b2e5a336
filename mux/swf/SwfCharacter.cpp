#include "mux/swf/SwfCharacter.h"

#include <algorithm>

namespace quillet {
namespace {

void appendStyleCount(std::vector<uint8_t>& out, size_t count)
{
    // From 255 styles on the count is the escape byte and a 16-bit count.
    if (count < 0xFF) {
        out.push_back(static_cast<uint8_t>(count));
    } else {
        out.push_back(0xFF);
        appendLE16(out, static_cast<uint32_t>(count));
    }
}

void appendRgba(std::vector<uint8_t>& out, uint32_t rgba)
{
    out.push_back(static_cast<uint8_t>(rgba >> 24));
    out.push_back(static_cast<uint8_t>(rgba >> 16));
    out.push_back(static_cast<uint8_t>(rgba >> 8));
    out.push_back(static_cast<uint8_t>(rgba));
}

uint32_t magnitude(int32_t v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); }

} // namespace

void appendLE16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void appendLE32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void appendSwfTagHeader(std::vector<uint8_t>& out, uint16_t code, uint32_t length, bool forceLong)
{
    if (length < 0x3F && !forceLong) {
        appendLE16(out, static_cast<uint32_t>(code) << 6 | length);
        return;
    }
    appendLE16(out, static_cast<uint32_t>(code) << 6 | 0x3F);
    appendLE32(out, length);
}

SwfBitmap::SwfBitmap(uint16_t id, const uint8_t* image, size_t imageLength, uint16_t tagCode, uint8_t format,
                     uint16_t width, uint16_t height)
    : SwfCharacter(kBitmap, id), width_(width), height_(height)
{
    if (tagCode == kSwfTagDefineBitsJpeg2) {
        // An empty encoding table (EOI, SOI) in front of the complete file.
        appendSwfTagHeader(tag_, tagCode, static_cast<uint32_t>(imageLength + 6), true);
        appendLE16(tag_, id);
        tag_.insert(tag_.end(), {0xFF, 0xD9, 0xFF, 0xD8});
    } else {
        appendSwfTagHeader(tag_, tagCode, static_cast<uint32_t>(imageLength + 7), true);
        appendLE16(tag_, id);
        tag_.push_back(format);
        appendLE16(tag_, width);
        appendLE16(tag_, height);
    }
    tag_.insert(tag_.end(), image, image + imageLength);
}

SwfShape::SwfShape(uint16_t id, int32_t xMin, int32_t yMin, int32_t xMax, int32_t yMax, uint16_t depth)
    : SwfCharacter(kShape, id), depth_(depth)
{
    bounds_ = SwfRect{xMin * kTwipsPerPixel, xMax * kTwipsPerPixel, yMin * kTwipsPerPixel, yMax * kTwipsPerPixel};
}

void SwfShape::addBitmapFill(uint16_t bitmapId, uint8_t kind, int32_t srcWidth, int32_t srcHeight, int32_t dstX,
                             int32_t dstY, int32_t dstWidth, int32_t dstHeight)
{
    Fill f{kind, 0, bitmapId, {}};
    // 16.16 fixed point of (target twips / source pixels).
    f.matrix.scaleX = srcWidth > 0 ? static_cast<int32_t>((int64_t{dstWidth} * kTwipsPerPixel << 16) / srcWidth) : 0;
    f.matrix.scaleY =
        srcHeight > 0 ? static_cast<int32_t>((int64_t{dstHeight} * kTwipsPerPixel << 16) / srcHeight) : 0;
    f.matrix.translateX = dstX * kTwipsPerPixel;
    f.matrix.translateY = dstY * kTwipsPerPixel;
    fills_.push_back(f);
    built_ = false;
}

void SwfShape::addSolidFill(uint32_t rgba)
{
    fills_.push_back(Fill{kFillSolid, rgba, 0, {}});
    built_ = false;
}

void SwfShape::addLineStyle(int32_t widthPixels, uint32_t rgba)
{
    lines_.push_back(Line{static_cast<uint16_t>(widthPixels * kTwipsPerPixel), rgba});
    built_ = false;
}

void SwfShape::startOutline(int fill, int line, int32_t x, int32_t y)
{
    records_.push_back(Record{false, fill, line, x * kTwipsPerPixel, y * kTwipsPerPixel});
    built_ = false;
}

void SwfShape::addEdge(int32_t dx, int32_t dy)
{
    records_.push_back(Record{true, 0, 0, dx * kTwipsPerPixel, dy * kTwipsPerPixel});
    built_ = false;
}

void SwfShape::setTranslation(int32_t x, int32_t y)
{
    matrix_.translateX = x * kTwipsPerPixel;
    matrix_.translateY = y * kTwipsPerPixel;
}

const uint8_t* SwfShape::data()
{
    build();
    return tag_.data();
}

size_t SwfShape::length()
{
    build();
    return tag_.size();
}

void SwfShape::build()
{
    if (built_)
        return;
    std::vector<uint8_t> body;
    appendLE16(body, id_);
    {
        SwfBitWriter w(body);
        bounds_.write(w);
    }
    appendStyleCount(body, fills_.size());
    for (const Fill& f : fills_) {
        body.push_back(f.kind);
        if (f.kind == kFillSolid) {
            appendRgba(body, f.rgba);
        } else {
            appendLE16(body, f.bitmapId);
            SwfBitWriter w(body);
            f.matrix.write(w);
        }
    }
    appendStyleCount(body, lines_.size());
    for (const Line& l : lines_) {
        appendLE16(body, l.widthTwips);
        appendRgba(body, l.rgba);
    }
    const int fillBits = fills_.empty() ? 0 : swfUnsignedBits(static_cast<uint32_t>(fills_.size()));
    const int lineBits = lines_.empty() ? 0 : swfUnsignedBits(static_cast<uint32_t>(lines_.size()));
    body.push_back(static_cast<uint8_t>(fillBits << 4 | lineBits));
    {
        SwfBitWriter w(body);
        for (const Record& r : records_) {
            if (r.edge) {
                const int n = std::max(2, swfSignedBits(std::max(magnitude(r.x), magnitude(r.y))));
                w.put(1, 1); // edge
                w.put(1, 1); // straight
                w.put(static_cast<uint32_t>(n - 2), 4);
                if (r.x != 0 && r.y != 0) {
                    w.put(1, 1); // general line
                    w.putSigned(r.x, n);
                    w.putSigned(r.y, n);
                } else {
                    w.put(0, 1);
                    const bool vertical = r.x == 0;
                    w.put(vertical ? 1 : 0, 1);
                    w.putSigned(vertical ? r.y : r.x, n);
                }
                continue;
            }
            const bool hasFill = fillBits > 0 && r.fill > 0;
            const bool hasLine = lineBits > 0 && r.line > 0;
            w.put(0, 1);                // style change
            w.put(0, 1);                // no new styles
            w.put(hasLine ? 1 : 0, 1);  // line style
            w.put(hasFill ? 1 : 0, 1);  // fill style 1
            w.put(0, 1);                // fill style 0
            w.put(1, 1);                // move to
            const int moveBits = swfSignedBits(std::max(magnitude(r.x), magnitude(r.y)));
            w.put(static_cast<uint32_t>(moveBits), 5);
            w.putSigned(r.x, moveBits);
            w.putSigned(r.y, moveBits);
            if (hasFill)
                w.put(static_cast<uint32_t>(r.fill), fillBits);
            if (hasLine)
                w.put(static_cast<uint32_t>(r.line), lineBits);
        }
        w.put(0, 6); // end of shape
    }
    tag_.clear();
    appendSwfTagHeader(tag_, kSwfTagDefineShape3, static_cast<uint32_t>(body.size()), true);
    tag_.insert(tag_.end(), body.begin(), body.end());
    built_ = true;
}

} // namespace quillet
