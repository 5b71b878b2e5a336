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
    // Where the next output frame falls, past the consumed source frames, in
    // units of 1/requestedRate of a source frame. Give it to the next pass.
    uint64_t nextPhase = 0;
};

// One conversion pass from a device packet (src, srcBytes: the part not yet
// consumed) into out (outBytes of space) by the computer-sound rules.
// Output frame k of the pass takes source frame
// floor((phase + k * deviceRate) / requestedRate): the earlier source frame,
// no filtering. Channels: 1<-1 copy, 1<-2 the arithmetic mean (L+R)>>1,
// 2<-1 left = sample and right = 0, 2<-2 copy. Space is counted in whole
// output frames (2 bytes mono, 4 stereo).
//
// The phase carries the rate conversion from one pass to the next, so that
// over any run of passes output frame K (counted from the start of the
// capture) is source frame floor(K * deviceRate / requestedRate) and N seconds
// in give N seconds out. Restarting the pick at 0 on every pass instead rounds
// up once per packet and once per full buffer, and the sound slowly runs late
// (by 0.1% to 0.5% with a sound server's packet sizes). Pass 0 at the start of
// a capture and the previous pass's nextPhase after that.
//
// Consumption: when the output filled up, the source frames before the next
// frame to pick; when the packet ran out, all of it. A device that is not
// 16-bit, or has other than 1 or 2 channels, has the whole packet skipped with
// nothing written. A request that is not 1 or 2 channels at a rate above 0
// writes and consumes nothing.
ConvertPass convertLoopbackPass(const uint8_t* src, size_t srcBytes, const PcmLayout& device,
                                const PcmLayout& requested, uint8_t* out, size_t outBytes, uint64_t phase = 0);

} // namespace quillet
