#pragma once
// Moving a table handle's current record: by record number, in the order of
// the selected tag (none: record order), by key through the seek tag, and by
// relative position; and the choice of tags.
//
// A handle has one current record in its record buffer, numbered from 1 (0
// while an append is prepared, -1 when none is loaded). Every move first writes
// back a changed current record (table4writeChanged); a refusal or failure
// there stops the move with its result.
//
// Results: 0 done, 2 a seek stands on the next greater key, 3 end of file (eof
// set; the record number is count + 1 and the buffer blank), 4 before the
// first record (bof set, the first record loaded), 5 record missing (the quiet
// form of -70, as errGo chooses), 80 no tag to seek in; errors are negative.
//
// Index entries whose record lies beyond the record count (an append in
// progress in another process, or one that a crash cut short) are passed over:
// no move loads a record beyond the count. A handle that does not hold the
// file lock also checks, after a seek, that the record still has the key it
// was found by, and goes on to the next entry when another process changed it.
#include <cstdint>

#include "xbase/core/fwd4.h"

// Makes record n current: 0, 5 or an error. With the environment's readLock the
// record is locked first (a refused lock is the result).
[[nodiscard]] int32_t table4go(table4* t, int32_t n);
// Reads record n into the buffer and makes it current, with no write-back,
// range check or locking: 0, 5 (the record number is then -1) or an error.
[[nodiscard]] int32_t table4loadRecord(table4* t, int32_t n);
[[nodiscard]] int32_t table4goTop(table4* t);     // 0, or 3 for an empty table or tag
[[nodiscard]] int32_t table4goBottom(table4* t);  // 0, or 3 (bof set too)
[[nodiscard]] int32_t table4goEof(table4* t);     // 3
// Moves n records in order (negative: back): 0, 3, 4, or an error (-910
// without a current record).
[[nodiscard]] int32_t table4skip(table4* t, int32_t n);
// Seeks a key in the seek tag: a text (its length is the text's), or `length`
// bytes. A character key may be shorter than the tag's (it finds the first key
// that begins with it); keys of other types are values of the tag's own type
// (number and date text, binary values of the binary types). 0, 2, 3, 80 or an
// error.
[[nodiscard]] int32_t table4seek(table4* t, const char* text);
[[nodiscard]] int32_t table4seekN(table4* t, const char* key, int32_t length);
// As table4go, a missing record giving 5 whatever errGo says.
[[nodiscard]] int32_t table4goQuiet(table4* t, int32_t n);
// Makes current the record that the seek tag's entry of this whole key leads to, found by
// tag4probe: the tag does not move and the leaf is not checked whole, so the caller must
// verify from the record itself that it is the one sought (and seek when it is not). 0
// loaded, 2 no such entry or unsure, 5 the record is missing, or an error.
[[nodiscard]] int32_t table4probeN(table4* t, const char* key, int32_t length);
// Relative position from 0.0 to 1.0 in the current order; 1.1 at eof, -1.0 on
// error.
[[nodiscard]] double table4position(table4* t);
// Goes to a relative position: at most 0 the top, above 1 eof. 0, 3 or an error.
[[nodiscard]] int32_t table4setPosition(table4* t, double fraction);

// The handle's open index file that `name` names (default extension as for
// index files; the same file by device and inode), or null.
index4* table4index(table4* t, const char* name);
// The handle's tag named `name` (at most 10 characters, case and trailing
// blanks ignored); none: null, raising -330 when errTagName is set.
tag4* table4findTag(table4* t, const char* name);
// The tag seeks use: the selected one, else the first tag of the first index.
tag4* table4seekTag(table4* t);
// Selects the tag that gives the order (null: record order) and returns it; a
// tag of another handle is -930 and null.
tag4* table4selectTag(table4* t, tag4* tag);
tag4* table4selectedTag(table4* t);
