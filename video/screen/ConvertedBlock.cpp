#include "video/screen/ConvertedBlock.h"

#include <cstring>

namespace quillet::screen {

namespace {

// The checksum is linear, so eight bytes can be folded in at once: table k
// holds what one byte contributes once k more zero bytes have followed it.
struct ChecksumTables {
    uint16_t t[8][256];
    ChecksumTables()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t v = i << 8;
            for (int bit = 0; bit < 8; ++bit) {
                const bool out = (v & 0x8000) != 0;
                v = (v << 1) & 0xFFFF;
                if (out)
                    v ^= 0xA001;
            }
            t[0][i] = uint16_t(v);
        }
        for (int k = 1; k < 8; ++k)
            for (uint32_t i = 0; i < 256; ++i) {
                const uint32_t h = t[k - 1][i];
                t[k][i] = uint16_t((t[0][h >> 8] ^ (h << 8)) & 0xFFFF); // one zero byte more
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

BlockSource block_source(const ScreenFrame& frame, Pixel16Layout layout16)
{
    BlockSource s;
    s.bits = frame.bits;
    s.width = frame.width;
    s.height = frame.height;
    const size_t bytes = size_t(frame.bitsPerPixel / 8);
    s.stride = frame.stride > 0 ? size_t(frame.stride) : size_t(frame.width) * bytes;
    s.bitsPerPixel = frame.bitsPerPixel;
    s.layout16 = layout16;
    return s;
}

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
    // Components as separate rows of 64, so that the arithmetic below runs
    // on whole vectors.
    alignas(32) int32_t rr[64], gg[64], bb[64];
    const bool inside = x0 + 8 <= s.width && y0 + 8 <= s.height;
    const bool unmasked = s.masks[0] == 255 && s.masks[1] == 255 && s.masks[2] == 255;
    if (inside && unmasked && s.bitsPerPixel != 16) {
        const int step = s.bitsPerPixel / 8;
        for (int r = 0; r < 8; ++r) {
            const uint8_t* p = s.bits + size_t(s.height - 1 - (y0 + r)) * s.stride + size_t(x0) * size_t(step);
            for (int c = 0; c < 8; ++c, p += step) {
                bb[r * 8 + c] = p[0];
                gg[r * 8 + c] = p[1];
                rr[r * 8 + c] = p[2];
            }
        }
    } else {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                uint8_t bgr[3];
                pixel_bgr(s, x0 + c, y0 + r, bgr);
                bb[r * 8 + c] = bgr[0];
                gg[r * 8 + c] = bgr[1];
                rr[r * 8 + c] = bgr[2];
            }
    }

    alignas(32) int32_t cb[64], cr[64];
    for (int i = 0; i < 64; ++i) {
        out[i] = uint8_t((19595 * rr[i] + 38470 * gg[i] + 7471 * bb[i]) >> 16);
        cb[i] = (-11059 * rr[i] - 21709 * gg[i] + 32768 * bb[i]) >> 16;
        cr[i] = (32768 * rr[i] - 27439 * gg[i] - 5329 * bb[i]) >> 16;
    }
    for (int gy = 0; gy < 4; ++gy) {
        for (int gx = 0; gx < 4; ++gx) {
            const int i = gy * 16 + gx * 2;
            const int32_t sb = cb[i] + cb[i + 1] + cb[i + 8] + cb[i + 9];
            const int32_t sr = cr[i] + cr[i + 1] + cr[i + 8] + cr[i + 9];
            out[kChromaAt + (gy * 4 + gx) * 2] = uint8_t((sb + 512) / 4);
            out[kChromaAt + (gy * 4 + gx) * 2 + 1] = uint8_t((sr + 512) / 4);
        }
    }
}

uint16_t block_checksum(const uint8_t block[kBlockBytes])
{
    static const ChecksumTables tables;
    const auto& t = tables.t;
    uint32_t h = 0;
    for (int i = 0; i < kBlockBytes; i += 8) {
        const uint8_t* b = block + i;
        h = uint32_t(t[7][(h >> 8) ^ b[0]] ^ t[6][(h & 0xFF) ^ b[1]] ^ t[5][b[2]] ^ t[4][b[3]] ^ t[3][b[4]] ^
                     t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]]);
    }
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
    // Each 2x2 group's colour offsets, spread to its pixels, with the half
    // step for Y and the rounding added in once.
    alignas(32) int32_t dr[64], dg[64], db[64];
    for (int g = 0; g < 16; ++g) {
        const int cb = block[kChromaAt + g * 2];
        const int cr = block[kChromaAt + g * 2 + 1];
        const int32_t r = t.rFromCr[cr] + 65536;
        const int32_t gr = t.gFromCb[cb] + t.gFromCr[cr] + 65536;
        const int32_t b = t.bFromCb[cb] + 65536;
        const int at = (g / 4) * 16 + (g % 4) * 2;
        for (int k : {at, at + 1, at + 8, at + 9}) {
            dr[k] = r;
            dg[k] = gr;
            db[k] = b;
        }
    }
    alignas(32) uint32_t px[64];
    for (int i = 0; i < 64; ++i) {
        const int32_t y = int32_t(block[i]) << 16;
        int32_t r = (y + dr[i]) >> 16, g = (y + dg[i]) >> 16, b = (y + db[i]) >> 16;
        r = r < 0 ? 0 : r > 255 ? 255 : r;
        g = g < 0 ? 0 : g > 255 ? 255 : g;
        b = b < 0 ? 0 : b > 255 ? 255 : b;
        px[i] = uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16 | 0xFF000000u;
    }
    const int rows = picture.height - y0 < 8 ? picture.height - y0 : 8;
    const int cols = picture.width - x0 < 8 ? picture.width - x0 : 8;
    for (int r = 0; r < rows; ++r) {
        uint8_t* p = picture.row_from_top(y0 + r) + size_t(x0) * 4;
        for (int c = 0; c < cols; ++c) {
            const uint32_t v = px[r * 8 + c];
            const uint8_t bgrx[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 0xFF};
            std::memcpy(p + c * 4, bgrx, 4);
        }
    }
}

} // namespace quillet::screen
