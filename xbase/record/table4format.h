#pragma once
// The bytes of a data file's header and field descriptors: the one place
// where they are read and written (table4format.cpp has the layout).
#include <cstdint>

#include "xbase/core/bytes4.h"

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

// Header byte 28, bit 0: the file has a production index (whose record locks take the
// high scheme, lock4.h).
constexpr uint8_t table4flagProduction = 0x01;

void table4headerEncode(const table4header& h, unsigned char out[table4headerSize]);
void table4headerDecode(const unsigned char in[table4headerSize], table4header& h);

// Pieces of the header read or rewritten on their own (bytes4slice: offsets from the
// file's start).
//
// The record count alone, as a count read past the buffers takes it: where it lies, and
// its value once its bytes are read there.
bytes4slice table4headerCountSlice();
int32_t table4headerDecodeCount(const bytes4slice& slice);
// An update in place: the version and date (`date`), the count (`count`, with the header
// length after it), or both, from `h`.
bytes4slice table4headerEncodeUpdate(const table4header& h, bool date, bool count);
// The flags byte alone.
bytes4slice table4headerEncodeFlags(uint8_t flags);
void table4descriptorEncode(const table4descriptor& d, unsigned char out[table4descriptorSize]);
void table4descriptorDecode(const unsigned char in[table4descriptorSize], table4descriptor& d);
