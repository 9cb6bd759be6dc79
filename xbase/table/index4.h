#pragma once
// Index files of tables: a table handle reaches an index file (index4file.h) through an
// `index4`, which carries a `tag4` for every tag of the file. Creating an index builds
// every tag from the table's records; the tags' key expressions are parsed against the
// table.
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/core/list4.h"
#include "xbase/index/index4file.h"
#include "xbase/index/tag4.h"

struct index4 {
    link4 link;  // in table4::indexes
    table4* table;
    env4* env;
    index4file* indexFile;
    char alias[index4nameMax + 1];
    list4 tags;  // tag4 records
};

// ---- handles on files of a table ----

// Creates the file (the table's production index when `name` is null: the data file's name
// with the index extension, which needs the data file held exclusive, else -20) and builds
// every tag of `tags` (ended by a null name) from the table's records. The file is made
// under the table's file lock, which stays with the table. Null on failure, with the error
// in the environment (20 when a unique tag refused a key); a file that failed is removed.
[[nodiscard]] index4* index4create(table4* table, const char* name, const tag4def* tags);
// Opens an existing file for a table handle (the production index when `name` is null).
[[nodiscard]] index4* index4open(table4* table, const char* name);
// Closes one handle's use of a file: 0 or the first error met.
[[nodiscard]] int32_t index4close(index4* index);
// Rebuilds every tag of the file from the table's records under table4lockAll: 0, 20
// (a unique tag refused a key), 50 (still locked by another), or an error.
[[nodiscard]] int32_t index4reindex(index4* index);
// When another process changed the file: every tag's nodes are dropped and the table's
// selected tag, when it is one of this handle's, stands again on the key and record number
// it stood on (or past the end). 0 or an error.
[[nodiscard]] int32_t index4refresh(index4* index);
// The handle's tag of this name, or null.
tag4* index4tag(index4* index, const char* name);

// ---- keys of records ----

// The key of the table's current record (the table of the tag's index handle): its length,
// with *key pointing at it (valid until the next evaluation), or an error.
[[nodiscard]] int32_t tag4exprKey(tag4* tag, const char** key);
// Adds the current record's key under `record` with the handle's duplicate-key code; a
// filter that is false adds nothing. 0, 20, 25, or an error (-340 for a duplicate or, in a
// candidate tag, a null key under codes -340 and -360).
[[nodiscard]] int32_t tag4addRecord(tag4* tag, int32_t record);
// Removes the current record's entry for `record`: 0, 5 when there is none, or an error.
[[nodiscard]] int32_t tag4removeRecord(tag4* tag, int32_t record);
