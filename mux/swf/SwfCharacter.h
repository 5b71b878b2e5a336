#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mux/swf/SwfRecords.h"

// Characters of an SWF recording: bitmaps and the rectangle shapes that draw
// them. Each serialises itself into its complete definition tag.
namespace quillet {

// Tag codes the recorder writes.
enum SwfTagCode : uint16_t {
    kSwfTagEnd = 0,
    kSwfTagShowFrame = 1,
    kSwfTagSetBackgroundColor = 9,
    kSwfTagSoundStreamBlock = 19,
    kSwfTagDefineBitsLossless = 20,
    kSwfTagDefineBitsJpeg2 = 21,
    kSwfTagPlaceObject2 = 26,
    kSwfTagRemoveObject2 = 28,
    kSwfTagDefineShape3 = 32,
    kSwfTagDefineBitsLossless2 = 36,
    kSwfTagSoundStreamHead2 = 45,
    kSwfTagFileAttributes = 69,
};

// Appends a tag header: the short form for lengths below 63, else (or when
// forced) the long form with a 32-bit length.
void appendSwfTagHeader(std::vector<uint8_t>& out, uint16_t code, uint32_t length, bool forceLong);
void appendLE16(std::vector<uint8_t>& out, uint32_t v);
void appendLE32(std::vector<uint8_t>& out, uint32_t v);

class SwfCharacter {
public:
    // The kinds the placement code knows; the recorder makes shapes and bitmaps.
    enum Type : int { kShape = 0, kMorphShape = 1, kBitmap = 2, kButton = 3, kSprite = 4 };

    virtual ~SwfCharacter() = default;
    // The complete definition tag.
    virtual const uint8_t* data() = 0;
    virtual size_t length() = 0;

    Type type() const { return type_; }
    uint16_t id() const { return id_; }
    const SwfMatrix& matrix() const { return matrix_; }

protected:
    SwfCharacter(Type type, uint16_t id) : type_(type), id_(id) {}
    Type type_;
    uint16_t id_;
    SwfMatrix matrix_;
};

// A bitmap definition: DefineBitsJPEG2 around a complete JPEG file, or
// DefineBitsLossless / DefineBitsLossless2 around zlib-compressed pixels.
// Defined but never placed itself.
class SwfBitmap final : public SwfCharacter {
public:
    // Format byte of 32-bit pixels in the lossless tags.
    static constexpr uint8_t kFormat32Bit = 5;

    // tagCode 21: image is a JPEG file (its SOI included); format, width and
    // height are not stored. tagCode 20 or 36: image is the zlib data.
    SwfBitmap(uint16_t id, const uint8_t* image, size_t imageLength, uint16_t tagCode, uint8_t format,
              uint16_t width, uint16_t height);

    const uint8_t* data() override { return tag_.data(); }
    size_t length() override { return tag_.size(); }
    uint16_t width() const { return width_; }
    uint16_t height() const { return height_; }

private:
    std::vector<uint8_t> tag_;
    uint16_t width_, height_;
};

// A DefineShape3 built from styles and records; the recorder draws
// rectangles with a bitmap fill and lines of one pixel.
class SwfShape final : public SwfCharacter {
public:
    static constexpr uint8_t kFillSolid = 0x00;
    static constexpr uint8_t kFillRepeatingBitmap = 0x40;
    static constexpr uint8_t kFillClippedBitmap = 0x41;

    // Bounds in pixels; depth is where the recorder places it.
    SwfShape(uint16_t id, int32_t xMin, int32_t yMin, int32_t xMax, int32_t yMax, uint16_t depth);

    // A bitmap fill whose matrix maps the bitmap's source rectangle (pixels)
    // onto the target rectangle (pixels): scale = target twips / source
    // pixels, so 20 draws it at its own size; the translation puts the
    // bitmap's origin at the target's top-left corner.
    void addBitmapFill(uint16_t bitmapId, uint8_t kind, int32_t srcWidth, int32_t srcHeight, int32_t dstX,
                       int32_t dstY, int32_t dstWidth, int32_t dstHeight);
    // A solid fill in 0xRRGGBBAA.
    void addSolidFill(uint32_t rgba);
    // A line style: width in pixels, colour 0xRRGGBBAA.
    void addLineStyle(int32_t widthPixels, uint32_t rgba);
    // Starts the outline at (x, y) pixels with fill style `fill` and line
    // style `line` (1-based indices, 0 for none).
    void startOutline(int fill, int line, int32_t x, int32_t y);
    // A straight edge by (dx, dy) pixels.
    void addEdge(int32_t dx, int32_t dy);
    // Where the shape is placed (pixels).
    void setTranslation(int32_t x, int32_t y);

    uint16_t depth() const { return depth_; }
    const uint8_t* data() override;
    size_t length() override;

private:
    struct Fill {
        uint8_t kind;
        uint32_t rgba;
        uint16_t bitmapId;
        SwfMatrix matrix;
    };
    struct Line {
        uint16_t widthTwips;
        uint32_t rgba;
    };
    struct Record {
        bool edge;
        int fill, line;  // style change
        int32_t x, y;    // move-to (style change) or delta (edge), twips
    };
    void build();

    SwfRect bounds_;
    uint16_t depth_;
    std::vector<Fill> fills_;
    std::vector<Line> lines_;
    std::vector<Record> records_;
    std::vector<uint8_t> tag_;
    bool built_ = false;
};

} // namespace quillet
