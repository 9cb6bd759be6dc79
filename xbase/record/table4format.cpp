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
#include "xbase/record/table4format.h"

#include <cstring>

#include "xbase/core/bytes4.h"

namespace {

constexpr int kVersion = 0, kDate = 1, kCount = 4, kHeaderLength = 8, kRecordLength = 10,
              kFlags = 28, kCodePage = 29;
constexpr int kName = 0, kType = 11, kOffset = 12, kLength = 16, kDecimals = 17, kFieldFlags = 18;
constexpr int kNameLength = kType - 1;  // the 11th byte ends the name

// Version, date, count and header length: the front that an update rewrites.
void encodeFront(const table4header& h, unsigned char* out) {
    out[kVersion] = h.version;
    std::memcpy(out + kDate, h.date, kCount - kDate);
    bytes4put32le(out + kCount, static_cast<uint32_t>(h.count));
    bytes4put16le(out + kHeaderLength, h.headerLen);
}

}  // namespace

void table4headerEncode(const table4header& h, unsigned char out[table4headerSize]) {
    std::memset(out, 0, table4headerSize);
    encodeFront(h, out);
    bytes4put16le(out + kRecordLength, h.recordLen);
    out[kFlags] = h.flags;
    out[kCodePage] = h.codePage;
}

void table4headerDecode(const unsigned char in[table4headerSize], table4header& h) {
    h.version = in[kVersion];
    std::memcpy(h.date, in + kDate, kCount - kDate);
    h.count = static_cast<int32_t>(bytes4get32le(in + kCount));
    h.headerLen = bytes4get16le(in + kHeaderLength);
    h.recordLen = bytes4get16le(in + kRecordLength);
    h.flags = in[kFlags];
    h.codePage = in[kCodePage];
}

bytes4slice table4headerCountSlice() {
    return bytes4sliceOf(kCount, kHeaderLength);
}

int32_t table4headerDecodeCount(const bytes4slice& s) {
    return static_cast<int32_t>(bytes4get32le(s.bytes));
}

bytes4slice table4headerEncodeUpdate(const table4header& h, bool date, bool count) {
    unsigned char front[kRecordLength];
    encodeFront(h, front);
    const int from = date ? kVersion : kCount;
    const int end = count ? kRecordLength : kCount;
    bytes4slice s = bytes4sliceOf(from, end);
    std::memcpy(s.bytes, front + s.offset, static_cast<size_t>(s.size));
    return s;
}

bytes4slice table4headerEncodeFlags(uint8_t flags) {
    bytes4slice s = bytes4sliceOf(kFlags, kCodePage);
    s.bytes[0] = flags;
    return s;
}

void table4descriptorEncode(const table4descriptor& d, unsigned char out[table4descriptorSize]) {
    std::memset(out, 0, table4descriptorSize);
    for (int i = 0; i < kNameLength && d.name[i] != '\0'; ++i)
        out[kName + i] = static_cast<unsigned char>(d.name[i]);
    out[kType] = d.type;
    bytes4put16le(out + kOffset, d.offset);
    out[kLength] = d.lenLow;
    out[kDecimals] = d.lenHigh;
    out[kFieldFlags] = d.flags;
}

void table4descriptorDecode(const unsigned char in[table4descriptorSize], table4descriptor& d) {
    std::memset(d.name, 0, sizeof d.name);
    for (int i = 0; i < kNameLength && in[kName + i] != 0; ++i)
        d.name[i] = static_cast<char>(in[kName + i]);
    d.type = in[kType];
    d.offset = bytes4get16le(in + kOffset);
    d.lenLow = in[kLength];
    d.lenHigh = in[kDecimals];
    d.flags = in[kFieldFlags];
}
