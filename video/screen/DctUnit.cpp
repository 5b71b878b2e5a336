#include "video/screen/DctUnit.h"

#include <cmath>
#include <cstring>

namespace quillet::screen {

namespace {

struct DctTables {
    JpegQuantTable luma;
    JpegQuantTable chroma;
    DctTables()
    {
        const int scale = jpegQualityScale(ScreenCodec::kDctQuality);
        buildQuantTable(kJpegLumaQuant, scale, luma, DivisorRounding::Truncate);
        buildQuantTable(kJpegChromaQuant, scale, chroma, DivisorRounding::Truncate);
    }
};

const DctTables& dctTables()
{
    static const DctTables tables;
    return tables;
}

// Walk-order block (0 TL, 1 BL, 2 TR, 3 BR) of quadrant (qx, qy).
constexpr int blockAt(int qx, int qy) { return qx * 2 + qy; }

} // namespace

const JpegQuantTable& dct_luma_table() { return dctTables().luma; }
const JpegQuantTable& dct_chroma_table() { return dctTables().chroma; }

void unit_samples(const uint8_t* const blocks[4], JpegMcuSamples& out)
{
    for (int b = 0; b < 4; ++b) {
        int16_t* y = out.blocks[kMcuLumaOf[b]];
        if (blocks[b] == nullptr) {
            std::memset(y, 0, 64 * sizeof(int16_t));
            continue;
        }
        for (int i = 0; i < 64; ++i)
            y[i] = int16_t(blocks[b][i] - 128);
    }
    for (int qy = 0; qy < 2; ++qy) {
        for (int qx = 0; qx < 2; ++qx) {
            const uint8_t* src = blocks[blockAt(qx, qy)];
            if (src == nullptr) {
                if (qx == 1 && blocks[blockAt(0, qy)] != nullptr)
                    src = blocks[blockAt(0, qy)];
                else if (qy == 1 && blocks[blockAt(qx, 0)] != nullptr)
                    src = blocks[blockAt(qx, 0)];
                else
                    src = blocks[0];
            }
            const uint8_t* chroma = src + kChromaAt;
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) {
                    const int at = (qy * 4 + r) * 8 + qx * 4 + c;
                    out.blocks[4][at] = int16_t(chroma[(r * 4 + c) * 2] - 128);
                    out.blocks[5][at] = int16_t(chroma[(r * 4 + c) * 2 + 1] - 128);
                }
            }
        }
    }
}

void unit_block(const McuPixels& mcu, int b, uint8_t out[kBlockBytes])
{
    std::memcpy(out, mcu.blocks[kMcuLumaOf[b]], 64);
    const int qx = b >> 1;
    const int qy = b & 1;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const int at = (qy * 4 + r) * 8 + qx * 4 + c;
            out[kChromaAt + (r * 4 + c) * 2] = mcu.blocks[4][at];
            out[kChromaAt + (r * 4 + c) * 2 + 1] = mcu.blocks[5][at];
        }
    }
}

namespace {

// One 8-point AAN inverse transform from in[0], in[step], ... into out[0], out[ostep], ...
inline void idct8(const float* in, int step, float* out, int ostep)
{
    float t0 = in[0], t1 = in[2 * step], t2 = in[4 * step], t3 = in[6 * step];
    const float e10 = t0 + t2, e11 = t0 - t2;
    const float e13 = t1 + t3;
    const float e12 = (t1 - t3) * 1.414213562f - e13;
    t0 = e10 + e13;
    t3 = e10 - e13;
    t1 = e11 + e12;
    t2 = e11 - e12;
    const float z13 = in[5 * step] + in[3 * step], z10 = in[5 * step] - in[3 * step];
    const float z11 = in[step] + in[7 * step], z12 = in[step] - in[7 * step];
    const float t7 = z11 + z13;
    const float o11 = (z11 - z13) * 1.414213562f;
    const float z5 = (z10 + z12) * 1.847759065f;
    const float o10 = 1.082392200f * z12 - z5;
    const float o12 = -2.613125930f * z10 + z5;
    const float t6 = o12 - t7;
    const float t5 = o11 - t6;
    const float t4 = o10 + t5;
    out[0] = t0 + t7;
    out[7 * ostep] = t0 - t7;
    out[ostep] = t1 + t6;
    out[6 * ostep] = t1 - t6;
    out[2 * ostep] = t2 + t5;
    out[5 * ostep] = t2 - t5;
    out[4 * ostep] = t3 + t4;
    out[3 * ostep] = t3 - t4;
}

} // namespace

