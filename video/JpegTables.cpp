#include "video/JpegTables.h"

#include <cmath>

namespace quillet {

namespace {

struct Zigzag {
    uint8_t order[64];
    constexpr Zigzag() : order{}
    {
        // Walk the anti-diagonals, alternating direction.
        int k = 0;
        for (int s = 0; s < 15; ++s) {
            if (s % 2 == 0) {
                for (int row = (s < 8 ? s : 7); row >= 0 && s - row < 8; --row)
                    order[k++] = uint8_t(row * 8 + (s - row));
            } else {
                for (int col = (s < 8 ? s : 7); col >= 0 && s - col < 8; --col)
                    order[k++] = uint8_t((s - col) * 8 + col);
            }
        }
    }
};
constexpr Zigzag kZigzag;

const uint8_t kDcLumaSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

const uint8_t kAcLumaSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5,
    0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
};

const uint8_t kAcChromaSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71,
    0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0,
    0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26,
    0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
    0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68,
    0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
    0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
};

struct AanScale {
    uint16_t values[64];
    AanScale()
    {
        const double pi = std::acos(-1.0);
        double f[8];
        f[0] = 1.0;
        for (int k = 1; k < 8; ++k)
            f[k] = std::sqrt(2.0) * std::cos(k * pi / 16.0);
        for (int u = 0; u < 8; ++u)
            for (int v = 0; v < 8; ++v)
                values[u * 8 + v] = uint16_t(std::lround(16384.0 * f[u] * f[v]));
    }
};

JpegColourTables makeColourTables()
{
    JpegColourTables t{};
    for (int32_t i = 0; i < 256; ++i) {
        t.rY[i] = 19595 * i;
        t.gY[i] = 38470 * i;
        t.bY[i] = 7471 * i + 32768;
        t.rCb[i] = -11059 * i;
        t.gCb[i] = -21709 * i;
        t.bCbrCr[i] = 32768 * i + 8421375; // 128 << 16 offset plus just under one half
        t.gCr[i] = -27439 * i;
        t.bCr[i] = -5329 * i;
    }
    return t;
}

} // namespace

const uint8_t kJpegZigzag[64] = {
#define Z(i) kZigzag.order[i]
    Z(0), Z(1), Z(2), Z(3), Z(4), Z(5), Z(6), Z(7), Z(8), Z(9), Z(10), Z(11), Z(12), Z(13), Z(14), Z(15),
    Z(16), Z(17), Z(18), Z(19), Z(20), Z(21), Z(22), Z(23), Z(24), Z(25), Z(26), Z(27), Z(28), Z(29), Z(30),
    Z(31), Z(32), Z(33), Z(34), Z(35), Z(36), Z(37), Z(38), Z(39), Z(40), Z(41), Z(42), Z(43), Z(44), Z(45),
    Z(46), Z(47), Z(48), Z(49), Z(50), Z(51), Z(52), Z(53), Z(54), Z(55), Z(56), Z(57), Z(58), Z(59), Z(60),
    Z(61), Z(62), Z(63),
#undef Z
};

const uint8_t kJpegLumaQuant[64] = {
    16, 11, 10, 16, 24, 40, 51, 61,
    12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56,
    14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77,
    24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101,
    72, 92, 95, 98, 112, 100, 103, 99,
};

const uint8_t kJpegChromaQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,
    18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99,
    47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99,
};

const JpegHuffmanSpec kJpegDcLuma = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}, kDcLumaSymbols, 12};
const JpegHuffmanSpec kJpegDcChroma = {{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}, kDcLumaSymbols, 12};
const JpegHuffmanSpec kJpegAcLuma = {{0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d}, kAcLumaSymbols, 162};
const JpegHuffmanSpec kJpegAcChroma = {{0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77}, kAcChromaSymbols, 162};

const uint16_t* jpegAanScale()
{
    static const AanScale scale;
    return scale.values;
}

const JpegColourTables& jpegColourTables()
{
    static const JpegColourTables tables = makeColourTables();
    return tables;
}

int buildHuffmanCodes(const JpegHuffmanSpec& table, JpegHuffmanCodes& out)
{
    for (int i = 0; i < 256; ++i) {
        out.code[i] = 0;
        out.length[i] = 0;
    }
    uint32_t code = 0;
    int k = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < table.bits[len - 1]; ++i) {
            if (k >= table.symbolCount || code >= (1u << len))
                return 0;
            out.code[table.symbols[k]] = uint16_t(code);
            out.length[table.symbols[k]] = uint8_t(len);
            ++code;
            ++k;
        }
        code <<= 1;
    }
    return k == table.symbolCount ? 1 : 0;
}

int clampJpegQuality(int quality)
{
    if (quality < 1)
        return 1;
    return quality > 100 ? 100 : quality;
}

int jpegQualityScale(int quality)
{
    const int q = clampJpegQuality(quality);
    return q >= 50 ? 200 - 2 * q : 5000 / q;
}

void buildQuantTable(const uint8_t base[64], int scale, JpegQuantTable& out, DivisorRounding rounding)
{
    const uint16_t* aan = jpegAanScale();
    const uint32_t bias = rounding == DivisorRounding::Nearest ? 1024 : 0;
    for (int i = 0; i < 64; ++i) {
        int32_t entry = (int32_t(base[i]) * scale + 50) / 100;
        if (entry < 1)
            entry = 1;
        if (entry > 255)
            entry = 255;
        out.entries[i] = uint8_t(entry);
        uint32_t d = (uint32_t(entry) * aan[i] + bias) >> 11;
        if (d < 1)
            d = 1; // only reachable without the rounding term; a zero divisor would be fatal
        out.divisors[i] = uint16_t(d);
        out.halves[i] = uint16_t(d >> 1);
        out.divisorsF[i] = float(d);
    }
}

} // namespace quillet
