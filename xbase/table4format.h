#pragma once
// The bytes of a data file's header and field descriptors: the one place
// where they are read and written (table4format.cpp has the layout).
#include <cstdint>

constexpr int32_t table4headerSize = 32;
constexpr int32_t table4descriptorSize = 32;
constexpr uint8_t table4terminator = 0x0D;
constexpr uint8_t table4endOfFile = 0x1A;
constexpr int32_t table4backlinkSize = 263;  // zeros after the terminator of a 0x30 file
constexpr uint8_t table4version03 = 0x03;
constexpr uint8_t table4version30 = 0x30;

struct table4header {
    uint8_t version;
    uint8_t date[3];  // years since 1900, month, day
    int32_t count;
    uint16_t headerLen;
    uint16_t recordLen;
    uint8_t flags;
    uint8_t codePage;
};

struct table4descriptor {
    char name[11];  // NUL-terminated, at most 10 characters
    uint8_t type;
    uint16_t offset;
    uint8_t lenLow;   // byte 16
    uint8_t lenHigh;  // byte 17: decimals, or the high byte of a C length
    uint8_t flags;
};

constexpr uint8_t table4flagNullable = 0x02;
constexpr uint8_t table4flagBinary = 0x04;
constexpr uint8_t table4flagSystem = 0x01;

void table4headerEncode(const table4header& h, unsigned char out[table4headerSize]);
void table4headerDecode(const unsigned char in[table4headerSize], table4header& h);
// Bytes 0 to 9 (version, date, count, header length), as rewritten on update.
void table4headerEncodeFront(const table4header& h, unsigned char out[10]);
void table4descriptorEncode(const table4descriptor& d, unsigned char out[table4descriptorSize]);
void table4descriptorDecode(const unsigned char in[table4descriptorSize], table4descriptor& d);