void inverse_dct(const float in[64], uint8_t out[64])
{
    float ws[64];
    for (int c = 0; c < 8; ++c) {
        const float* p = in + c;
        if (p[8] == 0 && p[16] == 0 && p[24] == 0 && p[32] == 0 && p[40] == 0 && p[48] == 0 && p[56] == 0) {
            for (int r = 0; r < 8; ++r)
                ws[r * 8 + c] = p[0];
            continue;
        }
        idct8(p, 8, ws + c, 8);
    }
    for (int r = 0; r < 8; ++r) {
        float v[8];
        idct8(ws + r * 8, 1, v, 1);
        for (int c = 0; c < 8; ++c) {
            // Damaged data can make any value; keep the conversion defined.
            float x = v[c] * 0.125f;
            x = x < -1024.0f ? -1024.0f : x > 1024.0f ? 1024.0f : x;
            const int s = int(std::lrint(x)) + 128;
            out[r * 8 + c] = uint8_t(s < 0 ? 0 : s > 255 ? 255 : s);
        }
    }
}

// ---- reader

DctReader::DctReader()
{
    build(kJpegDcLuma, dcLuma_);
    build(kJpegAcLuma, acLuma_);
    build(kJpegDcChroma, dcChroma_);
    build(kJpegAcChroma, acChroma_);
    for (int i = 0; i < 64; ++i) {
        lumaScale_[i] = float(dct_luma_table().divisors[i]) / 8.0f;
        chromaScale_[i] = float(dct_chroma_table().divisors[i]) / 8.0f;
    }
}

void DctReader::build(const JpegHuffmanSpec& spec, Huffman& h)
{
    std::memset(h.fast, 0, sizeof h.fast);
    std::memset(h.symbols, 0, sizeof h.symbols);
    std::memcpy(h.symbols, spec.symbols, size_t(spec.symbolCount));
    int32_t code = 0;
    int k = 0;
    for (int len = 1; len <= 16; ++len) {
        const int n = spec.bits[len - 1];
        h.valoffset[len] = k - code;
        for (int i = 0; i < n; ++i, ++k, ++code) {
            if (len <= 9) {
                const int shift = 9 - len;
                for (int fill = 0; fill < (1 << shift); ++fill)
                    h.fast[(code << shift) | fill] = uint16_t((len << 8) | spec.symbols[k]);
            }
        }
        h.maxcode[len] = n > 0 ? code - 1 : -1;
        code <<= 1;
    }
    h.maxcode[17] = 0x7FFFFFFF; // sentinel: no code is longer than 16 bits
}

void DctReader::begin(const uint8_t* data, size_t size)
{
    data_ = data;
    size_ = size;
    pos_ = 0;
    acc_ = 0;
    count_ = 0;
    fabricated_ = 0;
    predictors_[0] = predictors_[1] = predictors_[2] = 0;
    reason_ = nullptr;
    failAt_ = 0;
}

int DctReader::fail(const char* why)
{
    if (reason_ == nullptr) {
        reason_ = why;
        failAt_ = pos_;
    }
    return 0;
}

