#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillet {

// Raw PCM waiting between the thread that captures sound and the video thread
// that writes it: a ring of fixed size. A block that does not fit is dropped
// whole and counted, and so is everything after it until the ring has been
// emptied, so the count always stands for sound right after what the ring
// holds and the reader can put silence of that length in its place.
//
// Not thread-safe: the recording lock guards every call.
class PcmQueue {
public:
    explicit PcmQueue(size_t capacityBytes = 0) { reset(capacityBytes); }

    // Empties the ring and gives it `capacityBytes` of room.
    void reset(size_t capacityBytes);
    // Queues a block whole, or drops it (returns 0).
    int put(const uint8_t* data, size_t bytes);
    // Takes up to maxBytes of the oldest sound into out; returns the count.
    size_t take(uint8_t* out, size_t maxBytes);
    // Once the ring is empty: the bytes dropped since it last was, which the
    // reader accounts as silence. Returns 0 while sound is still queued.
    uint64_t takeDropped();

    bool hasDropped() const { return dropped_ > 0; }
    size_t size() const { return size_; }
    size_t capacity() const { return ring_.size(); }

private:
    std::vector<uint8_t> ring_;
    size_t head_ = 0; // oldest byte
    size_t size_ = 0;
    uint64_t dropped_ = 0;
};

} // namespace quillet
