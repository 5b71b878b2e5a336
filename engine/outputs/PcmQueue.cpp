#include "engine/outputs/PcmQueue.h"

#include <algorithm>
#include <cstring>

namespace quillet {

void PcmQueue::reset(size_t capacityBytes)
{
    ring_.assign(capacityBytes, 0);
    head_ = size_ = 0;
    dropped_ = 0;
}

int PcmQueue::put(const uint8_t* data, size_t bytes)
{
    // After a drop nothing is queued behind the gap until the reader has
    // taken what came before it.
    if (dropped_ > 0 || bytes > ring_.size() - size_) {
        dropped_ += bytes;
        return 0;
    }
    size_t tail = (head_ + size_) % (ring_.empty() ? 1 : ring_.size());
    const size_t first = std::min(bytes, ring_.size() - tail);
    std::memcpy(ring_.data() + tail, data, first);
    std::memcpy(ring_.data(), data + first, bytes - first);
    size_ += bytes;
    return 1;
}

size_t PcmQueue::take(uint8_t* out, size_t maxBytes)
{
    const size_t n = std::min(maxBytes, size_);
    const size_t first = std::min(n, ring_.size() - head_);
    std::memcpy(out, ring_.data() + head_, first);
    std::memcpy(out + first, ring_.data(), n - first);
    head_ = n == size_ ? 0 : (head_ + n) % ring_.size();
    size_ -= n;
    return n;
}

uint64_t PcmQueue::takeDropped()
{
    if (size_ > 0)
        return 0;
    const uint64_t d = dropped_;
    dropped_ = 0;
    return d;
}

} // namespace quillet
