#pragma once
// Inside the record layer: what navigation (table4nav.cpp) and record writing
// (table4write.cpp) share. Callers outside use table4nav.h and table4write.h.
#include <cstdint>

#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/fwd4.h"
#include "xbase/index4header.h"

// Entry checks of the record layer's calls: 0 to go on, else the result.
[[nodiscard]] int32_t table4enter(table4* t, error4span<2> location);

// The file is shared with other processes (and other handles) that may write.
bool table4openShared(const table4file* d);

// The handle may change the record count without asking: it holds the append
// or the file lock, or the file is not shared.
bool table4holdsCount(const table4* t);

// One record's key for one tag.
struct table4key {
    bool passes;  // the record passes the tag's filter (true without one)
    bool isNull;  // a nullable field the key expression reads is null
    uint8_t bytes[tag4maxKeyLength + 1];
};

// The key of `record` (an image of the handle's record) for `tag`: built only
// for a record that passes the filter, unless `always`. 0, or an error (-310
// for a key whose length is not the tag's).
[[nodiscard]] int32_t table4keyOf(table4* t, tag4* tag, const char* record, table4key* out,
                                  bool always = false);

// 1 when record n lies within the record count, 0 when not, or an error. The
// count is read again only when n lies beyond the one last seen.
[[nodiscard]] int32_t table4recordExists(table4* t, int32_t n);

// Past the last record: record number count + 1, eof set (and bof for an empty
// table), the buffer blank. 3, or an error.
[[nodiscard]] int32_t table4goEofLow(table4* t);

// Fills the record buffer with a blank record (not marked changed).
void table4blankBuffer(table4* t);
