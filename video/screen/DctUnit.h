#pragma once
#include <cstddef>
#include <cstdint>

#include "video/JpegDct.h"
#include "video/JpegTables.h"
#include "video/screen/ConvertedBlock.h"

// DCT units of the screen codec: one 4:2:0 macroblock per unit of up to 2x2
// converted blocks. Blocks of a unit are indexed in walk order: 0 top-left,
// 1 bottom-left, 2 top-right, 3 bottom-right; a null block is absent (outside
// the region). The macroblock holds the luminance in JPEG order (top-left,
// top-right, bottom-left, bottom-right) and one Cb and one Cr block built
// from the blocks' 4x4 chroma quadrants.
namespace quillet::screen {

// Macroblock luminance position of each walk-order block.
constexpr int kMcuLumaOf[4] = {0, 2, 1, 3};

// Fills the macroblock samples (level-shifted by -128) from the unit's
// blocks. Quadrants of absent blocks repeat a present one (to the left, else
// above, else the top-left block, which is always present).
void unit_samples(const uint8_t* const blocks[4], JpegMcuSamples& out);

// Decoded macroblock samples, 0..255, in the layout of JpegMcuSamples.
struct McuPixels {
    uint8_t blocks[6][64];
};

// Builds the converted block of walk-order block b from a decoded macroblock.
void unit_block(const McuPixels& mcu, int b, uint8_t out[kBlockBytes]);

// Reads the DCT part of one region: MCU after MCU, with every read checked
// against the end of the data.
class DctReader {
public:
    DctReader();

    // data .. data + size is the DCT part (without the length field).
    void begin(const uint8_t* data, size_t size);
    // Decodes the next macroblock; luminance blocks whose bit (1 << b, in
    // macroblock order) is clear are read as the empty blocks they are and
    // left out of out. Returns 1, or 0 with reason() and offset() set.
    int decode_mcu(McuPixels& out, unsigned luma_wanted);

    const char* reason() const { return reason_; }
    size_t offset() const { return failAt_; }

private:
    struct Huffman {
        // Fast table of 9-bit prefixes: (length << 8) | symbol, 0 when longer.
        uint16_t fast[512];
        int32_t maxcode[18]; // largest code of each length, -1 when none
        int32_t valoffset[18];
        uint8_t symbols[256];
    };
    static void build(const JpegHuffmanSpec& spec, Huffman& h);
    void fill();
    int decodeSymbol(const Huffman& h);
    int bits(int n);
    int decodeBlock(int16_t coef[64], int& predictor, const Huffman& dc, const Huffman& ac);
    int fail(const char* why);

    Huffman dcLuma_, acLuma_, dcChroma_, acChroma_;
    float lumaScale_[64];   // de-quantising factors (divisor / 8), natural order
    float chromaScale_[64];
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    uint64_t acc_ = 0;  // bits, most significant first
    int count_ = 0;     // bits in acc_
    int fabricated_ = 0; // of them, padding bits past the end of the data
    int predictors_[3] = {0, 0, 0};
    const char* reason_ = nullptr;
    size_t failAt_ = 0;
};

// The inverse transform the decoder uses, for coefficients already scaled by
// the de-quantising factors: floating-point AAN, output divided by 8, rounded,
// shifted by 128 and clamped to 0..255.
void inverse_dct(const float in[64], uint8_t out[64]);

// The quantisation tables of the DCT part (quality 75, truncated divisors).
const JpegQuantTable& dct_luma_table();
const JpegQuantTable& dct_chroma_table();

} // namespace quillet::screen
