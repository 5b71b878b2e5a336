#include "video/FlvAvcTags.h"

namespace quillet {

void put_flv_tag_header(BoundedWriter& out, uint8_t type, uint32_t data_size, uint32_t timestamp_ms)
{
    out.u8(type);
    out.be24(data_size);
    out.be24(timestamp_ms & 0xFFFFFF);
    out.u8(timestamp_ms >> 24); // extended timestamp byte
    out.be24(0);                // stream id
}

size_t write_avc_video_tag(uint8_t* out, size_t capacity, uint32_t timestamp_ms, bool key_frame,
                           const NalView* nals, size_t count)
{
    if (out == nullptr || nals == nullptr || count == 0)
        return 0;
    BoundedWriter w(out, capacity);
    put_flv_tag_header(w, kFlvVideoTagType, 0, timestamp_ms); // data size patched below
    w.u8(key_frame ? 0x17 : 0x27);  // frame type (1 key, 2 inter) << 4 | codec 7 (AVC)
    w.u8(0x01);                     // AVC NAL unit
    w.be24(kFlvAvcCompositionTime); // composition time
    for (size_t i = 0; i < count && w.ok(); ++i) {
        const size_t length_at = w.size();
        w.be32(0); // NAL length, patched below
        const size_t c = write_nal_unit(w, nals[i], StartCode::None);
        w.patchBE32(length_at, static_cast<uint32_t>(c));
    }
    const size_t data_size = w.size() - kAvcTagHeaderSize;
    w.patchBE24(1, static_cast<uint32_t>(data_size));
    w.be32(static_cast<uint32_t>(kAvcTagHeaderSize + data_size)); // previous tag size
    return w.ok() ? w.size() : 0;
}

size_t write_avc_sequence_header_tag(uint8_t* out, size_t capacity, uint32_t timestamp_ms, const NalView& sps,
                                     const NalView& pps)
{
    if (out == nullptr)
        return 0;
    BoundedWriter w(out, capacity);
    put_flv_tag_header(w, kFlvVideoTagType, 0, timestamp_ms); // data size patched below
    w.u8(0x17); // key frame, AVC
    w.u8(0x00); // AVC sequence header
    w.be24(0);  // composition time
    w.u8(0x01); // configuration version
    w.u8(0x42); // profile indication (66)
    w.u8(0xC0); // profile compatibility
    w.u8(0x15); // level indication (21)
    w.u8(0x03); // NAL length size minus one (no reserved bits)
    w.u8(0x01); // number of SPS (no reserved bits)
    const size_t sps_length_at = w.size();
    w.be16(0);
    const size_t s = write_nal_unit(w, sps, StartCode::None);
    w.u8(0x01); // number of PPS
    const size_t pps_length_at = w.size();
    w.be16(0);
    const size_t p = write_nal_unit(w, pps, StartCode::None);
    if (!w.ok() || s > 0xFFFF || p > 0xFFFF)
        return 0;
    putBE16(out + sps_length_at, static_cast<uint32_t>(s));
    putBE16(out + pps_length_at, static_cast<uint32_t>(p));
    const size_t data_size = w.size() - kAvcTagHeaderSize;
    w.patchBE24(1, static_cast<uint32_t>(data_size));
    w.be32(static_cast<uint32_t>(kAvcTagHeaderSize + data_size)); // previous tag size
    return w.ok() ? w.size() : 0;
}

size_t write_annexb_access_unit(uint8_t* out, size_t capacity, const NalView* nals, size_t count)
{
    if (out == nullptr || nals == nullptr || count == 0)
        return 0;
    BoundedWriter w(out, capacity);
    for (size_t i = 0; i < count && w.ok(); ++i)
        write_nal_unit(w, nals[i], StartCode::FourBytes);
    return w.ok() ? w.size() : 0;
}

} // namespace quillet
