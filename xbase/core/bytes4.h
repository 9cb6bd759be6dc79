#pragma once

// Little- and big-endian loads and stores of the fixed-width integers in the
// on-disk formats: the one set the library uses. Callers bound the offsets;
// these only assemble bytes.

#include <cstdint>

inline uint16_t bytes4get16le(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

[[nodiscard]] inline uint32_t bytes4get32le(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

[[nodiscard]] inline uint64_t bytes4get64le(const uint8_t* p) {
    return uint64_t(bytes4get32le(p)) | (uint64_t(bytes4get32le(p + 4)) << 32);
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

inline void bytes4put64le(uint8_t* p, uint64_t v) {
    bytes4put32le(p, uint32_t(v));
    bytes4put32le(p + 4, uint32_t(v >> 32));
}

inline void bytes4put32be(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (24 - 8 * i));
}

// A piece of an on-disk structure that is read or rewritten on its own: `size`
// bytes at `offset` from the structure's start. The structure's codec says
// where the piece lies and what its bytes hold; the caller reads or writes them.
struct bytes4slice {
    int32_t offset = 0;
    int32_t size = 0;
    uint8_t bytes[16] = {};
};

// The piece from `offset` up to `end` (its bytes zero).
inline bytes4slice bytes4sliceOf(int32_t offset, int32_t end) {
    bytes4slice s;
    s.offset = offset;
    s.size = end - offset;
    return s;
}
