#include "video/screen/RegionZlib.h"

#include <new>

namespace quillet::screen {

namespace {

void endDeflate(z_stream*& z)
{
    if (z != nullptr) {
        deflateEnd(z);
        delete z;
        z = nullptr;
    }
}

// zlib counts in 32 bits.
constexpr size_t kMaxChunk = 0x7FFFFFFFu;

} // namespace

RegionDeflater::~RegionDeflater()
{
    endDeflate(live_);
    endDeflate(spare_);
}

int RegionDeflater::restart()
{
    endDeflate(spare_);
    if (live_ != nullptr)
        return deflateReset(live_) == Z_OK ? 1 : 0;
    live_ = new (std::nothrow) z_stream{};
    if (live_ == nullptr)
        return 0;
    if (deflateInit2(live_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete live_;
        live_ = nullptr;
        return 0;
    }
    return 1;
}

size_t RegionDeflater::bound(size_t n)
{
    // zlib's conservative bound for one call, plus the stream header and the
    // empty stored block a sync flush ends with.
    return n + ((n + 7) >> 3) + ((n + 63) >> 6) + 5 + 6 + 16;
}

size_t RegionDeflater::deflate_region(const uint8_t* in, size_t n, uint8_t* out, size_t capacity)
{
    if (live_ == nullptr || n > kMaxChunk)
        return 0;
    if (capacity > kMaxChunk)
        capacity = kMaxChunk;
    // Only a call that might not fit needs a copy to return to.
    const bool mayFail = capacity < bound(n);
    if (mayFail) {
        endDeflate(spare_);
        spare_ = new (std::nothrow) z_stream{};
        if (spare_ == nullptr || deflateCopy(spare_, live_) != Z_OK) {
            delete spare_;
            spare_ = nullptr;
            return 0;
        }
    }
    const uLong before = live_->total_out;
    live_->next_in = const_cast<Bytef*>(in);
    live_->avail_in = uInt(n);
    live_->next_out = out;
    live_->avail_out = uInt(capacity);
    const int rc = deflate(live_, Z_SYNC_FLUSH);
    // With output space left over, zlib has written everything the flush owes.
    const bool ok = (rc == Z_OK || rc == Z_BUF_ERROR) && live_->avail_in == 0 && live_->avail_out > 0;
    const size_t written = size_t(live_->total_out - before);
    live_->next_in = nullptr;
    live_->next_out = nullptr;
    if (ok) {
        endDeflate(spare_);
        return written;
    }
    if (mayFail) {
        endDeflate(live_);
        live_ = spare_;
        spare_ = nullptr;
    } else {
        // Cannot happen with a bound-sized output; the stream is unusable.
        endDeflate(live_);
    }
    return 0;
}

RegionInflater::~RegionInflater()
{
    if (z_ != nullptr) {
        inflateEnd(z_);
        delete z_;
    }
}

int RegionInflater::restart()
{
    ended_ = false;
    reason_ = nullptr;
    if (z_ != nullptr)
        return inflateReset(z_) == Z_OK ? 1 : 0;
    z_ = new (std::nothrow) z_stream{};
    if (z_ == nullptr)
        return 0;
    if (inflateInit2(z_, 15) != Z_OK) {
        delete z_;
        z_ = nullptr;
        return 0;
    }
    return 1;
}

int RegionInflater::inflate_region(const uint8_t* in, size_t n, uint8_t* out, size_t capacity, size_t* produced,
                                   size_t* failed_at)
{
    *produced = 0;
    *failed_at = 0;
    reason_ = nullptr;
    if (z_ == nullptr) {
        reason_ = "the zlib stream could not be set up";
        return 0;
    }
    if (n > kMaxChunk || capacity > kMaxChunk) {
        reason_ = "the region is too large";
        return 0;
    }
    if (ended_) {
        reason_ = "the zlib stream ended in an earlier region";
        return 0;
    }
    z_->next_in = const_cast<Bytef*>(in);
    z_->avail_in = uInt(n);
    z_->next_out = out;
    z_->avail_out = uInt(capacity);
    while (z_->avail_in > 0) {
        const int rc = inflate(z_, Z_SYNC_FLUSH);
        if (rc == Z_STREAM_END) {
            ended_ = true;
            if (z_->avail_in > 0) {
                reason_ = "data follows the end of the zlib stream";
                break;
            }
            break;
        }
        if (rc == Z_OK)
            continue;
        if (rc == Z_BUF_ERROR && z_->avail_out == 0)
            reason_ = "the block stream is longer than its region allows";
        else if (rc == Z_NEED_DICT)
            reason_ = "the zlib stream asks for a dictionary";
        else if (rc == Z_MEM_ERROR)
            reason_ = "out of memory while inflating";
        else
            reason_ = "bad zlib data";
        break;
    }
    *failed_at = n - z_->avail_in;
    *produced = size_t(z_->next_out - out);
    if (reason_ == nullptr && z_->avail_out == 0 && !ended_) {
        // A full output may hide more data behind it: ask for one more byte.
        uint8_t probe = 0;
        z_->next_out = &probe;
        z_->avail_out = 1;
        const int rc = inflate(z_, Z_SYNC_FLUSH);
        if (rc != Z_BUF_ERROR || z_->avail_out == 0)
            reason_ = "the block stream is longer than its region allows";
    }
    z_->next_in = nullptr;
    z_->next_out = nullptr;
    return reason_ == nullptr ? 1 : 0;
}

} // namespace quillet::screen
