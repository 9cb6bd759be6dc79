#pragma once

// The 1024-byte header of a tag of a compound index file; the tag directory at offset 0
// has the same layout. tag4headerDecode trusts nothing in the bytes: a header that
// another program (or a damaged disk) wrote is refused with a code, never half-read.

#include <cstdint>
#include <string>

inline constexpr int tag4headerSize = 1024;
inline constexpr int tag4maxKeyLength = 240;
inline constexpr int tag4maxExpressionLength = 254;  // characters, without the terminating zero

// Option bits of a header.
inline constexpr uint8_t tag4optUnique = 1;
inline constexpr uint8_t tag4optCandidate = 4;
inline constexpr uint8_t tag4optFilter = 8;
inline constexpr uint8_t tag4optCompact = 32;
inline constexpr uint8_t tag4optCompound = 64;
inline constexpr uint8_t tag4optDirectory = 128;

struct tag4header {
    uint32_t root = 0;           // offset of the root node
    uint32_t freeHead = 0;       // first free node; meaningful in the directory header only
    uint32_t changeCounter = 0;  // meaningful in the directory header only
    uint16_t keyLength = 0;
    uint8_t options = 0;
    uint8_t signature = 1;
    bool general = false;     // keys are GENERAL collation keys
    bool descending = false;  // keys are stored ascending and read backwards
    std::string expression;   // key expression text
    std::string filter;       // filter text; empty when the tag has no filter
};

// The header of a new tag directory: options 224, key length 10, no collation, ascending.
tag4header tag4headerDirectory(uint32_t root);

// Writes the whole header (1024 bytes). -930 when the header cannot be written as given: a
// key length outside 1 to 240, a text longer than 254 characters or holding a zero byte,
// a filter text without option 8 or option 8 without a filter text, options without 32.
[[nodiscard]] int tag4headerEncode(const tag4header& header, uint8_t out[tag4headerSize]);

// Reads a whole header. 0, or -310 for a wrong signature, options without 32, a key length
// outside 1 to 240, a root that is not a node offset, an unknown collation name or a
// descending field other than 0 and 1; -910 for expression or filter lengths that do not
// fit (over 255 with the zero, a text not ending where its length says).
[[nodiscard]] int tag4headerDecode(const uint8_t in[tag4headerSize], tag4header* out);

// The first 16 bytes (root, free head, change counter, key length, options, signature):
// what the change counter write stores and the change check rereads.
inline constexpr int tag4headerPrefixSize = 16;
void tag4headerEncodePrefix(const tag4header& header, uint8_t out[tag4headerPrefixSize]);
void tag4headerDecodePrefix(const uint8_t in[tag4headerPrefixSize], tag4header* out);
