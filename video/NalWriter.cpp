#include "video/NalWriter.h"

namespace quillet {

size_t append_escaped(BoundedWriter& out, const uint8_t* payload, size_t size)
{
    if (!out.ok())
        return 0;
    uint8_t* dst = out.cursor();
    const size_t room = out.remaining();
    size_t written = 0;
    int zeros = 0;
    auto put = [&](uint8_t b) {
        if (written == room)
            return false;
        dst[written++] = b;
        return true;
    };
    bool fits = true;
    for (size_t i = 0; i < size && fits; ++i) {
        const uint8_t b = payload[i];
        if (zeros == 2 && b <= 0x03) {
            fits = put(0x03);
            zeros = 0;
        }
        fits = fits && put(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    if (!fits) {
        out.take(room + 1); // marks the writer failed; the bytes stay unclaimed
        return 0;
    }
    out.take(written);
    return written;
}

size_t write_nal_unit(BoundedWriter& out, const NalView& nal, StartCode start_code)
{
    const size_t before = out.size();
    if (start_code == StartCode::FourBytes)
        out.be32(0x00000001);
    out.u8(static_cast<uint32_t>((nal.ref_idc & 0x3) << 5 | (nal.type & 0x1F)));
    if (nal.size > 0)
        append_escaped(out, nal.payload, nal.size);
    return out.ok() ? out.size() - before : 0;
}

size_t remove_emulation_prevention(const uint8_t* src, size_t size, uint8_t* dst)
{
    size_t written = 0;
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = src[i];
        if (zeros == 2 && b == 0x03) {
            zeros = 0;
            continue;
        }
        dst[written++] = b;
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return written;
}

} // namespace quillet
