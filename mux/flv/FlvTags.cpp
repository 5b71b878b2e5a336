#include "mux/flv/FlvTags.h"

#include <cstring>

#include "base/ByteOrder.h"

namespace quillet {
namespace {

void putDouble(uint8_t* p, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    putBE64(p, bits);
}

// AMF0 object property: 16-bit name length, name, number marker, double.
uint8_t* putNumberProperty(uint8_t* p, const char* name, double v)
{
    const size_t n = std::strlen(name);
    putBE16(p, uint32_t(n));
    std::memcpy(p + 2, name, n);
    p += 2 + n;
    *p++ = 0x00; // number marker
    putDouble(p, v);
    return p + 8;
}

} // namespace

void writeFlvFileHeader(uint8_t out[kFlvFileHeaderSize])
{
    static const uint8_t header[kFlvFileHeaderSize] = {'F', 'L', 'V', 0x01, 0x05, 0, 0, 0, 9, 0, 0, 0, 0};
    std::memcpy(out, header, sizeof header);
}

void writeFlvTagHeader(uint8_t out[kFlvTagHeaderSize], uint8_t type, uint32_t data_size, uint32_t timestamp_ms)
{
    out[0] = type;
    putBE24(out + 1, data_size);
    putBE24(out + 4, timestamp_ms & 0xFFFFFF);
    out[7] = uint8_t(timestamp_ms >> 24); // extended timestamp
    putBE24(out + 8, 0);                  // stream ID
}

void writeFlvMetaData(uint8_t out[kFlvMetaDataSize], int width, int height, uint32_t duration_ms)
{
    constexpr uint32_t kDataSize = kFlvMetaDataSize - kFlvTagHeaderSize - 4; // 73
    writeFlvTagHeader(out, kFlvScriptTag, kDataSize, 0);
    uint8_t* p = out + kFlvTagHeaderSize;
    *p++ = 0x02; // AMF0 string
    putBE16(p, 10);
    std::memcpy(p + 2, "onMetaData", 10);
    p += 12;
    *p++ = 0x08; // AMF0 ECMA array
    putBE32(p, 3);
    p += 4;
    p = putNumberProperty(p, "duration", double(duration_ms / 1000));
    p = putNumberProperty(p, "width", double(width));
    p = putNumberProperty(p, "height", double(height));
    putBE24(p, 0x000009); // end of object
    p += 3;
    putBE32(p, kFlvMetaDataSize - 4); // PreviousTagSize
}

void writeFlvAacHeaderTag(uint8_t out[kFlvAacHeaderTagSize], int channels)
{
    writeFlvTagHeader(out, kFlvAudioTag, 4, 0);
    out[11] = 0xAF; // AAC, 44 kHz flag, 16-bit, stereo flag: fixed for AAC
    out[12] = 0x00; // AAC sequence header
    out[13] = 0x12; // AudioSpecificConfig: AAC LC, frequency index 5 (32000 Hz) ...
    out[14] = channels == 2 ? 0x90 : 0x88; // ... channel configuration 2 or 1
    putBE32(out + 15, kFlvAacHeaderTagSize - 4);
}

bool isCompleteFlvTag(const uint8_t* tag, size_t len, uint8_t type)
{
    if (!tag || len < kFlvTagHeaderSize + 4 + 1 || tag[0] != type)
        return false;
    const uint32_t data_size = getBE24(tag + 1);
    return size_t(data_size) + kFlvTagHeaderSize + 4 == len &&
           getBE32(tag + len - 4) == data_size + kFlvTagHeaderSize;
}

} // namespace quillet
