#pragma once
#include <cstdint>

// Baseline JPEG constants and the tables derived from a quality setting:
// quantisation entries, the quantiser's divisors (which also absorb the
// scaling left in by the fast integer DCT), the colour look-up tables and the
// Huffman code tables.
namespace quillet {

// Natural (row-major) index of each zigzag position.
extern const uint8_t kJpegZigzag[64];

// ITU-T T.81 Annex K.1 / K.2 quantisation tables, natural order.
extern const uint8_t kJpegLumaQuant[64];
extern const uint8_t kJpegChromaQuant[64];

// Scale factors the fast DCT leaves in its output, a(u, v) =
// round(16384 * f(u) * f(v)), f(0) = 1, f(k) = sqrt(2) * cos(k * pi / 16).
const uint16_t* jpegAanScale();

// A Huffman table as stored in a DHT segment: bit counts for code lengths
// 1..16 and the symbols in code order.
struct JpegHuffmanSpec {
    uint8_t bits[16];
    const uint8_t* symbols;
    int symbolCount;
};

// Annex K.3 .. K.6 typical tables.
extern const JpegHuffmanSpec kJpegDcLuma;
extern const JpegHuffmanSpec kJpegAcLuma;
extern const JpegHuffmanSpec kJpegDcChroma;
extern const JpegHuffmanSpec kJpegAcChroma;

// Per-symbol code and length; a length of 0 means the symbol has no code.
struct JpegHuffmanCodes {
    uint16_t code[256];
    uint8_t length[256];
};

// Builds the canonical codes of a table (T.81 Annex C). Returns 1, or 0 when
// the bit counts describe more codes than fit (an invalid table).
int buildHuffmanCodes(const JpegHuffmanSpec& table, JpegHuffmanCodes& out);

// Quality 1..100 (0 counts as 1, above 100 as 100) to the percentage applied
// to the base tables.
int jpegQualityScale(int quality);
int clampJpegQuality(int quality);

// One quantisation table with everything the quantiser needs, 32-byte aligned
// for the vector kernels.
struct alignas(32) JpegQuantTable {
    uint16_t divisors[64];  // (entry * a(u, v) + 1024) >> 11, natural order
    uint16_t halves[64];    // divisor >> 1, the rounding term
    float divisorsF[64];    // the same divisors as floats for vector division
    uint8_t entries[64];    // what the DQT segment carries, natural order
};

enum class DivisorRounding { Nearest, Truncate };

// Fills a table from a base table and a scale percentage. Entries are
// (base * scale + 50) / 100 clamped to 1..255.
void buildQuantTable(const uint8_t base[64], int scale, JpegQuantTable& out,
                     DivisorRounding rounding = DivisorRounding::Nearest);

// Fixed-point (16 fractional bits) colour conversion products for i = 0..255.
struct JpegColourTables {
    int32_t rY[256], gY[256], bY[256];
    int32_t rCb[256], gCb[256], bCbrCr[256]; // B->Cb and R->Cr share one table
    int32_t gCr[256], bCr[256];
};
const JpegColourTables& jpegColourTables();

} // namespace quillet
