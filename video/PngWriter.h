#pragma once
#include <cstddef>
#include <cstdint>

#include "base/OutputSink.h"

// Writes 24-bit bottom-up bitmaps as RGB PNG files (8 bits per channel, no
// filtering, no interlace), building the whole file image in a caller's buffer
// of known capacity and optionally writing it to a sink in one write.
namespace quillet {

class PngWriter {
public:
    // Bytes of the file image that are not compressed data: signature, IHDR,
    // the IDAT length, type and CRC, and IEND.
    static constexpr size_t kOverheadBytes = 8 + 25 + 12 + 12;

    // pixels: B, G, R, rows bottom-up, row stride (width * 3 + 3) & ~3. The
    // rows are turned into R, G, B order in place (the caller's buffer is
    // changed). Returns n, the length of the compressed stream; the file
    // image is n + kOverheadBytes long. Returns 0, and writes nothing to the
    // sink, for bad arguments, a buffer too small for the file image, or a
    // sink that fails to take it.
    size_t write_png(uint8_t* pixels, int width, int height, uint8_t* out, size_t capacity,
                     OutputSink* file = nullptr);

    // Length of the last file image built (0 after a failure).
    size_t file_size() const { return fileSize_; }

private:
    size_t fileSize_ = 0;
};

} // namespace quillet
