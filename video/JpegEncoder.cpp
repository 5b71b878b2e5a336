#include "video/JpegEncoder.h"

#include <cstring>

#include "base/BoundedWriter.h"

namespace quillet {

namespace {

void writeDqt(BoundedWriter& w, int id, const JpegQuantTable& t)
{
    w.be16(0xFFDB);
    w.be16(0x43);
    w.u8(uint32_t(id));
    for (int k = 0; k < 64; ++k)
        w.u8(t.entries[kJpegZigzag[k]]);
}

void writeDht(BoundedWriter& w, int classAndId, const JpegHuffmanSpec& table)
{
    w.be16(0xFFC4);
    w.be16(uint32_t(19 + table.symbolCount));
    w.u8(uint32_t(classAndId));
    w.bytes(table.bits, 16);
    w.bytes(table.symbols, size_t(table.symbolCount));
}

} // namespace

JpegEncoder::JpegEncoder(int quality) : kernels_(&jpegKernels())
{
    buildHuffmanCodes(kJpegDcLuma, dcLuma_);
    buildHuffmanCodes(kJpegAcLuma, acLuma_);
    buildHuffmanCodes(kJpegDcChroma, dcChroma_);
    buildHuffmanCodes(kJpegAcChroma, acChroma_);
    set_quality(quality);
}

void JpegEncoder::set_quality(int q, DivisorRounding rounding)
{
    quality_ = clampJpegQuality(q);
    scale_ = jpegQualityScale(quality_);
    buildQuantTable(kJpegLumaQuant, scale_, luma_, rounding);
    buildQuantTable(kJpegChromaQuant, scale_, chroma_, rounding);
}

int JpegEncoder::begin_scan(uint8_t* out, size_t capacity)
{
    bits_.reset(out, out);
    end_ = nullptr;
    if (out == nullptr)
        return 0;
    predictors_[0] = predictors_[1] = predictors_[2] = 0;
    end_ = out + capacity;
    bits_.reset(out, end_);
    return 1;
}

int JpegEncoder::end_scan()
{
    if (end_ == nullptr || !bits_.finish())
        return 0;
    end_ = nullptr;
    return 1;
}

int JpegEncoder::writeHeaderSegments(int width, int height, uint8_t* out, size_t capacity)
{
    bits_.reset(out, out);
    end_ = nullptr;
    if (out == nullptr || width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
        return 0;
    BoundedWriter w(out, capacity);
    w.be16(0xFFD8); // SOI

    w.be16(0xFFE0); // APP0
    w.be16(0x10);
    w.bytes("JFIF", 5); // with its terminating zero
    w.be16(0x0101);     // version 1.1
    w.u8(1);            // density in dots per inch
    w.be16(300);
    w.be16(300);
    w.be16(0); // no thumbnail

    writeDqt(w, 0, luma_);
    writeDqt(w, 1, chroma_);

    w.be16(0xFFC0); // SOF0
    w.be16(0x11);
    w.u8(8); // sample precision
    w.be16(uint32_t(height));
    w.be16(uint32_t(width));
    w.u8(3);
    static const uint8_t kComponents[9] = {1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
    w.bytes(kComponents, sizeof kComponents);

    writeDht(w, 0x00, kJpegDcLuma);
    writeDht(w, 0x10, kJpegAcLuma);
    writeDht(w, 0x01, kJpegDcChroma);
    writeDht(w, 0x11, kJpegAcChroma);

    static const uint8_t kSos[14] = {0xFF, 0xDA, 0x00, 0x0C, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0x00, 0x3F, 0x00};
    w.bytes(kSos, sizeof kSos);
    if (!w.ok())
        return 0;

    predictors_[0] = predictors_[1] = predictors_[2] = 0;
    end_ = out + capacity;
    bits_.reset(out + w.size(), end_);
    return 1;
}

int JpegEncoder::write_headers(int width, int height, uint8_t* out, size_t capacity)
{
    return writeHeaderSegments(width, height, out, capacity);
}

namespace {

// Zigzag position of each natural position.
struct ZigzagPosition {
    uint8_t of[64];
    ZigzagPosition()
    {
        for (int k = 0; k < 64; ++k)
            of[kJpegZigzag[k]] = uint8_t(k);
    }
};

// Most bytes one block can produce: at most 70 symbols (DC, 63 AC, 3 ZRL,
// EOB) of at most 27 bits (16-bit code, 11 extra bits) on top of up to 32
// pending bits, every byte stuffed, plus slack.
constexpr size_t kMaxBlockBits = 70 * 27 + 32;
constexpr size_t kMaxBlockBytes = 2 * ((kMaxBlockBits + 7) / 8) + 8;

// The entropy coder's hot path: pending bits in registers, output unchecked
// (the caller guarantees kMaxBlockBytes of room).
struct FastBits {
    uint64_t acc;
    int count;
    uint8_t* out;

    void put(uint32_t value, int len)
    {
        acc = (acc << len) | value;
        count += len;
        if (count < 32)
            return;
        count -= 32;
        const uint32_t w = uint32_t(acc >> count);
        const uint32_t inv = ~w;
        if (((inv - 0x01010101u) & ~inv & 0x80808080u) == 0) { // no 0xFF byte
            const uint32_t be = __builtin_bswap32(w);
            std::memcpy(out, &be, 4);
            out += 4;
            return;
        }
        for (int shift = 24; shift >= 0; shift -= 8) {
            const uint8_t b = uint8_t(w >> shift);
            *out++ = b;
            if (b == 0xFF)
                *out++ = 0;
        }
    }
};

} // namespace

int JpegEncoder::codeBlock(int16_t block[64], const JpegQuantTable& table, int& predictor,
                           const JpegHuffmanCodes& dc, const JpegHuffmanCodes& ac)
{
    static const ZigzagPosition zigzag;
    alignas(32) int16_t q[64];
    kernels_->fdct(block);
    uint64_t natural = kernels_->quantise(block, table, q) & ~uint64_t(1);
    uint64_t mask = 0; // non-zero AC coefficients by zigzag position
    int16_t zz[64];    // valid only where mask is set
    while (natural != 0) {
        const int at = __builtin_ctzll(natural);
        const int k = zigzag.of[at];
        zz[k] = q[at];
        mask |= uint64_t(1) << k;
        natural &= natural - 1;
    }

    // Write straight into the output when it has room for any block, else
    // into a staging area that is copied only as far as the output allows.
    uint8_t stage[kMaxBlockBytes];
    uint8_t* const cur = bits_.cursor();
    const bool direct = size_t(bits_.end() - cur) >= kMaxBlockBytes;
    FastBits w{bits_.pendingBits(), bits_.pendingCount(), direct ? cur : stage};

    // Baseline limits: DC differences of 11 magnitude bits, AC values of 10.
    // Samples in -128..127 stay inside them; anything beyond (only reachable
    // at the very edge of the fast transform's error) is saturated rather
    // than failing the whole picture.
    int diff = q[0] - predictor;
    diff = diff > 2047 ? 2047 : diff < -2047 ? -2047 : diff;
    predictor += diff;
    uint32_t mag = uint32_t(diff < 0 ? -diff : diff);
    int nb = mag ? 32 - __builtin_clz(mag) : 0;
    if (dc.length[nb] == 0)
        return 0;
    uint32_t extra = uint32_t(diff < 0 ? diff - 1 : diff) & ((1u << nb) - 1);
    w.put((uint32_t(dc.code[nb]) << nb) | extra, dc.length[nb] + nb);

    int last = 0;
    while (mask != 0) {
        const int k = __builtin_ctzll(mask);
        mask &= mask - 1;
        int run = k - last - 1;
        last = k;
        while (run > 15) {
            w.put(ac.code[0xF0], ac.length[0xF0]);
            run -= 16;
        }
        int v = zz[k];
        v = v > 1023 ? 1023 : v < -1023 ? -1023 : v;
        mag = uint32_t(v < 0 ? -v : v);
        nb = 32 - __builtin_clz(mag);
        if (ac.length[run * 16 + nb] == 0)
            return 0;
        const int symbol = run * 16 + nb;
        extra = uint32_t(v < 0 ? v - 1 : v) & ((1u << nb) - 1);
        w.put((uint32_t(ac.code[symbol]) << nb) | extra, ac.length[symbol] + nb);
    }
    if (last != 63)
        w.put(ac.code[0x00], ac.length[0x00]);

    if (direct) {
        bits_.resume(w.out, w.acc, w.count);
        return 1;
    }
    const size_t produced = size_t(w.out - stage);
    if (produced > size_t(bits_.end() - cur)) {
        bits_.fail();
        return 0;
    }
    std::memcpy(cur, stage, produced);
    bits_.resume(cur + produced, w.acc, w.count);
    return 1;
}

int JpegEncoder::encode_mcu(JpegMcuSamples& samples)
{
    return encode_mcu(samples, 0xF);
}

int JpegEncoder::encode_mcu(JpegMcuSamples& samples, unsigned luma_present)
{
    // Samples from outside may be anything; the transform is exact only for
    // the 8-bit range.
    for (auto& block : samples.blocks)
        for (int16_t& s : block)
            s = s > 127 ? int16_t(127) : s < -128 ? int16_t(-128) : s;
    return codeMcu(samples, luma_present);
}

int JpegEncoder::codeEmptyBlock(const JpegHuffmanCodes& dc, const JpegHuffmanCodes& ac)
{
    // Category 0 has no extra bits; end-of-block follows at once.
    bits_.put(dc.code[0], dc.length[0]);
    bits_.put(ac.code[0x00], ac.length[0x00]);
    return bits_.ok() ? 1 : 0;
}

int JpegEncoder::codeMcu(JpegMcuSamples& samples, unsigned luma_present)
{
    if (end_ == nullptr || !bits_.ok())
        return 0;
    for (int b = 0; b < 4; ++b) {
        const int ok = (luma_present >> b) & 1 ? codeBlock(samples.blocks[b], luma_, predictors_[0], dcLuma_, acLuma_)
                                               : codeEmptyBlock(dcLuma_, acLuma_);
        if (!ok)
            return 0;
    }
    if (!codeBlock(samples.blocks[4], chroma_, predictors_[1], dcChroma_, acChroma_))
        return 0;
    if (!codeBlock(samples.blocks[5], chroma_, predictors_[2], dcChroma_, acChroma_))
        return 0;
    return bits_.ok() ? 1 : 0;
}

int JpegEncoder::finish_scan()
{
    if (end_ == nullptr || !bits_.finish())
        return 0;
    uint8_t* at = bits_.cursor();
    if (end_ - at < 2)
        return 0;
    at[0] = 0xFF;
    at[1] = 0xD9;
    bits_.reset(at + 2, end_);
    end_ = nullptr; // the scan is closed
    return 1;
}

int JpegEncoder::encode_image(const uint8_t* pixels, uint8_t* out, size_t capacity, int width, int height,
                              size_t* outSize)
{
    if (outSize != nullptr)
        *outSize = 0;
    if (pixels == nullptr || outSize == nullptr || !writeHeaderSegments(width, height, out, capacity))
        return 0;

    const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    const int mcuCols = (width + 15) / 16;
    const int mcuRows = (height + 15) / 16;
    JpegMcuSamples samples;
    uint8_t edge[16][48];
    const uint8_t* rows[16];

    for (int my = 0; my < mcuRows; ++my) {
        const uint8_t* source[16];
        for (int i = 0; i < 16; ++i) {
            int r = my * 16 + i;
            if (r > height - 1)
                r = height - 1; // rows below the picture repeat the last one
            source[i] = pixels + size_t(height - 1 - r) * stride;
        }
        for (int mx = 0; mx < mcuCols; ++mx) {
            const int x0 = mx * 16;
            if (x0 + 16 <= width) {
                for (int i = 0; i < 16; ++i)
                    rows[i] = source[i] + size_t(x0) * 3;
            } else {
                // Columns right of the picture repeat the row's last pixel.
                const int valid = width - x0;
                for (int i = 0; i < 16; ++i) {
                    const uint8_t* s = source[i] + size_t(x0) * 3;
                    std::memcpy(edge[i], s, size_t(valid) * 3);
                    for (int c = valid; c < 16; ++c)
                        std::memcpy(edge[i] + c * 3, s + (valid - 1) * 3, 3);
                    rows[i] = edge[i];
                }
            }
            kernels_->convertMcu(rows, samples);
            if (!codeMcu(samples))
                return 0;
        }
    }
    if (!finish_scan())
        return 0;
    *outSize = size_t(bits_.cursor() - out);
    return 1;
}

} // namespace quillet
