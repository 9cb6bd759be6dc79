#pragma once

#include <cstdint>

// Sortable index keys of values: numbers, dates and folded text, each ordered correctly by a plain
// byte comparison, and the pattern test that search filters run directly on such keys. Keys are
// stored in the index files, so every byte below is part of the storage format.
//
// A key is exactly L bytes (L = the database's key length), optionally followed by a zero byte:
//
//   value class                byte 0       rest
//   binary value (first byte 2) 255         all 255
//   number, positive           18           digits d as 20 + d; the integer part ends at byte P
//                                           (P = integer digits), decimals from byte P + 1, the
//                                           places around filled with the code of 0 (20) or,
//                                           for an upper bound, 29 after the digits
//   number, negative           17           the same with every digit as 29 - d, filled with 29
//   date or time               18 (17 BC)   the 16 digits yyyyyymmddhhmmss placed like a number
//                                           with 10 integer digits
//   text                       >= 20, or 1  4-bit letter codes (below), an end mark, three tail
//                                           bytes (uncoded characters + 17, case word / 239 + 17,
//                                           case word % 239 + 17), then fill (17, or 255 high)
//
// Text codes are a prefix code whose numeric order follows the alphabet (two-nibble codes start
// with 1, 3, 5, 7, 10 or 15): digits 0-9 14-1D; a e i n o r s t u 2 4 6 8 9 B C D E; b c d 31-33;
// f g h 51-53; j k l m 71-74; p q A1 A2; v w x y z F1-F5. Upper case takes the lower-case code,
// bytes 192-255 (but 198 and 230) fold to a letter (the search folding table), 140, 156, 198 and
// 230 take the code of 'e'; every other byte has no code and is skipped. The case word (16384 for
// lower case, 0 for a leading capital, 32768 for a leading accented letter, plus 2^(14-k) for an
// accented letter in place k = 1..14) orders texts that fold alike.

// The lengths of a database that keys depend on.
struct ZTKeyLengths {
    int32_t lenKey;
    int32_t integerDigits;
    int32_t decimalDigits;

    // decimal digits max(lenKey - 16, 3), integer digits the rest but the sign byte.
    static ZTKeyLengths forKeyLength(int32_t lenKey);
};

// Value classes of guessValueType.
constexpr int kValueText = 0;
constexpr int kValueCheckNumber = 1;  // 12 digits whose last two are the first ten modulo 97
constexpr int kValueNumber = 2;
constexpr int kValueDate = 4;

// The class of a value (its 'i' section when that is not empty). A date or time is what the
// date parser accepts whole; a number has at least one digit, at most one leading '-', one '.',
// and blanks only around it, within the database's digit counts.
int guessValueType(const ZTKeyLengths& lengths, const char* text);

// Writes the key of value into key (L bytes, L + 1 with terminate). noTail leaves out the three
// tail bytes of a text key; high builds the upper bound of a range; asText skips the class test;
// length, when not 0, replaces lenKey for text keys only.
void makeKey(const ZTKeyLengths& lengths, const char* value, char* key, bool terminate, bool noTail,
             bool high, bool asText, int length = 0);

// A number or date key: first byte 17 or 18.
bool isNumericKey(const char* key);

// Tests a key against a pattern key: op '<' key not above the pattern, '>' not below (over lenKey
// bytes); op 0 the pattern's codes begin the key; any other op the key contains the pattern's
// codes. Walks stop at the end mark or at lenKey bytes, whichever comes first.
bool matchKeyPattern(const ZTKeyLengths& lengths, const char* key, const char* pattern, int op);
