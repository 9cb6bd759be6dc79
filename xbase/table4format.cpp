// Data file header and field descriptors (integers little-endian).
//
// Header, 32 bytes:
//
//   | offset | size | content                                                  |
//   |--------|------|----------------------------------------------------------|
//   | 0      | 1    | version: 0x03, or 0x30 (extended types, null flags)      |
//   | 1      | 3    | date of the last update: years since 1900, month, day    |
//   | 4      | 4    | record count (signed, never negative)                    |
//   | 8      | 2    | header length: offset of the first record                |
//   | 10     | 2    | record length, deletion byte included                    |
//   | 12     | 16   | zero                                                     |
//   | 28     | 1    | flags: bit 0 the file has a production index             |
//   | 29     | 1    | code page mark                                           |
//   | 30     | 2    | zero                                                     |
//
// Field descriptor, 32 bytes, one per field from offset 32, then 0x0D:
//
//   | offset | size | content                                                  |
//   |--------|------|----------------------------------------------------------|
//   | 0      | 11   | name, upper case, NUL-filled (at most 10 characters)     |
//   | 11     | 1    | type letter                                              |
//   | 12     | 2    | offset of the field in the record (deletion byte is 0)   |
//   | 14     | 2    | zero                                                     |
//   | 16     | 1    | length (C: low byte of the length)                       |
//   | 17     | 1    | decimals (C: high byte of the length)                    |
//   | 18     | 1    | flags: 0x02 may be null, 0x04 binary (_NullFlags: 0x05)  |
//   | 19     | 13   | zero                                                     |
//
// A 0x03 file has 0x1A right after the terminator (the header length does not
// count it); a 0x30 file has 263 zero bytes there instead, counted.
#include "xbase/table4format.h"

#include <cstring>

namespace {

void put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, int32_t v) {
    auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(u >> (8 * i));
}

uint16_t get16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

int32_t get32(const unsigned char* p) {
    uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = (u << 8) | p[i];
    return static_cast<int32_t>(u);
}

}  // namespace

void table4headerEncodeFront(const table4header& h, unsigned char out[10]) {
    out[0] = h.version;
    std::memcpy(out + 1, h.date, 3);
    put32(out + 4, h.count);
    put16(out + 8, h.headerLen);
}

void table4headerEncode(const table4header& h, unsigned char out[table4headerSize]) {
    std::memset(out, 0, table4headerSize);
    table4headerEncodeFront(h, out);
    put16(out + 10, h.recordLen);
    out[28] = h.flags;
    out[29] = h.codePage;
}

void table4headerDecode(const unsigned char in[table4headerSize], table4header& h) {
    h.version = in[0];
    std::memcpy(h.date, in + 1, 3);
    h.count = get32(in + 4);
    h.headerLen = get16(in + 8);
    h.recordLen = get16(in + 10);
    h.flags = in[28];
    h.codePage = in[29];
}

void table4descriptorEncode(const table4descriptor& d, unsigned char out[table4descriptorSize]) {
    std::memset(out, 0, table4descriptorSize);
    for (int i = 0; i < 10 && d.name[i] != '\0'; ++i)
        out[i] = static_cast<unsigned char>(d.name[i]);
    out[11] = d.type;
    put16(out + 12, d.offset);
    out[16] = d.lenLow;
    out[17] = d.lenHigh;
    out[18] = d.flags;
}

void table4descriptorDecode(const unsigned char in[table4descriptorSize], table4descriptor& d) {
    std::memset(d.name, 0, sizeof d.name);
    for (int i = 0; i < 10 && in[i] != 0; ++i) d.name[i] = static_cast<char>(in[i]);
    d.type = in[11];
    d.offset = get16(in + 12);
    d.lenLow = in[16];
    d.lenHigh = in[17];
    d.flags = in[18];
}
