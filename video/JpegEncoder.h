#pragma once
#include <cstddef>
#include <cstdint>

#include "video/JpegBitWriter.h"
#include "video/JpegDct.h"
#include "video/JpegTables.h"

// Baseline JFIF encoder for 24-bit bottom-up bitmaps: table-driven full-range
// colour conversion, 4:2:0 in 16x16 MCUs (chroma taken from the top-left
// pixel of each 2x2 group), the fast integer DCT, the Annex K tables scaled by
// quality and no restart intervals.
//
// Input: B, G, R pixels, rows bottom-up, row stride (width * 3 + 3) & ~3.
// Every call is told the output capacity; a file that does not fit makes the
// call return 0 without writing past the end. All results are 1 or 0.
// Not thread-safe; use one encoder per thread.
namespace quillet {

class JpegEncoder {
public:
    static constexpr int kDefaultQuality = 75;
    static constexpr int kMaxDimension = 65535; // the frame header holds 16 bits

    JpegEncoder() : JpegEncoder(kDefaultQuality) {}
    explicit JpegEncoder(int quality);

    // q is clamped to 1..100. rounding: whether the quantiser's divisors carry
    // the rounding term of the standard encoder (Nearest) or are truncated.
    void set_quality(int q, DivisorRounding rounding = DivisorRounding::Nearest);
    int quality() const { return quality_; }
    int scale() const { return scale_; }
    const JpegQuantTable& luma_table() const { return luma_; }
    const JpegQuantTable& chroma_table() const { return chroma_; }

    // Selects the arithmetic variant (all give identical bytes); the default
    // is jpegKernels().
    void set_kernels(const JpegKernels& kernels) { kernels_ = &kernels; }

    // Writes a complete JPEG file into out[0 .. capacity) and stores its
    // length in *outSize. Returns 0 (and *outSize = 0) for null pointers, a
    // width or height outside 1..65535 or too small a buffer. The input must
    // hold stride * height bytes.
    int encode_image(const uint8_t* pixels, uint8_t* out, size_t capacity, int width, int height,
                     size_t* outSize);

    // Header-only mode: writes SOI through SOS for the given size, resets the
    // DC predictors and the bit accumulator and leaves the cursor after SOS.
    // The caller then appends scan data, either its own bytes at cursor() or
    // MCUs through encode_mcu() followed by finish_scan().
    int write_headers(int width, int height, uint8_t* out, size_t capacity);
    // Transforms, quantises and codes one MCU of level-shifted samples
    // (-128..127; others are clamped) at the cursor. The samples are
    // transformed in place. Valid after write_headers().
    int encode_mcu(JpegMcuSamples& samples);
    // The same with some of the four luminance blocks left out: a block
    // whose bit (1 << b) is clear in luma_present is coded as an empty block,
    // a DC difference of 0 and end-of-block, and its samples are ignored.
    int encode_mcu(JpegMcuSamples& samples, unsigned luma_present);
    // Pads the pending bits with 1-bits and appends EOI (FF D9).
    int finish_scan();

    // Scan-only mode for coders that carry entropy-coded data in a format of
    // their own: starts a scan at out without any header segment (DC
    // predictors 0, no pending bits). MCUs follow through encode_mcu(), and
    // end_scan() pads the last byte with 1-bits, writing no marker.
    int begin_scan(uint8_t* out, size_t capacity);
    int end_scan();

    uint8_t* cursor() const { return bits_.cursor(); }
    size_t bytes_written(const uint8_t* start) const { return size_t(bits_.cursor() - start); }

    static constexpr size_t kHeaderBytes = 2 + 18 + 2 * 69 + 19 + (4 * 21 + 12 + 162 + 12 + 162) + 14;

private:
    int codeMcu(JpegMcuSamples& samples, unsigned luma_present = 0xF);
    int codeEmptyBlock(const JpegHuffmanCodes& dc, const JpegHuffmanCodes& ac);
    int writeHeaderSegments(int width, int height, uint8_t* out, size_t capacity);
    // Transforms the block in place, then quantises and codes it.
    int codeBlock(int16_t block[64], const JpegQuantTable& table, int& predictor,
                  const JpegHuffmanCodes& dc, const JpegHuffmanCodes& ac);

    int quality_ = kDefaultQuality;
    int scale_ = 50;
    JpegQuantTable luma_;
    JpegQuantTable chroma_;
    JpegHuffmanCodes dcLuma_, acLuma_, dcChroma_, acChroma_;
    const JpegKernels* kernels_;
    int predictors_[3] = {0, 0, 0};
    uint8_t* end_ = nullptr;
    JpegBitWriter bits_;
};

} // namespace quillet
