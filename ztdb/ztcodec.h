#pragma once

#include <cstdint>
#include <vector>

#include "ztdb/ztstr.h"

// Byte encodings that the engine stores in its tables. They are storage formats: every byte below
// is what databases on disk hold.
//
// Base-255 numbers: a fixed number of digits, most significant first, each digit d (0 to 254)
// stored as the byte d + 1, so that no byte is ever zero and every key field stays a valid
// zero-terminated string. Two digits hold 0 to 65024 (also the engine's "no record" value). A
// value too large for its digits loses its high part.
//
// Packed text (kind 1):
//   byte 0      1
//   byte 1      decoded length n when 1 to 254; 255 when n >= 255; absent for an empty value
//   bytes 2-3   only after 255: n as two base-255 digits
//   then        4-bit codes, high half of each byte first, ending at a zero code (or at the
//               terminating zero byte):
//                 0          end
//                 1 h l      the byte with high half h and low half l
//                 2 m        the next code's character (m + 1) * 4 times (runs of bytes < 128)
//                 3 d        the digit '0' + d
//                 4 to 14    one of " lnrstaeiou"
//                 15         the byte 0
//
// Packed binary (kind 2):
//   byte 0      2
//   bytes 1-2   decoded length n as two base-255 digits (always two)
//   from 3      per byte, high half first: 15 for 0; 14 h l for 208 to 255; otherwise h + 1, l
//
// No byte of either is zero but the terminator: a zero nibble can only be the last one, standing
// in the high half of the terminating zero, and both decoders read it as 0.
//
// Decoders take the zero-terminated stored form and never read past its terminator: damaged
// bytes give false, never a read or write out of bounds.

void writeBase255(uint32_t value, unsigned char* out, int digits);
// 0 for fewer than 1 digit. Inline: every row read decodes its columns with it.
inline uint32_t readBase255(const unsigned char* in, int digits) {
    // A digit byte d stands for d - 1, and a zero byte for 0: d - (d != 0), without a branch.
    // The widths of the row columns are spelt out; others take the loop.
    const auto d = [in](int i) { return uint32_t(in[i]) - uint32_t(in[i] != 0); };
    switch (digits) {
        case 2:
            return d(0) * 255 + d(1);
        case 3:
            return (d(0) * 255 + d(1)) * 255 + d(2);
        case 4:
            return ((d(0) * 255 + d(1)) * 255 + d(2)) * 255 + d(3);
        default:
            break;
    }
    uint32_t v = 0;
    for (int i = 0; i < digits; ++i) v = v * 255 + d(i);
    return v;
}
void encodeShort255(uint32_t value, unsigned char* out);  // two digits
uint32_t decodeShort255(const unsigned char* in);

// When text (may be null) has a section tagged 'i', copies its value into out and returns true.
bool getITag(const char* text, ZTStr* out);

// Inputs of this many bytes or more are never packed.
constexpr uint32_t kMaxPackedLength = 65024;

// Kind-1 packing of n bytes into out. Returns the size ratio in percent, or 0 when the input is
// too long or packs too poorly (out unchanged); the caller then stores the value unpacked.
uint32_t packText(const unsigned char* data, uint32_t n, ZTStr* out);
// Decodes a kind-1 value into out (exactly n bytes, no terminator; empty for an empty value).
// False (out empty) for a wrong kind, a premature end, an overlong repeat or damaged bytes.
bool unpackText(const char* encoded, std::vector<char>* out);

// Kind-2 packing; returns the ratio in percent, 0 on failure (out unchanged).
uint32_t packBinary(const unsigned char* data, uint32_t n, ZTStr* out);
// Decodes a kind-2 value into out; false (out empty) for a wrong kind or damaged bytes.
bool unpackBinary(const unsigned char* encoded, std::vector<unsigned char>* out);
// Decodes into the caller's buffer. Length 0: true, n 0. A length over the capacity, a wrong kind
// or damaged bytes: false, n 0. In those cases the buffer's first byte (when it has one) is 0.
bool unpackBinaryInto(const unsigned char* encoded, unsigned char* buffer, uint32_t capacity,
                      uint32_t* n);
// The decoded length of a kind-2 value; 0 when it is not one.
uint32_t packedBinaryLength(const unsigned char* encoded);
