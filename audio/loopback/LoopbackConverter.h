#pragma once
#include <cstddef>
#include <cstdint>

namespace quillet {

struct PcmLayout {
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 16;
};

struct ConvertPass {
    size_t bytesWritten = 0;
    size_t bytesConsumed = 0; // of the source, from its start
};

// One conversion pass from a device packet (src, srcBytes: the part not yet
// consumed) into out (outBytes of space) by the computer-sound rules.
// Output frame k takes source frame floor(k * deviceRate / requestedRate),
// with k restarting at 0 on every pass. Channels: 1<-1 copy, 1<-2 the
// arithmetic mean (L+R)>>1, 2<-1 left = sample and right = 0, 2<-2 copy.
// Space is counted in whole output frames (2 bytes mono, 4 stereo).
//
// Consumption: when the output filled up, up to (not including) the last
// source frame used, which the next pass reads again; when the packet ran
// out, all of it. A device that is not 16-bit, or has other than 1 or 2
// channels, has the whole packet skipped with nothing written. A request that
// is not 1 or 2 channels at a rate above 0 writes and consumes nothing.
ConvertPass convertLoopbackPass(const uint8_t* src, size_t srcBytes, const PcmLayout& device,
                                const PcmLayout& requested, uint8_t* out, size_t outBytes);

} // namespace quillet
