#pragma once
#include <cstddef>
#include <cstdint>

#include <zlib.h>

// A zlib deflate stream that ends itself. Set up with the parameters every
// coder here uses: default level, deflate method, 32 KiB window, memory
// level 9, default strategy.
namespace quillet {

class DeflateStream {
public:
    DeflateStream() = default;
    ~DeflateStream() { end(); }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    // Opens the stream, or resets it when already open. Returns 1 or 0.
    int open()
    {
        if (open_)
            return deflateReset(&z_) == Z_OK ? 1 : 0;
        z_ = z_stream{};
        open_ = deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) == Z_OK;
        return open_ ? 1 : 0;
    }
    void end()
    {
        if (open_)
            deflateEnd(&z_);
        open_ = false;
    }
    bool isOpen() const { return open_; }

    void setOutput(uint8_t* out, size_t capacity)
    {
        z_.next_out = out;
        // zlib counts in 32 bits; a larger buffer is simply not used beyond that.
        z_.avail_out = capacity > 0xFFFFFFFFu ? 0xFFFFFFFFu : uInt(capacity);
    }

    // Feeds n bytes with the given flush mode. Returns 1 when zlib accepted
    // all of them and, for Z_FINISH, ended the stream; 0 when it failed or the
    // output space ran out.
    int feed(const uint8_t* data, size_t n, int flush)
    {
        if (!open_ || n > 0xFFFFFFFFu)
            return 0;
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = uInt(n);
        const int rc = deflate(&z_, flush);
        if (flush == Z_FINISH)
            return rc == Z_STREAM_END ? 1 : 0;
        // A full output buffer may hold back part of a flush: count it as out of room.
        return (rc == Z_OK || rc == Z_BUF_ERROR) && z_.avail_in == 0 && z_.avail_out > 0 ? 1 : 0;
    }

    uLong totalOut() const { return z_.total_out; }

private:
    z_stream z_{};
    bool open_ = false;
};

} // namespace quillet
