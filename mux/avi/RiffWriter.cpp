#include "mux/avi/RiffWriter.h"

#include "base/ByteOrder.h"

namespace quillet {

uint64_t RiffWriter::beginList(uint32_t id, uint32_t type)
{
    const uint64_t at = sink_.tell();
    uint8_t h[12];
    putLE32(h, id);
    putLE32(h + 4, 0); // size, patched by endList
    putLE32(h + 8, type);
    sink_.write(h, sizeof h);
    return at;
}

int RiffWriter::endList(uint64_t header)
{
    const uint64_t end = sink_.tell();
    const uint64_t size = end - header - 8;
    if (size > UINT32_MAX)
        return 0;
    uint8_t s[4];
    putLE32(s, static_cast<uint32_t>(size));
    return patch(header + 4, s, sizeof s);
}

int RiffWriter::chunk(uint32_t id, const void* a, size_t na, const void* b, size_t nb)
{
    const uint64_t n = uint64_t(na) + nb;
    if (n > UINT32_MAX)
        return 0;
    uint8_t h[8];
    putLE32(h, id);
    putLE32(h + 4, static_cast<uint32_t>(n));
    int ok = sink_.write(h, sizeof h);
    if (na)
        ok = sink_.write(a, na);
    if (nb)
        ok = sink_.write(b, nb);
    if (n & 1) {
        const uint8_t pad = 0;
        ok = sink_.write(&pad, 1);
    }
    return ok && !sink_.error();
}

int RiffWriter::patch(uint64_t pos, const void* data, size_t n)
{
    const uint64_t end = sink_.tell();
    sink_.seek(pos);
    sink_.write(data, n);
    sink_.seek(end);
    return !sink_.error();
}

} // namespace quillet
