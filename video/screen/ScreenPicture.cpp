#include "video/screen/ScreenPicture.h"

#include <new>

namespace quillet {

int ScreenPicture::allocate(int32_t w, int32_t h)
{
    width = height = 0;
    pixels.clear();
    if (w <= 0 || h <= 0)
        return 0;
    try {
        pixels.assign(size_t(w) * size_t(h) * 4, 0);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    // Black, with the fourth byte set as every painted pixel has it.
    for (size_t i = 3; i < pixels.size(); i += 4)
        pixels[i] = 0xFF;
    width = w;
    height = h;
    return 1;
}

} // namespace quillet
