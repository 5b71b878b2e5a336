#include "engine/playback/CursorPainter.h"

#include <lzo/lzo1x.h>

#include <cstring>
#include <mutex>

namespace quillet {

namespace {

bool lzoReady()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = lzo_init() == LZO_E_OK; });
    return ready;
}

bool isKey(const uint8_t* p) { return p[0] == 128 && p[1] == 128 && p[2] == 0; }

} // namespace

int CursorPainter::update(int32_t x, int32_t y, const uint8_t* picture, size_t size)
{
    x_ = x;
    y_ = y;
    if (!picture || size == 0)
        return 1;
    if (!lzoReady())
        return 0;
    uint8_t out[kPictureBytes];
    lzo_uint outLen = sizeof out;
    // The safe decompressor checks every read and write against both ends.
    if (lzo1x_decompress_safe(picture, size, out, &outLen, nullptr) != LZO_E_OK || outLen != kPictureBytes)
        return 0;
    std::memcpy(picture_, out, sizeof out);
    hasPicture_ = true;
    return 1;
}

void CursorPainter::clear()
{
    hasPicture_ = false;
    x_ = y_ = 0;
}

void CursorPainter::draw(ScreenPicture& pic) const
{
    if (!hasPicture_ || pic.pixels.empty())
        return;
    for (int r = 0; r < kSide; ++r) {
        const int32_t py = y_ + r;
        if (py < 0 || py >= pic.height)
            continue;
        const uint8_t* src = picture_ + size_t(kSide - 1 - r) * kSide * 4;
        uint8_t* dst = pic.row_from_top(py);
        for (int c = 0; c < kSide; ++c) {
            const int32_t px = x_ + c;
            if (px < 0 || px >= pic.width || isKey(src + c * 4))
                continue;
            uint8_t* d = dst + size_t(px) * 4;
            d[0] = src[c * 4 + 0];
            d[1] = src[c * 4 + 1];
            d[2] = src[c * 4 + 2];
            d[3] = 0xFF;
        }
    }
}

} // namespace quillet
