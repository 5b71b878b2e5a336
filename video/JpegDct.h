#pragma once
#include <cstdint>

#include "video/JpegTables.h"

// The per-block arithmetic of the JPEG encoder: colour conversion of one
// 16x16 MCU, the fast integer forward DCT and the quantiser. Every variant
// produces exactly the scalar reference's numbers, so the choice of variant
// never changes an output byte.
namespace quillet {

// One MCU's level-shifted samples: four 8x8 luminance blocks (top-left,
// top-right, bottom-left, bottom-right) then one Cb and one Cr block.
struct alignas(32) JpegMcuSamples {
    int16_t blocks[6][64];
};

struct JpegKernels {
    const char* name;
    // rows[i] points at 16 B, G, R pixels of MCU row i (top row first).
    // Y for every pixel; Cb, Cr from the top-left pixel of each 2x2 group.
    void (*convertMcu)(const uint8_t* const rows[16], JpegMcuSamples& out);
    // In place, natural order; outputs keep the transform's scale factors.
    void (*fdct)(int16_t block[64]);
    // Rounded division by the table's divisors, natural order in and out.
    // Returns the positions of the non-zero results (bit i = position i).
    uint64_t (*quantise)(const int16_t in[64], const JpegQuantTable& table, int16_t out[64]);
};

enum class JpegKernelLevel { Scalar, Sse2, Avx2 };

// The best variant this processor runs, resolved once. Setting the
// environment variable QUILLET_FORCE_SCALAR (to anything but "0") forces the
// scalar reference for the whole process.
const JpegKernels& jpegKernels();
// The same choice made afresh from the current environment (for tests).
const JpegKernels& jpegKernelsFromEnvironment();
// A specific variant, or nullptr when this processor or build lacks it.
const JpegKernels* jpegKernelsFor(JpegKernelLevel level);

// The scalar reference's pieces, shared with variants that do not vectorise
// every step.
void jpegConvertMcuScalar(const uint8_t* const rows[16], JpegMcuSamples& out);
void jpegFdctScalar(int16_t block[64]);
uint64_t jpegQuantiseScalar(const int16_t in[64], const JpegQuantTable& table, int16_t out[64]);

// Variants, each in its own source file compiled with its own flags.
extern const JpegKernels kJpegKernelsScalar;
const JpegKernels* jpegKernelsSse2();
const JpegKernels* jpegKernelsAvx2();

} // namespace quillet
