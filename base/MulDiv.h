#pragma once
#include <cstdint>

namespace quillet {

// a * b / c with a 64-bit intermediate product, rounded to the nearest integer
// with halves away from zero. Returns -1 when c is 0 or the result does not fit
// into 32 bits, as the platform's MulDiv does; callers use it for media times
// where such inputs never occur.
int32_t mulDiv(int32_t a, int32_t b, int32_t c);

// The same rounding for unsigned 64-bit media counters (sample, byte and
// millisecond counts), with a 128-bit intermediate so the product cannot
// wrap. c == 0 gives 0.
uint64_t mulDivU64(uint64_t a, uint64_t b, uint64_t c);

} // namespace quillet
