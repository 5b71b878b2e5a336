#pragma once
#include <cstddef>
#include <cstdint>

#include <zlib.h>

// The screen codec's zlib stream, which runs from one key frame to the next
// with a sync flush after every region. The deflating side can take back a
// region that did not fit its output; the inflating side reports where bad
// data starts.
namespace quillet::screen {

class RegionDeflater {
public:
    RegionDeflater() = default;
    ~RegionDeflater();
    RegionDeflater(const RegionDeflater&) = delete;
    RegionDeflater& operator=(const RegionDeflater&) = delete;

    // Starts a fresh stream (level -1, window bits 15, memory level 9,
    // default strategy). Returns 1 or 0.
    int restart();
    // Deflates in[0 .. n) with a sync flush into out[0 .. capacity). Returns
    // the bytes written, or 0 when they did not fit or zlib failed; the
    // stream is then as it was before the call.
    size_t deflate_region(const uint8_t* in, size_t n, uint8_t* out, size_t capacity);
    // Output that always suffices for n input bytes.
    static size_t bound(size_t n);

private:
    z_stream* live_ = nullptr;
    z_stream* spare_ = nullptr; // a copy of live_ taken before a call that might not fit
};

class RegionInflater {
public:
    RegionInflater() = default;
    ~RegionInflater();
    RegionInflater(const RegionInflater&) = delete;
    RegionInflater& operator=(const RegionInflater&) = delete;

    int restart();
    // Inflates all of in[0 .. n) into out[0 .. capacity). Returns 1 and the
    // length in *produced, or 0 with reason() and, in *failed_at, the input
    // offset where the problem showed.
    int inflate_region(const uint8_t* in, size_t n, uint8_t* out, size_t capacity, size_t* produced,
                       size_t* failed_at);
    const char* reason() const { return reason_; }

private:
    z_stream* z_ = nullptr;
    bool ended_ = false; // the stream carried its end marker
    const char* reason_ = nullptr;
};

} // namespace quillet::screen
