#pragma once
// What callers read and set on a table handle: alias, flags, the record
// buffer and its place in the file, the fields by number or name, and the
// handle of an alias in an environment.
//
// The record buffer's first byte is the deletion byte ("*" deleted, anything
// else live); the fields follow at their offsets. Fields are numbered from 1
// and a 0x30 table's trailing `_NullFlags` field is not among them: it is the
// library's own. Calls that only read the handle answer whatever error is
// pending; `table4blank`, `table4isBof`, `table4isEof`, `table4fieldByName`
// and `env4tableByAlias` do nothing (-1410 or null) while one is.
#include <cstdint>

#include "xbase/fwd4.h"

const char* table4alias(const table4* t);
// Copies at most 32 characters of `text`, upper-cased. 0, or -935.
[[nodiscard]] int32_t table4setAlias(table4* t, const char* text);
// Fills the record buffer with a blank record (binary fields zeroed in a
// 0x30 table, null flags cleared) and marks it changed. 0, or -1410.
[[nodiscard]] int32_t table4blank(table4* t);
// The flag (0 or 1), or -1410.
[[nodiscard]] int32_t table4isBof(const table4* t);
[[nodiscard]] int32_t table4isEof(const table4* t);
// 1 when the deletion byte is "*", else 0: other programs leave other bytes
// there in live records.
[[nodiscard]] int32_t table4isDeleted(const table4* t);
// Data fields, `_NullFlags` not counted.
[[nodiscard]] int32_t table4fieldCount(const table4* t);
// The record count as this handle sees it (the held count while it holds the
// append or file lock, else the header's).
[[nodiscard]] int32_t table4recordCount(table4* t);
[[nodiscard]] int32_t table4recordNumber(const table4* t);
char* table4recordBuffer(table4* t);
// File offset of record n: header length + (n - 1) x record length. n below 1,
// or a record beyond the 32-bit offsets of the file layer, is -930.
[[nodiscard]] int32_t table4recordPosition(table4* t, int32_t n);
// Record length, deletion byte included.
[[nodiscard]] int32_t table4recordWidth(const table4* t);
// Field n (1 = first); out of range is -930 and null.
field4* table4field(table4* t, int32_t n);
// The field whose name equals `name` upper-cased and without surrounding
// blanks (at most 255 characters read). None: null, raising -210 when
// `errFieldName` is set.
field4* table4fieldByName(table4* t, const char* name);
// The open handle whose alias equals `alias` (case ignored); with `byName`
// also one open on the data file that `alias` names as a path (default
// extension as for `table4open`). None: null; more than one: -910 and null.
table4* env4tableByAlias(env4* env, const char* alias, int byName);
