#pragma once

// The GENERAL collation of character keys: a text becomes a key of primary weights (case
// and accents folded, 10 or more) followed by secondary weights (accents, below 10) and
// zero fill, so that memcmp over keys sorts texts the way a reader expects. Characters 128
// to 255 are first mapped through the table of the data file's code page.

#include <cstdint>

// 256 primary weights, then 256 secondary weights, indexed by a Windows-1252 character.
// A primary weight of 255 marks a character that expands into the letter pair numbered
// by its secondary weight.
extern const uint8_t (&collate4weights)[512];

// The letter pairs of the expanding characters: O E, A E, T H, S S.
extern const char collate4expansions[9];

// The 128-byte table that maps characters 128 to 255 of a data file's code page: the
// identity for code pages 0 and 3, the code page 437 table for code page 1. 0 or -930.
[[nodiscard]] int collate4codePage(int codePage, const uint8_t** table);

// The collation key of `length` characters into at most `keyLength` bytes; returns the
// number of bytes written, or -930 / -935. A text of 2 x length >= keyLength gets the full
// key (trailing blanks dropped, primary part, secondary part, zero fill: keyLength bytes);
// a shorter text gets its primary weights only, as a search key that matches every stored
// key beginning with it. `codePage` is a table of collate4codePage, null for the identity.
[[nodiscard]] int collate4key(const uint8_t* text, int length, const uint8_t* codePage,
                              uint8_t* key, int keyLength);

// Compares a stored key with a search key under the collation, as far as the search key
// goes: 0 equal, -1 stored key smaller, 1 stored key greater. A blank weight in the search
// key that faces the end of the stored key's primary part is passed over. When the stored
// key ends during the secondary part, up to `zeroAllowance` zero bytes of the search key
// are passed over.
[[nodiscard]] int collate4compare(const uint8_t* stored, int storedLength, const uint8_t* search,
                                  int searchLength, int zeroAllowance);
