#pragma once
#include <cstdint>

// Fixed byte-order stores and loads for file formats. The caller guarantees room.
namespace quillet {

inline void putBE16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void putBE24(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 16); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v); }
inline void putBE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
inline void putBE64(uint8_t* p, uint64_t v) { putBE32(p, uint32_t(v >> 32)); putBE32(p + 4, uint32_t(v)); }
inline void putLE16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void putLE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

inline uint32_t getBE16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
inline uint32_t getBE24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }
inline uint32_t getBE32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint64_t getBE64(const uint8_t* p) { return uint64_t(getBE32(p)) << 32 | getBE32(p + 4); }
inline uint32_t getLE16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
inline uint32_t getLE32(const uint8_t* p)
{
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

} // namespace quillet
