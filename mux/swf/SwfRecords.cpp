#include "mux/swf/SwfRecords.h"

#include <algorithm>
#include <cstdlib>

namespace quillet {
namespace {

uint32_t magnitude(int32_t v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); }

// The smallest p with 2^p >= v.
int ceilLog2(uint32_t v)
{
    int p = 0;
    while (p < 32 && (uint64_t{1} << p) < v)
        ++p;
    return p;
}

// 16.16 fixed point: the integer part's magnitude.
uint32_t integerPart(int32_t fixed) { return magnitude(fixed) >> 16; }

// Signed bits that hold every value: the format's rule with base `extra`
// (bits for the fraction), widened when a value would not fit.
int fieldBits(int extra, uint32_t ruleMagnitude, std::initializer_list<int32_t> values)
{
    int bits = extra + ceilLog2(ruleMagnitude);
    for (int32_t v : values)
        while (bits < 32 && (v >= (int64_t{1} << (bits - 1)) || v < -(int64_t{1} << (bits - 1))))
            ++bits;
    return bits;
}

} // namespace

void SwfBitWriter::put(uint32_t value, int bits)
{
    for (int i = bits - 1; i >= 0; --i) {
        pending_ = (pending_ << 1) | ((value >> i) & 1u);
        if (++pendingBits_ == 8) {
            out_.push_back(static_cast<uint8_t>(pending_));
            pending_ = 0;
            pendingBits_ = 0;
        }
    }
}

void SwfBitWriter::align()
{
    if (pendingBits_ == 0)
        return;
    out_.push_back(static_cast<uint8_t>(pending_ << (8 - pendingBits_)));
    pending_ = 0;
    pendingBits_ = 0;
}

int swfSignedBits(uint32_t largestMagnitude)
{
    const int p = ceilLog2(largestMagnitude);
    const bool exactPower = largestMagnitude != 0 && (largestMagnitude & (largestMagnitude - 1)) == 0;
    return std::min(32, p + 1 + (exactPower ? 1 : 0));
}

int swfUnsignedBits(uint32_t v)
{
    int bits = 1;
    while (bits < 32 && (v >> bits) != 0)
        ++bits;
    return bits;
}

int SwfRect::nbits() const
{
    const uint32_t m = std::max({magnitude(xMin), magnitude(xMax), magnitude(yMin), magnitude(yMax)});
    return swfSignedBits(m);
}

void SwfRect::write(SwfBitWriter& w) const
{
    const int n = nbits();
    w.put(static_cast<uint32_t>(n), 5);
    w.putSigned(xMin, n);
    w.putSigned(xMax, n);
    w.putSigned(yMin, n);
    w.putSigned(yMax, n);
    w.align();
}

size_t SwfRect::byteSize() const { return (5 + 4 * static_cast<size_t>(nbits()) + 7) / 8; }

// A flag, then (when either value is non-zero) a pair of 16.16 values with
// their bit count: the scale and the rotate part of a MATRIX.
static void writeFixedPair(SwfBitWriter& w, int32_t a, int32_t b)
{
    const bool present = a != 0 || b != 0;
    w.put(present ? 1 : 0, 1);
    if (!present)
        return;
    const int n = fieldBits(17, std::max(integerPart(a), integerPart(b)), {a, b});
    w.put(static_cast<uint32_t>(n), 5);
    w.putSigned(a, n);
    w.putSigned(b, n);
}

void SwfMatrix::write(SwfBitWriter& w) const
{
    writeFixedPair(w, scaleX, scaleY);
    writeFixedPair(w, skew0, skew1);
    if (translateX == 0 && translateY == 0) {
        w.put(0, 5);
    } else {
        const int n = swfSignedBits(std::max(magnitude(translateX), magnitude(translateY)));
        w.put(static_cast<uint32_t>(n), 5);
        w.putSigned(translateX, n);
        w.putSigned(translateY, n);
    }
    w.align();
}

void SwfColorTransform::write(SwfBitWriter& w) const
{
    uint32_t largest = 0;
    for (int i = 0; i < 4; ++i)
        largest = std::max({largest, magnitude(mult[i]) >> 8, magnitude(add[i])});
    const int n = std::min(15, fieldBits(10, largest, {mult[0], mult[1], mult[2], mult[3], add[0], add[1], add[2],
                                                        add[3]}));
    w.put(1, 1); // add terms
    w.put(1, 1); // multiply terms
    w.put(static_cast<uint32_t>(n), 4);
    for (int i = 0; i < 4; ++i)
        w.putSigned(mult[i], n);
    for (int i = 0; i < 4; ++i)
        w.putSigned(add[i], n);
    w.align();
}

} // namespace quillet
