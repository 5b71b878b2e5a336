#pragma once
// Shared helpers of the image coder tests: synthetic pictures and decoding
// through the reference libraries (libjpeg, libpng, zlib).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillet::test {

// A 24-bit bottom-up B, G, R picture with rows padded to 4 bytes.
struct Bgr24Image {
    int width = 0;
    int height = 0;
    size_t stride = 0;
    std::vector<uint8_t> bytes;

    uint8_t* pixel(int x, int yFromTop) { return bytes.data() + size_t(height - 1 - yFromTop) * stride + size_t(x) * 3; }
    const uint8_t* pixel(int x, int yFromTop) const
    {
        return bytes.data() + size_t(height - 1 - yFromTop) * stride + size_t(x) * 3;
    }
};

Bgr24Image makeImage(int width, int height);
// Gradients, hard edges and a little noise: the mix a desktop shows.
Bgr24Image makePattern(int width, int height, uint32_t seed);
Bgr24Image makeNoise(int width, int height, uint32_t seed);

// A decoded picture: top-down R, G, B, 3 bytes per pixel, no padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Returns false (with the library's message in error) when decoding fails.
bool decodeJpeg(const uint8_t* data, size_t size, RgbImage& out, std::string& error);
bool decodePng(const uint8_t* data, size_t size, RgbImage& out, std::string& error);
bool inflateAll(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

// Top-down R, G, B of a bottom-up B, G, R picture.
RgbImage toRgb(const Bgr24Image& img);
double psnr(const RgbImage& a, const RgbImage& b);

} // namespace quillet::test
