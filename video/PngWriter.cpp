#include "video/PngWriter.h"

#include <zlib.h>

#include "base/ByteOrder.h"
#include "video/DeflateStream.h"

namespace quillet {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr size_t kIdatDataOffset = 8 + 25 + 8;

// Length, type and CRC around chunk data that already sits at at + 8.
void closeChunk(uint8_t* at, const char* type, size_t dataLength)
{
    putBE32(at, uint32_t(dataLength));
    for (int i = 0; i < 4; ++i)
        at[4 + i] = uint8_t(type[i]);
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), at + 4, uInt(4 + dataLength));
    putBE32(at + 8 + dataLength, uint32_t(crc));
}

} // namespace

size_t PngWriter::write_png(uint8_t* pixels, int width, int height, uint8_t* out, size_t capacity,
                            OutputSink* file)
{
    fileSize_ = 0;
    // Rows must stay addressable by zlib's 32-bit counts.
    if (pixels == nullptr || out == nullptr || width <= 0 || height <= 0 || width > 0x7FFFFFFF / 4 ||
        capacity <= kOverheadBytes)
        return 0;

    DeflateStream z;
    if (!z.open())
        return 0;
    z.setOutput(out + kIdatDataOffset, capacity - kOverheadBytes);

    const size_t rowBytes = size_t(width) * 3;
    const size_t stride = (rowBytes + 3) & ~size_t(3);
    static const uint8_t kNoFilter = 0;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + size_t(height - 1 - y) * stride; // top row first
        // A sync flush after the filter byte and after each row keeps every
        // row byte-aligned in the stream.
        if (!z.feed(&kNoFilter, 1, Z_SYNC_FLUSH))
            return 0;
        for (size_t x = 0; x < rowBytes; x += 3) {
            const uint8_t blue = row[x];
            row[x] = row[x + 2];
            row[x + 2] = blue;
        }
        if (!z.feed(row, rowBytes, Z_SYNC_FLUSH))
            return 0;
    }
    if (!z.feed(nullptr, 0, Z_FINISH))
        return 0;
    const size_t n = z.totalOut();
    if (n < 1)
        return 0;

    for (int i = 0; i < 8; ++i)
        out[i] = kSignature[i];
    uint8_t* ihdr = out + 8;
    putBE32(ihdr + 8, uint32_t(width));
    putBE32(ihdr + 12, uint32_t(height));
    ihdr[16] = 8; // bit depth
    ihdr[17] = 2; // colour type RGB
    ihdr[18] = 0; // deflate compression
    ihdr[19] = 0; // adaptive filtering with five basic types
    ihdr[20] = 0; // no interlace
    closeChunk(ihdr, "IHDR", 13);
    closeChunk(out + 33, "IDAT", n);
    closeChunk(out + 45 + n, "IEND", 0);

    const size_t total = n + kOverheadBytes;
    if (file != nullptr && !file->write(out, total))
        return 0;
    fileSize_ = total;
    return n;
}

} // namespace quillet
