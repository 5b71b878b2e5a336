#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillet {

// Compresses `size` bytes in the LZO1X format with the LZO1X-1 compressor,
// replacing the contents of `out`. Returns 1, or 0 when the library cannot be
// initialised. Inputs of 13 bytes or less come out as one literal run; every
// stream ends with the marker 0x11, 0, 0.
int lzo1x1Compress(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

} // namespace quillet
