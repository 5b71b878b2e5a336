#include "video/screen/ConvertedBlock.h"

#include <cstring>

namespace quillet::screen {

namespace {

struct ChecksumTable {
    uint16_t t[256];
    ChecksumTable()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t v = i << 8;
            for (int bit = 0; bit < 8; ++bit) {
                const bool out = (v & 0x8000) != 0;
                v = (v << 1) & 0xFFFF;
                if (out)
                    v ^= 0xA001;
            }
            t[i] = uint16_t(v);
        }
    }
};

// Fixed-point (16 fractional bits) steps from converted samples back to
// colour. The forward conversion truncates, so each sample stands for a value
// about half a step above it; the half is added back here.
struct ColourTables {
    int32_t rFromCr[256];
    int32_t bFromCb[256];
    int32_t gFromCb[256];
    int32_t gFromCr[256];
    ColourTables()
    {
        for (int i = 0; i < 256; ++i) {
            const double c = i - 128 + 0.5;
            rFromCr[i] = int32_t(1.402 * c * 65536.0);
            bFromCb[i] = int32_t(1.772 * c * 65536.0);
            gFromCb[i] = int32_t(-0.344136 * c * 65536.0);
            gFromCr[i] = int32_t(-0.714136 * c * 65536.0);
        }
    }
};

const ColourTables& colourTables()
{
    static const ColourTables tables;
    return tables;
}

inline uint8_t clampByte(int32_t fixed)
{
    // Round half up, then clamp.
    const int32_t v = (fixed + 32768) >> 16;
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline void expand16(uint32_t p, Pixel16Layout layout, uint8_t bgr[3])
{
    if (layout == Pixel16Layout::Rgb565) {
        bgr[0] = uint8_t((p & 0x1F) << 3);
        bgr[1] = uint8_t((p >> 3) & 0xFC);
        bgr[2] = uint8_t((p >> 8) & 0xF8);
    } else {
        bgr[0] = uint8_t((p & 0x1F) << 3);
        bgr[1] = uint8_t((p >> 2) & 0xF8);
        bgr[2] = uint8_t((p >> 7) & 0xF8);
    }
}

} // namespace

void pixel_bgr(const BlockSource& s, int32_t x, int32_t y, uint8_t bgr[3])
{
    if (x >= s.width)
        x = s.width - 1;
    if (y >= s.height)
        y = s.height - 1;
    const uint8_t* row = s.bits + size_t(s.height - 1 - y) * s.stride;
    switch (s.bitsPerPixel) {
    case 16:
        expand16(uint32_t(row[x * 2]) | uint32_t(row[x * 2 + 1]) << 8, s.layout16, bgr);
        break;
    case 24:
        std::memcpy(bgr, row + size_t(x) * 3, 3);
        break;
    default:
        std::memcpy(bgr, row + size_t(x) * 4, 3);
        break;
    }
    bgr[0] &= s.masks[0];
    bgr[1] &= s.masks[1];
    bgr[2] &= s.masks[2];
}

void convert_block(const BlockSource& s, int32_t x0, int32_t y0, uint8_t out[kBlockBytes])
{
    uint8_t px[64][3];
    const bool inside = x0 + 8 <= s.width && y0 + 8 <= s.height;
    const bool unmasked = s.masks[0] == 255 && s.masks[1] == 255 && s.masks[2] == 255;
    if (inside && unmasked && s.bitsPerPixel != 16) {
        const int step = s.bitsPerPixel / 8;
        for (int r = 0; r < 8; ++r) {
            const uint8_t* p = s.bits + size_t(s.height - 1 - (y0 + r)) * s.stride + size_t(x0) * size_t(step);
            for (int c = 0; c < 8; ++c, p += step) {
                px[r * 8 + c][0] = p[0];
                px[r * 8 + c][1] = p[1];
                px[r * 8 + c][2] = p[2];
            }
        }
    } else {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                pixel_bgr(s, x0 + c, y0 + r, px[r * 8 + c]);
    }

    for (int i = 0; i < 64; ++i) {
        const int32_t b = px[i][0], g = px[i][1], r = px[i][2];
        out[i] = uint8_t((19595 * r + 38470 * g + 7471 * b) >> 16);
    }
    for (int gy = 0; gy < 4; ++gy) {
        for (int gx = 0; gx < 4; ++gx) {
            int32_t cb = 0;
            int32_t cr = 0;
            for (int k = 0; k < 4; ++k) {
                const uint8_t* p = px[(gy * 2 + (k >> 1)) * 8 + gx * 2 + (k & 1)];
                const int32_t b = p[0], g = p[1], r = p[2];
                cb += (-11059 * r - 21709 * g + 32768 * b) >> 16;
                cr += (32768 * r - 27439 * g - 5329 * b) >> 16;
            }
            out[kChromaAt + (gy * 4 + gx) * 2] = uint8_t((cb + 512) / 4);
            out[kChromaAt + (gy * 4 + gx) * 2 + 1] = uint8_t((cr + 512) / 4);
        }
    }
}

uint16_t block_checksum(const uint8_t block[kBlockBytes])
{
    static const ChecksumTable table;
    uint32_t h = 0;
    for (int i = 0; i < kBlockBytes; ++i)
        h = (table.t[((h >> 8) ^ block[i]) & 0xFF] ^ (h << 8)) & 0xFFFF;
    return uint16_t(h);
}

void block_colour(int y, int cb, int cr, uint8_t bgr[3])
{
    const ColourTables& t = colourTables();
    const int32_t base = (y << 16) + 32768;
    bgr[0] = clampByte(base + t.bFromCb[cb]);
    bgr[1] = clampByte(base + t.gFromCb[cb] + t.gFromCr[cr]);
    bgr[2] = clampByte(base + t.rFromCr[cr]);
}

void paint_block(const uint8_t block[kBlockBytes], ScreenPicture& picture, int32_t x0, int32_t y0)
{
    const ColourTables& t = colourTables();
    const int rows = picture.height - y0 < 8 ? picture.height - y0 : 8;
    const int cols = picture.width - x0 < 8 ? picture.width - x0 : 8;
    for (int r = 0; r < rows; ++r) {
        uint8_t* p = picture.row_from_top(y0 + r) + size_t(x0) * 4;
        const uint8_t* chroma = block + kChromaAt + (r >> 1) * 8;
        for (int c = 0; c < cols; ++c, p += 4) {
            const int cb = chroma[(c >> 1) * 2];
            const int cr = chroma[(c >> 1) * 2 + 1];
            const int32_t base = (int32_t(block[r * 8 + c]) << 16) + 32768;
            p[0] = clampByte(base + t.bFromCb[cb]);
            p[1] = clampByte(base + t.gFromCb[cb] + t.gFromCr[cr]);
            p[2] = clampByte(base + t.rFromCr[cr]);
            p[3] = 0xFF;
        }
    }
}

} // namespace quillet::screen
