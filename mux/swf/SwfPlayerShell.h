#pragma once
#include <cstddef>
#include <cstdint>

namespace quillet {

// The compiled player that SWF recordings of quality levels 0 to 3 carry: a
// complete uncompressed SWF whose tags start at offset 32 and whose last 4
// bytes are ShowFrame and End. Empty (size 0) when the build had no compiler
// for it.
struct SwfPlayerShell {
    const uint8_t* data = nullptr;
    size_t size = 0;
};
SwfPlayerShell swfPlayerShell();

// A shell of this size or less is not used.
constexpr size_t kSwfPlayerShellMinimum = 3000;
constexpr size_t kSwfPlayerShellTagsOffset = 32;
constexpr size_t kSwfPlayerShellTrailer = 4;

} // namespace quillet
