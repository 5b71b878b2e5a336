#pragma once
#include <cstdint>

namespace quillet {

// Milliseconds on a monotonic clock, counted from an arbitrary start. Unlike the
// 32-bit tick count of some platforms it does not wrap, so differences between
// two readings are always plain subtractions.
uint64_t tickMs();

} // namespace quillet
