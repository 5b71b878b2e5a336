#include "capture/LzoCompress.h"

#include <lzo/lzo1x.h>

#include <mutex>

namespace quillet {

int lzo1x1Compress(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = lzo_init() == LZO_E_OK; });
    out.clear();
    if (!ready || (!data && size > 0))
        return 0;
    // Worst case of LZO1X for incompressible input, from the library's documentation.
    out.resize(size + size / 16 + 64 + 3);
    std::vector<uint8_t> work(LZO1X_1_MEM_COMPRESS);
    lzo_uint outLen = 0;
    if (lzo1x_1_compress(data, size, out.data(), &outLen, work.data()) != LZO_E_OK) {
        out.clear();
        return 0;
    }
    out.resize(outLen);
    return 1;
}

} // namespace quillet
