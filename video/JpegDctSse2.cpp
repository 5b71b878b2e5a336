// Compiled with -msse2.
#include <emmintrin.h>

#include "video/JpegDct.h"

namespace quillet {
#include "video/JpegDctSimd.inl"

namespace {
// Without byte shuffles, pulling B, G, R apart costs more than the table
// look-ups save, so this variant keeps the scalar colour conversion.
const JpegKernels kSse2 = {"sse2", jpegConvertMcuScalar, fdctSimd, quantiseSimd128};
} // namespace

const JpegKernels* jpegKernelsSse2() { return &kSse2; }

} // namespace quillet
