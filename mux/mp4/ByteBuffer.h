#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace quillet {

// An owned byte array that grows on request and reports allocation failure
// through its result instead of throwing. Contents are kept across growth.
class ByteBuffer {
public:
    ByteBuffer() = default;
    ~ByteBuffer() { std::free(data_); }
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Makes room for at least n bytes, growing by half again to keep repeated
    // growth rare. Returns 1, or 0 (buffer unchanged) when memory is short.
    int reserve(size_t n)
    {
        if (n <= cap_)
            return 1;
        size_t want = cap_ + cap_ / 2;
        if (want < n)
            want = n;
        void* p = std::realloc(data_, want);
        if (!p) {
            p = std::realloc(data_, n);
            if (!p)
                return 0;
            want = n;
        }
        data_ = static_cast<uint8_t*>(p);
        cap_ = want;
        return 1;
    }
    void release()
    {
        std::free(data_);
        data_ = nullptr;
        cap_ = 0;
    }
    void swap(ByteBuffer& other)
    {
        uint8_t* d = data_;
        size_t c = cap_;
        data_ = other.data_;
        cap_ = other.cap_;
        other.data_ = d;
        other.cap_ = c;
    }

    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t capacity() const { return cap_; }

private:
    uint8_t* data_ = nullptr;
    size_t cap_ = 0;
};

} // namespace quillet
