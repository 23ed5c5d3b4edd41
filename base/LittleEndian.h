#pragma once
// 32-bit numbers as the files and the gzip trailer store them: least significant byte first, alike
// on every build. No windows.h: the readers of untrusted bytes use it.
#include <cstdint>

inline uint32_t readLittle32(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void writeLittle32(unsigned char* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}
