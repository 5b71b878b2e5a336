#include "base/MulDiv.h"

#include <cstdlib>
#include <limits>

namespace quillet {

int32_t mulDiv(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        return -1;
    const int64_t product = static_cast<int64_t>(a) * b;
    const bool negative = (product < 0) != (c < 0);
    const uint64_t num = static_cast<uint64_t>(product < 0 ? -product : product);
    const uint64_t den = static_cast<uint64_t>(c < 0 ? -static_cast<int64_t>(c) : c);
    const uint64_t q = (num + den / 2) / den; // halves round away from zero
    if (q > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        return -1;
    return negative ? -static_cast<int32_t>(q) : static_cast<int32_t>(q);
}

uint64_t mulDivU64(uint64_t a, uint64_t b, uint64_t c)
{
    if (c == 0)
        return 0;
    const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>((p + c / 2) / c);
}

} // namespace quillet
