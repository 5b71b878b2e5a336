#pragma once
#include <cstddef>
#include <cstdint>

#include "video/screen/ScreenDecoder.h"

// The fuzz input of the screen decoder: a picture size and a run of records
// as a player hands them over, all little-endian.
//   u16 width, u16 height (each taken as 1 + value % 1024)
//   records until the input ends:
//     u8 kind: 0 region, 1 side data, 2 key frame (reset)
//     region: u16 left, top, right, bottom, u16 length, then length bytes
//     side data: u16 length, then length bytes
// A length past the end of the input takes what is left.
namespace quillet::fuzz {


inline uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// Feeds the whole input to a decoder; returns the number of calls that failed.
inline int decode_fuzz_input(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const int32_t width = int32_t(1 + le16(data) % 1024);
    const int32_t height = int32_t(1 + le16(data + 2) % 1024);
    ScreenDecoder decoder;
    if (!decoder.init(width, height))
        return 0;
    size_t at = 4;
    int failures = 0;
    while (at < size) {
        const uint8_t kind = data[at++] % 3;
        if (kind == 2) {
            decoder.reset();
            continue;
        }
        Rect rect{};
        if (kind == 0) {
            if (size - at < 8)
                break;
            rect = Rect{int32_t(le16(data + at)), int32_t(le16(data + at + 2)), int32_t(le16(data + at + 4)),
                        int32_t(le16(data + at + 6))};
            at += 8;
        }
        if (size - at < 2)
            break;
        size_t length = le16(data + at);
        at += 2;
        if (length > size - at)
            length = size - at;
        const int ok = kind == 0 ? decoder.decode_region(rect, data + at, length)
                                 : decoder.decode_side_data(data + at, length);
        failures += ok ? 0 : 1;
        at += length;
    }
    return failures;
}

} // namespace quillet::fuzz
