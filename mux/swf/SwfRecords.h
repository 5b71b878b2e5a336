#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The bit-packed records of the SWF format: RECT, MATRIX and
// CXFORMWITHALPHA, and the writer that packs fields most significant bit
// first and pads to a byte. Coordinates are twips (pixels x 20).
namespace quillet {

constexpr int32_t kTwipsPerPixel = 20;
// Pixels to twips, truncated toward zero.
inline int32_t toTwips(double pixels) { return static_cast<int32_t>(pixels * kTwipsPerPixel); }

class SwfBitWriter {
public:
    explicit SwfBitWriter(std::vector<uint8_t>& out) : out_(out) {}
    ~SwfBitWriter() { align(); }
    SwfBitWriter(const SwfBitWriter&) = delete;
    SwfBitWriter& operator=(const SwfBitWriter&) = delete;

    // The low `bits` bits of value (two's complement for signed fields).
    void put(uint32_t value, int bits);
    void putSigned(int32_t value, int bits) { put(static_cast<uint32_t>(value), bits); }
    // Pads the last byte with zero bits.
    void align();

private:
    std::vector<uint8_t>& out_;
    uint32_t pending_ = 0;
    int pendingBits_ = 0;
};

// The format's size rule for signed fields: one more than the smallest p with
// 2^p >= the largest magnitude (one bit for the sign). A magnitude that is an
// exact power of two would not fit that many bits, so it gets one more.
int swfSignedBits(uint32_t largestMagnitude);
// Bits of an unsigned field that holds v (at least 1).
int swfUnsignedBits(uint32_t v);

struct SwfRect {
    int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0; // twips

    int nbits() const;
    void write(SwfBitWriter& w) const;
    // Bytes the record takes on its own (5 + 4 x nbits bits, padded).
    size_t byteSize() const;
};

// A 2-D transform: scale and skew as 16.16 fixed point, translation in twips.
struct SwfMatrix {
    int32_t scaleX = 0, scaleY = 0;   // 0 and 0: no scale part
    int32_t skew0 = 0, skew1 = 0;     // 0 and 0: no rotate part
    int32_t translateX = 0, translateY = 0;

    void write(SwfBitWriter& w) const;
};

// Colour transform with alpha: multiply terms (factor x 256) and add terms.
struct SwfColorTransform {
    int32_t mult[4] = {256, 256, 256, 256}; // R, G, B, A
    int32_t add[4] = {0, 0, 0, 0};

    void write(SwfBitWriter& w) const;
};

} // namespace quillet
