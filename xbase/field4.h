#pragma once
// Reading and changing one field of a handle's current record.
//
// A field's bytes lie in its handle's record buffer at the field's offset,
// padded with blanks (binary fields: raw bytes). In a 0x30 table a nullable
// field has a bit in the trailing `_NullFlags` field: the bits are numbered in
// field order among the nullable fields only (bit b is bit b mod 8 of byte
// b / 8), as the format lays them out; a reader that counts every field agrees
// only while no field that cannot be null comes before one that can.
//
// Every call that writes a field's bytes marks the record changed and clears
// the field's null bit, so the value written is the value stored. Writing
// calls do nothing while an error is pending (-1410 or null).
#include <cstdint>

#include "xbase/fwd4.h"

const char* field4name(const field4* f);
// The type letter as callers see it: a binary C is 'Z', F is 'N', a binary M
// is 'X', others as stored. 0 for a null field.
char field4type(const field4* f);
[[nodiscard]] int32_t field4length(const field4* f);
// The field's bytes in the record buffer, for reading (not terminated).
const char* field4pointer(const field4* f);
// The same for writing: marks the record changed and clears the null bit;
// null when `_NullFlags` is missing or too short (-200).
char* field4writePointer(field4* f);
// Copies the text's bytes, at most the field length, and pads with blanks.
// 0; -970 for a field without a table or environment; -935; -1410.
[[nodiscard]] int32_t field4assign(field4* f, const char* text);
// The same with n bytes; a null `bytes` with n above 0 is -935, n below 0 -930.
[[nodiscard]] int32_t field4assignBytes(field4* f, const char* bytes, int32_t n);
// Zero bytes in a binary field, blanks in any other. 0 or the error.
[[nodiscard]] int32_t field4blank(field4* f);
// A NUL-terminated copy of the field's bytes in the environment's work buffer,
// valid until the next call that uses that buffer. Null on failure.
const char* field4string(const field4* f);
// Copies at most size - 1 bytes and a NUL into `buffer`; the count copied.
[[nodiscard]] int32_t field4copyString(const field4* f, char* buffer, int32_t size);
// Assigns `text` (null: empty) as field4assignBytes does. 0 or the error.
[[nodiscard]] int32_t field4setText(field4* f, const char* text);
// The text of a memo-type field. No memo file is kept, so this is the field's
// own record bytes, given NUL-terminated as `field4string` gives them.
const char* field4textPointer(const field4* f);
// Releases what field4textPointer gave: nothing to release. 0.
[[nodiscard]] int32_t field4releaseText(field4* f);
// 1 when the field's null bit is set, 0 when it is clear or the field cannot
// be null; -200 when `_NullFlags` is missing or too short.
[[nodiscard]] int32_t field4isNull(const field4* f);
