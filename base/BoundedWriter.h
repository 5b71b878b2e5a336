#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/ByteOrder.h"

namespace quillet {

// Appends bytes to a caller-owned buffer of known capacity. A write that would
// pass the end writes nothing and makes the writer fail for good (sticky), so a
// serialiser can write a whole record and check ok() once at the end.
class BoundedWriter {
public:
    BoundedWriter(uint8_t* buf, size_t capacity) : buf_(buf), cap_(capacity) {}

    bool ok() const { return !failed_; }
    size_t size() const { return pos_; }
    size_t capacity() const { return cap_; }
    size_t remaining() const { return cap_ - pos_; }
    uint8_t* data() { return buf_; }
    // Pointer to the next byte; valid for remaining() bytes.
    uint8_t* cursor() { return buf_ + pos_; }

    // Reserves n bytes and returns where they start, or nullptr (and fails).
    uint8_t* take(size_t n)
    {
        if (failed_ || n > cap_ - pos_) {
            failed_ = true;
            return nullptr;
        }
        uint8_t* p = buf_ + pos_;
        pos_ += n;
        return p;
    }
    void u8(uint32_t v) { if (uint8_t* p = take(1)) *p = uint8_t(v); }
    void be16(uint32_t v) { if (uint8_t* p = take(2)) putBE16(p, v); }
    void be24(uint32_t v) { if (uint8_t* p = take(3)) putBE24(p, v); }
    void be32(uint32_t v) { if (uint8_t* p = take(4)) putBE32(p, v); }
    void be64(uint64_t v) { if (uint8_t* p = take(8)) putBE64(p, v); }
    void le16(uint32_t v) { if (uint8_t* p = take(2)) putLE16(p, v); }
    void le32(uint32_t v) { if (uint8_t* p = take(4)) putLE32(p, v); }
    void bytes(const void* src, size_t n)
    {
        if (n == 0)
            return;
        if (uint8_t* p = take(n))
            std::memcpy(p, src, n);
    }
    void fill(uint8_t value, size_t n) { if (uint8_t* p = take(n)) std::memset(p, value, n); }

    // Overwrites already written bytes (size fields known only later).
    void patchBE32(size_t at, uint32_t v) { if (at + 4 <= pos_) putBE32(buf_ + at, v); }
    void patchBE24(size_t at, uint32_t v) { if (at + 3 <= pos_) putBE24(buf_ + at, v); }

private:
    uint8_t* buf_;
    size_t cap_;
    size_t pos_ = 0;
    bool failed_ = false;
};

} // namespace quillet
