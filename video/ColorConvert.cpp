#include "video/ColorConvert.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/SimdSwitch.h"
#include "video/ColorConvertKernels.h"

namespace quillet {

const ColorConvertKernels* color_convert_kernels(SimdLevel level)
{
    switch (level) {
    case SimdLevel::Scalar:
        return &scalar_color_convert_kernels();
#if defined(QUILLET_X86_SIMD)
    case SimdLevel::Sse2:
        return &sse2_color_convert_kernels(); // part of the x86-64 baseline
    case SimdLevel::Avx2:
        return __builtin_cpu_supports("avx2") ? &avx2_color_convert_kernels() : nullptr;
#else
    default:
        return nullptr;
#endif
    }
    return nullptr;
}

const ColorConvertKernels& select_color_convert_kernels(bool force_scalar)
{
    if (!force_scalar) {
        for (SimdLevel level : {SimdLevel::Avx2, SimdLevel::Sse2})
            if (const ColorConvertKernels* k = color_convert_kernels(level))
                return *k;
    }
    return scalar_color_convert_kernels();
}

const ColorConvertKernels& active_color_convert_kernels()
{
    static const ColorConvertKernels& chosen = [] () -> const ColorConvertKernels& {
        return select_color_convert_kernels(scalarKernelsForced());
    }();
    return chosen;
}

const char* color_convert_path_name()
{
    return active_color_convert_kernels().name;
}

namespace {

bool valid_size(int32_t width, int32_t height)
{
    return width > 0 && height > 0 && (width % 2) == 0 && (height % 2) == 0;
}

bool valid_planes(const I420Planes& dst)
{
    return dst.y != nullptr && dst.u != nullptr && dst.v != nullptr;
}

// Output rows [row_begin, row_end) and columns [col_begin, col_end), all even.
void convert_region(const uint8_t* src, int bpp, int32_t width, int32_t height, bool bottom_up,
                    int32_t row_begin, int32_t row_end, int32_t col_begin, int32_t col_end, const I420Planes& dst)
{
    const ColorConvertKernels& k = active_color_convert_kernels();
    const RowPairFn fn = bpp == 3 ? k.bgr24_row_pair : k.bgra32_row_pair;
    const ptrdiff_t stride = static_cast<ptrdiff_t>(width) * bpp;
    const int32_t count = col_end - col_begin;
    for (int32_t row = row_begin; row < row_end; row += 2) {
        const int32_t s0row = bottom_up ? height - 1 - row : row;
        const int32_t s1row = bottom_up ? s0row - 1 : s0row + 1;
        const uint8_t* s0 = src + s0row * stride + static_cast<ptrdiff_t>(col_begin) * bpp;
        const uint8_t* s1 = src + s1row * stride + static_cast<ptrdiff_t>(col_begin) * bpp;
        uint8_t* y0 = dst.y + row * dst.stride_y + col_begin;
        uint8_t* y1 = y0 + dst.stride_y;
        uint8_t* u = dst.u + (row / 2) * dst.stride_u + col_begin / 2;
        uint8_t* v = dst.v + (row / 2) * dst.stride_v + col_begin / 2;
        fn(s0, s1, count, y0, y1, u, v);
    }
}

} // namespace

int convert_to_i420(const uint8_t* src, PixelLayout layout, int32_t width, int32_t height, bool bottom_up,
                    const I420Planes& dst)
{
    const int bpp = bytes_per_pixel(layout);
    if (src == nullptr || bpp == 0 || !valid_size(width, height) || !valid_planes(dst))
        return 0;
    convert_region(src, bpp, width, height, bottom_up, 0, height, 0, width, dst);
    return 1;
}

int convert_rect_to_i420(const uint8_t* src, PixelLayout layout, int32_t width, int32_t height, bool bottom_up,
                         const Rect& area, const I420Planes& dst)
{
    const int bpp = bytes_per_pixel(layout);
    if (src == nullptr || bpp == 0 || !valid_size(width, height) || !valid_planes(dst))
        return 0;
    // Widen to whole chroma blocks: down to even on the left/top, up past the
    // inclusive right/bottom to the next even coordinate.
    const int64_t left = std::max<int64_t>(0, area.left & ~int64_t(1));
    const int64_t top = std::max<int64_t>(0, area.top & ~int64_t(1));
    const int64_t right = std::min<int64_t>(width, (int64_t(area.right) + 2) & ~int64_t(1));
    const int64_t bottom = std::min<int64_t>(height, (int64_t(area.bottom) + 2) & ~int64_t(1));
    if (left >= right || top >= bottom)
        return 1;
    convert_region(src, bpp, width, height, bottom_up, static_cast<int32_t>(top), static_cast<int32_t>(bottom),
                   static_cast<int32_t>(left), static_cast<int32_t>(right), dst);
    return 1;
}

int copy_i420(const uint8_t* src, int32_t width, int32_t height, bool bottom_up, const I420Planes& dst)
{
    if (src == nullptr || !valid_size(width, height) || !valid_planes(dst))
        return 0;
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    struct Plane {
        const uint8_t* src;
        uint8_t* dst;
        ptrdiff_t dst_stride;
        int32_t w, h;
    };
    const Plane planes[3] = {
        {src, dst.y, dst.stride_y, width, height},
        {src + luma, dst.u, dst.stride_u, width / 2, height / 2},
        {src + luma + luma / 4, dst.v, dst.stride_v, width / 2, height / 2},
    };
    for (const Plane& p : planes) {
        for (int32_t i = 0; i < p.h; ++i) {
            const int32_t from = bottom_up ? p.h - 1 - i : i;
            std::memcpy(p.dst + i * p.dst_stride, p.src + static_cast<ptrdiff_t>(from) * p.w, static_cast<size_t>(p.w));
        }
    }
    return 1;
}

int copy_i420(const I420Picture& src, const I420Planes& dst)
{
    if (src.empty())
        return 0;
    return copy_i420(src.data(), src.width(), src.height(), src.bottom_up, dst);
}

int Rgb555Expander::set_size(int32_t width, int32_t height)
{
    buffer_.reset();
    bytes_ = 0;
    width_ = 0;
    height_ = 0;
    if (width <= 0 || height <= 0)
        return 0;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    buffer_.reset(new (std::nothrow) uint8_t[bytes]());
    if (!buffer_)
        return 0;
    bytes_ = bytes;
    width_ = width;
    height_ = height;
    return 1;
}

int Rgb555Expander::expand_rgb555(const uint8_t* src)
{
    if (buffer_ == nullptr || src == nullptr)
        return 0;
    active_color_convert_kernels().rgb555_to_bgra32(src, buffer_.get(), bytes_ / 4);
    return 1;
}

} // namespace quillet
