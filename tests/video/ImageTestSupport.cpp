#include "tests/video/ImageTestSupport.h"

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace quillet::test {

namespace {

uint32_t nextRandom(uint32_t& s)
{
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

struct JpegErrorTrap {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onJpegError(j_common_ptr cinfo)
{
    auto* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, trap->message);
    longjmp(trap->jump, 1);
}

// A corrupt-data warning means a broken stream: treat it as an error.
void onJpegWarning(j_common_ptr cinfo, int level)
{
    if (level < 0)
        onJpegError(cinfo);
}

} // namespace

Bgr24Image makeImage(int width, int height)
{
    Bgr24Image img;
    img.width = width;
    img.height = height;
    img.stride = (size_t(width) * 3 + 3) & ~size_t(3);
    img.bytes.assign(img.stride * size_t(height), 0);
    return img;
}

Bgr24Image makePattern(int width, int height, uint32_t seed)
{
    Bgr24Image img = makeImage(width, height);
    uint32_t s = seed;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = img.pixel(x, y);
            const int noise = int(nextRandom(s) % 9) - 4;
            int r = (x * 255) / (width > 1 ? width - 1 : 1);
            int g = (y * 255) / (height > 1 ? height - 1 : 1);
            int b = ((x + y) * 2) & 0xFF;
            if (((x / 24) + (y / 16)) % 5 == 0) { // blocks of flat colour with hard edges
                r = 250;
                g = 250;
                b = 40;
            }
            if (y % 37 == 5 && x % 3 != 0) { // thin dark "text" lines
                r = g = b = 20;
            }
            auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
            p[0] = clamp(b + noise);
            p[1] = clamp(g + noise);
            p[2] = clamp(r + noise);
        }
    }
    return img;
}

Bgr24Image makeNoise(int width, int height, uint32_t seed)
{
    Bgr24Image img = makeImage(width, height);
    uint32_t s = seed;
    for (auto& b : img.bytes)
        b = uint8_t(nextRandom(s));
    return img;
}

bool decodeJpeg(const uint8_t* data, size_t size, RgbImage& out, std::string& error)
{
    jpeg_decompress_struct cinfo;
    JpegErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = onJpegError;
    trap.mgr.emit_message = onJpegWarning;
    if (setjmp(trap.jump)) {
        error = trap.message;
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out.width = int(cinfo.output_width);
    out.height = int(cinfo.output_height);
    out.rgb.assign(size_t(out.width) * size_t(out.height) * 3, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.rgb.data() + size_t(cinfo.output_scanline) * size_t(out.width) * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool decodePng(const uint8_t* data, size_t size, RgbImage& out, std::string& error)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) {
        error = image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    out.width = int(image.width);
    out.height = int(image.height);
    out.rgb.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) {
        error = image.message;
        png_image_free(&image);
        return false;
    }
    // The simplified reader only warns about CRC or stream damage it can
    // survive; a valid file produces no warning at all.
    if (image.warning_or_error != 0) {
        error = std::string("libpng warning: ") + image.message;
        return false;
    }
    return true;
}

bool inflateAll(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    out.clear();
    int rc = Z_OK;
    uint8_t chunk[65536];
    while (rc == Z_OK) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    }
    const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

RgbImage toRgb(const Bgr24Image& img)
{
    RgbImage out;
    out.width = img.width;
    out.height = img.height;
    out.rgb.resize(size_t(img.width) * size_t(img.height) * 3);
    uint8_t* d = out.rgb.data();
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x, d += 3) {
            const uint8_t* p = img.pixel(x, y);
            d[0] = p[2];
            d[1] = p[1];
            d[2] = p[0];
        }
    return out;
}

double psnr(const RgbImage& a, const RgbImage& b)
{
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty())
        return 0.0;
    double sum = 0.0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const double d = double(a.rgb[i]) - double(b.rgb[i]);
        sum += d * d;
    }
    if (sum == 0.0)
        return 99.0;
    const double mse = sum / double(a.rgb.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace quillet::test
