#include "capture/BicubicKernels.h"

#include <cstdlib>
#include <cstring>

namespace quillet {

#if defined(QUILLET_CAPTURE_AVX2)
size_t bicubicRowAvx2(const uint8_t* s0, const uint8_t* s1, const uint8_t* s2, const uint8_t* s3, uint8_t* d,
                      size_t bytes, const int32_t weight[4]);
#endif

BicubicRowKernel bicubicRowKernelWide()
{
    static const BicubicRowKernel chosen = []() -> BicubicRowKernel {
        // The same switch as the colour conversion's, for comparing paths.
        const char* env = std::getenv("QUILLET_FORCE_SCALAR");
        if (env != nullptr && env[0] != '\0' && std::strcmp(env, "0") != 0)
            return nullptr;
#if defined(QUILLET_CAPTURE_AVX2)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2"))
            return &bicubicRowAvx2;
#endif
        return nullptr;
    }();
    return chosen;
}

} // namespace quillet
