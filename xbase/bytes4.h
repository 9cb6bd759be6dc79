#pragma once

// Little- and big-endian loads and stores of the fixed-width integers in the
// on-disk formats. Callers bound the offsets; these only assemble bytes.

#include <cstdint>

inline uint16_t bytes4get16le(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

[[nodiscard]] inline uint32_t bytes4get32le(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

[[nodiscard]] inline uint32_t bytes4get32be(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void bytes4put16le(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void bytes4put32le(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

inline void bytes4put32be(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (24 - 8 * i));
}
