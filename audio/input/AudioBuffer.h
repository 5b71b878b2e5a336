#pragma once
#include <cstdint>

namespace quillet {

// One capture buffer as it travels between a recorder and its consumer: the
// header a filled-buffer notification carries. The recorder owns the data
// block; the consumer reads bytesRecorded bytes from the pointer that
// AudioInput::releaseBuffer returns and then hands the buffer back with
// AudioInput::requeueBuffer.
//
// A consumer may also build headers of its own (the computer-sound clock does):
// those carry kSyntheticBufferMarker in userValue and are never given to a
// recorder.
struct AudioBuffer {
    uint8_t* data = nullptr;
    uint32_t bufferLength = 0;  // bytes in the data block
    uint32_t bytesRecorded = 0; // valid bytes; bufferLength except at a device failure
    uint32_t userValue = 0;
    // Counts the buffers a recorder has delivered since open, from 0; the
    // consumer can check it for gaps and order.
    uint64_t sequence = 0;
};

// userValue of buffers a consumer makes itself rather than a recorder.
constexpr uint32_t kSyntheticBufferMarker = 123456;

} // namespace quillet
