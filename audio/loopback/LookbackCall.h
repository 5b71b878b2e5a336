#pragma once
#include <cstdint>

namespace quillet {

// The computer-sound entry, lookbackCall(buffer, n):
//   n < 0       start: buffer holds the requested 18-byte wave format record
//               (16-bit PCM, 1 or 2 channels); on success it is overwritten
//               with the device's format and 1 is returned, otherwise 0.
//   n == 0      stop and release everything (buffer unused, may be null); 0.
//   1..100      nothing; 0.
//   n > 100     fetch: up to n bytes of PCM in the requested format are
//               written at buffer; returns the byte count, 0 when nothing is
//               available (the caller then records silence).
// The device's frames are converted by picking the earlier source frame for
// each output frame (no filtering), with the pick pattern running on from one
// packet and one fetch to the next so the sound keeps the device's pace, and
// by these channel rules: mono from stereo averages left and right, stereo
// from mono puts the sound in the left channel and silence in the right.
using LookbackCallFn = int32_t (*)(void* buffer, int32_t n);

constexpr int32_t kLookbackStart = -1;
constexpr int32_t kLookbackStop = 0;
// Fetches of this many bytes or fewer do nothing.
constexpr int32_t kLookbackMaxIgnoredCount = 100;

} // namespace quillet