void DctReader::fill()
{
    while (count_ <= 56) {
        uint32_t byte = 0xFF; // past the end: padding 1-bits, counted as made up
        if (pos_ < size_) {
            byte = data_[pos_];
            if (byte == 0xFF) {
                if (pos_ + 1 >= size_ || data_[pos_ + 1] != 0) {
                    fail("a 0xFF byte in the DCT part is not followed by 0x00");
                    pos_ = size_;
                    byte = 0xFF;
                    fabricated_ += 8;
                } else {
                    pos_ += 2;
                }
            } else {
                ++pos_;
            }
        } else {
            fabricated_ += 8;
        }
        acc_ |= uint64_t(byte) << (56 - count_);
        count_ += 8;
    }
}

int DctReader::bits(int n)
{
    if (n == 0)
        return 0;
    if (count_ < n)
        fill();
    const int v = int(acc_ >> (64 - n));
    acc_ <<= n;
    count_ -= n;
    if (count_ < fabricated_)
        return fail("the DCT part ends inside a macroblock"), -1;
    return v;
}

int DctReader::decodeSymbol(const Huffman& h)
{
    if (count_ < 16)
        fill();
    const uint16_t f = h.fast[acc_ >> (64 - 9)];
    int len;
    int symbol;
    if (f != 0) {
        len = f >> 8;
        symbol = f & 0xFF;
    } else {
        len = 10;
        int32_t code = int32_t(acc_ >> (64 - 10));
        while (len <= 16 && code > h.maxcode[len]) {
            ++len;
            code = int32_t(acc_ >> (64 - len));
        }
        if (len > 16)
            return fail(count_ - fabricated_ < 16 ? "the DCT part ends inside a macroblock"
                                                  : "a Huffman code in the DCT part is not in the table");
        symbol = h.symbols[(code + h.valoffset[len]) & 0xFF];
    }
    acc_ <<= len;
    count_ -= len;
    if (count_ < fabricated_)
        return fail("the DCT part ends inside a macroblock"), -1;
    return symbol;
}

int DctReader::decodeBlock(int16_t coef[64], int& predictor, const Huffman& dc, const Huffman& ac)
{
    std::memset(coef, 0, 64 * sizeof(int16_t));
    const int category = decodeSymbol(dc);
    if (category < 0 || reason_ != nullptr)
        return 0;
    if (category > 11)
        return fail("a DC difference in the DCT part is out of range");
    int diff = bits(category);
    if (diff < 0)
        return 0;
    if (category > 0 && diff < (1 << (category - 1)))
        diff -= (1 << category) - 1;
    predictor += diff;
    if (predictor > 32767 || predictor < -32768)
        return fail("a DC value in the DCT part is out of range");
    coef[0] = int16_t(predictor);
    for (int k = 1; k < 64;) {
        const int rs = decodeSymbol(ac);
        if (rs < 0 || reason_ != nullptr)
            return 0;
        const int run = rs >> 4;
        const int size = rs & 15;
        if (size == 0) {
            if (run != 15)
                break; // end of block
            k += 16;
            continue;
        }
        k += run;
        if (k > 63)
            return fail("a coefficient run in the DCT part passes the end of its block");
        int v = bits(size);
        if (v < 0)
            return 0;
        if (v < (1 << (size - 1)))
            v -= (1 << size) - 1;
        coef[kJpegZigzag[k]] = int16_t(v);
        ++k;
    }
    return 1;
}

int DctReader::decode_mcu(McuPixels& out, unsigned luma_wanted)
{
    if (reason_ != nullptr)
        return 0;
    int16_t coef[64];
    float scaled[64];
    for (int b = 0; b < 6; ++b) {
        const bool luma = b < 4;
        const int component = luma ? 0 : b - 3;
        if (!decodeBlock(coef, predictors_[component], luma ? dcLuma_ : dcChroma_, luma ? acLuma_ : acChroma_))
            return 0;
        if (luma && ((luma_wanted >> b) & 1) == 0)
            continue;
        const float* scale = luma ? lumaScale_ : chromaScale_;
        for (int i = 0; i < 64; ++i)
            scaled[i] = float(coef[i]) * scale[i];
        inverse_dct(scaled, out.blocks[b]);
    }
    return reason_ == nullptr ? 1 : 0;
}

} // namespace quillet::screen
