#pragma once
#include <cstdint>
#include <string>

#include "audio/input/WaveFormatRecord.h"

namespace quillet {

// What the computer-sound source needs from a platform: the sound the default
// output plays, handed out in packets in the device's own 16-bit format. A
// packet stays valid from takePacket until releasePacket. Calls come from one
// thread at a time.
class LoopbackDevice {
public:
    virtual ~LoopbackDevice() = default;
    // Starts capturing; fills in the device's format (16-bit PCM). 1 or 0.
    virtual int start(WaveFormatRecord& deviceFormat) = 0;
    // Bytes waiting, a held packet included. Returns 0 when the capture broke.
    virtual int nextPacketSize(uint32_t& bytes) = 0;
    // The oldest packet; data is null for a gap, which counts as silence.
    // Returns 0 when there is none.
    virtual int takePacket(const uint8_t*& data, uint32_t& bytes) = 0;
    virtual void releasePacket() = 0;
    virtual void stop() = 0;
    virtual std::string lastError() const = 0;
};

} // namespace quillet
