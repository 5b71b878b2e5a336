#pragma once

#include <cstddef>
#include <cstdint>

namespace quillet {

// Fixed-point precision of the vertical filter's weights.
constexpr int kBicubicWeightBits = 14;

// One output row of the vertical filter over `bytes` bytes: each byte is
// (w0*s0 + w1*s1 + w2*s2 + w3*s3 + half) >> kBicubicWeightBits, clamped to
// 0..255. A kernel returns how many leading bytes it did (a multiple of its
// width); the caller finishes the rest with a narrower one.
using BicubicRowKernel = size_t (*)(const uint8_t* s0, const uint8_t* s1, const uint8_t* s2, const uint8_t* s3,
                                    uint8_t* d, size_t bytes, const int32_t weight[4]);

// 16 bytes at a time (SSE2, always present on x86-64; elsewhere it does
// nothing and the plain loop does all).
size_t bicubicRow16(const uint8_t* s0, const uint8_t* s1, const uint8_t* s2, const uint8_t* s3, uint8_t* d,
                    size_t bytes, const int32_t weight[4]);

// 32 bytes at a time with AVX2; null when the processor lacks it or the build
// has no such kernel. Chosen once.
BicubicRowKernel bicubicRowKernelWide();

} // namespace quillet
