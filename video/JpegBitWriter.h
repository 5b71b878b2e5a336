#pragma once
#include <cstddef>
#include <cstdint>

// Collects entropy-coded bits most significant first and writes them into a
// buffer of known capacity, inserting a 0x00 after every 0xFF byte. Running
// out of room makes the writer fail for good without writing past the end.
namespace quillet {

class JpegBitWriter {
public:
    void reset(uint8_t* cursor, uint8_t* end)
    {
        cur_ = cursor;
        end_ = end;
        acc_ = 0;
        bits_ = 0;
        failed_ = false;
    }

    // Appends the low len bits of value (len <= 32, value holds no higher bits).
    void put(uint32_t value, int len)
    {
        acc_ = (acc_ << len) | value;
        bits_ += len;
        if (bits_ >= 32)
            flush32();
    }

    // Pads the last byte with 1-bits and writes every pending byte.
    // Returns 1, or 0 if the buffer ran out at any point.
    int finish()
    {
        const int pad = (8 - (bits_ & 7)) & 7;
        if (pad != 0)
            put((1u << pad) - 1, pad);
        while (bits_ >= 8) {
            bits_ -= 8;
            emit(uint8_t(acc_ >> bits_));
        }
        return failed_ ? 0 : 1;
    }

    bool ok() const { return !failed_; }
    uint8_t* cursor() const { return cur_; }
    uint8_t* end() const { return end_; }

    // For coders that keep the pending bits in registers over a stretch of
    // output they have checked for room themselves: take the state, work,
    // hand it back with the advanced cursor.
    uint64_t pendingBits() const { return acc_; }
    int pendingCount() const { return bits_; }
    void resume(uint8_t* cursor, uint64_t acc, int bits)
    {
        cur_ = cursor;
        acc_ = acc;
        bits_ = bits;
    }
    void fail() { failed_ = true; }

private:
    void flush32()
    {
        bits_ -= 32;
        const uint32_t w = uint32_t(acc_ >> bits_);
        // A byte of 0xFF in w shows up as a zero byte in ~w.
        const uint32_t inv = ~w;
        const bool hasFF = ((inv - 0x01010101u) & ~inv & 0x80808080u) != 0;
        if (!hasFF && !failed_ && end_ - cur_ >= 4) {
            cur_[0] = uint8_t(w >> 24);
            cur_[1] = uint8_t(w >> 16);
            cur_[2] = uint8_t(w >> 8);
            cur_[3] = uint8_t(w);
            cur_ += 4;
            return;
        }
        emit(uint8_t(w >> 24));
        emit(uint8_t(w >> 16));
        emit(uint8_t(w >> 8));
        emit(uint8_t(w));
    }

    void emit(uint8_t b)
    {
        if (failed_ || cur_ >= end_) {
            failed_ = true;
            return;
        }
        *cur_++ = b;
        if (b == 0xFF) {
            if (cur_ >= end_) {
                failed_ = true;
                return;
            }
            *cur_++ = 0;
        }
    }

    uint8_t* cur_ = nullptr;
    uint8_t* end_ = nullptr;
    uint64_t acc_ = 0;
    int bits_ = 0;
    bool failed_ = false;
};

} // namespace quillet
