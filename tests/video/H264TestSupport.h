#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Test helpers for the H.264 tests: a synthetic screen picture and a
// libavcodec decoder that records what it decodes.
namespace quillet::testing {

// A bottom-up frame of bpp 2 (RGB555), 3 or 4 bytes per pixel that looks like
// a desktop: a gradient, a window with text-like strokes, and a box that
// moves with frame_index.
std::vector<uint8_t> screen_frame(int32_t width, int32_t height, int bpp, int frame_index);

struct DecodedPicture {
    int32_t width = 0;
    int32_t height = 0;
    bool key_frame = false;
    bool intra = false; // picture type I
    std::vector<uint8_t> y, u, v; // upright, without padding
};

class TestH264Decoder {
public:
    // extradata: an avcC record for length-prefixed input, or none for Annex B.
    explicit TestH264Decoder(const std::vector<uint8_t>& extradata = {});
    ~TestH264Decoder();
    TestH264Decoder(const TestH264Decoder&) = delete;
    TestH264Decoder& operator=(const TestH264Decoder&) = delete;

    bool ok() const { return ok_; }
    // Decodes one access unit; returns false on any decoder error.
    bool decode(const uint8_t* data, size_t size);
    bool flush();

    std::vector<DecodedPicture> pictures;
    int errors = 0;

private:
    bool receive();
    void* ctx_ = nullptr;
    void* frame_ = nullptr;
    void* packet_ = nullptr;
    bool ok_ = false;
};

// PSNR in dB of two equally long planes (99 for identical ones).
double psnr(const uint8_t* a, const uint8_t* b, size_t n);

} // namespace quillet::testing
