#pragma once
// Unsigned integers stored in a fixed byte order, as file formats keep them.
#include <cstdint>

namespace jx {

inline uint16_t LittleEndian16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t BigEndian16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void PutLittleEndian16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutLittleEndian32(uint8_t* p, uint32_t v) {
    PutLittleEndian16(p, v & 0xFFFF);
    PutLittleEndian16(p + 2, v >> 16);
}

}  // namespace jx
