#pragma once
#include <cstdint>

namespace quillet {

// One coded picture for the MP4 writer: a 4-byte big-endian length followed by
// the H.264 access unit.
struct EncodedVideoPacket {
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    uint32_t durationMs = 0; // since the previous packet
    bool keyFrame = false;
};

// One AAC frame (without its ADTS header) for the MP4 writer.
struct EncodedAudioPacket {
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    uint32_t durationMs = 0;
};

} // namespace quillet
