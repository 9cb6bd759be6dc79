#pragma once

#include <cstdint>

// Folding and hashing of names (stored Windows-1252 text, one byte at a time).

// One letter for each byte from 192 to 255: the accented letters' base letters. Index keys use
// the same table, so it is part of the stored format.
extern const char kFoldTable[65];

// Folds text in place for name searching: a-z and 0-9 stay, bytes listed in keep (may be null)
// stay as they are, A-Z become lower case, bytes 192 to 255 but 215 and 247 become their letter of
// kFoldTable, 140 and 156 become 'o', every other byte is removed. Returns text.
char* foldSearchChars(char* text, const char* keep);

// 4294967295 for null; otherwise h = first byte, then h = (h + 1) * c for each further byte, in
// 32-bit arithmetic with bytes taken as signed 8-bit values. Database IDs in change notices are
// such hashes of file names, so the formula must not change.
uint32_t hashString(const char* text);
