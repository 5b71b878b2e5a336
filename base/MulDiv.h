#pragma once
#include <cstdint>

namespace quillet {

// a * b / c with a 64-bit intermediate product, rounded to the nearest integer
// with halves away from zero. Returns -1 when c is 0 or the result does not fit
// into 32 bits, as the platform's MulDiv does; callers use it for media times
// where such inputs never occur.
int32_t mulDiv(int32_t a, int32_t b, int32_t c);

} // namespace quillet
