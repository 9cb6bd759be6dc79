#pragma once
// Writing records: the record buffer written back as record n with every index
// key kept in step, appends, pack, flush, refresh and rebuilding the indexes.
//
// A change to the keys is all or nothing: when a unique tag refuses a key (20,
// or error -340) or a disk write fails, every tag gets back exactly the keys it
// held and the data file its bytes (a refused write also gets the old record
// back into the buffer). Order of the writes: keys first, then the record, then
// (for an append) the header's count. A crash between them leaves index entries
// that disagree with the data file (entries for records beyond the count, keys
// of a record's previous contents); navigation never loads a record beyond the
// count, and the indexes are made whole again by a rebuild (table4reindex).
//
// Tags of index files opened unshared are changed without the index lock, and
// their nodes reach the disk when they leave the node cache, at table4flush and
// at close. In a data file opened exclusive the header's count is written at
// table4flush and at close; otherwise at once after each append.
//
// An append may not create a record whose lock byte would pass the lock limit
// (see lock4.h; about 1 GiB of data in a plain file) or whose bytes would end
// beyond 2 GiB: e4tableFull, and nothing is written.
#include <cstdint>

#include "xbase/core/fwd4.h"

// Writes the buffer as record n (-1: the current record) under record n's lock:
// 0, 20 (refused; the buffer holds the old record again), 50 (locked elsewhere)
// or an error (-120 read-only, at eof, or beyond the count). With `unlock` and
// a non-zero unlockAuto, table4unlock follows unless the handle holds the file
// lock.
[[nodiscard]] int32_t table4write(table4* t, int32_t n, int unlock);
// Writes the current record back when it changed (else only clears the flag),
// then unlocks as table4write does. 0, 20, 50 or an error.
[[nodiscard]] int32_t table4writeChanged(table4* t, int unlock);
// Writes back a changed record and readies the handle for an append (record
// number 0; the buffer keeps its contents); its locks are released when
// unlockAuto is non-zero, unless it holds the file lock. The second argument is
// not used.
[[nodiscard]] int32_t table4beginAppend(table4* t, int32_t ignored);
// Appends the buffer as record count + 1 under the append lock (taken and
// released here unless the handle holds it, or the file lock): 0, 20 (refused;
// record number 0, the buffer as it was), 50, or an error.
[[nodiscard]] int32_t table4append(table4* t);
// Removes the records marked deleted ("*") in place, under the file lock, and
// rebuilds the handle's index files. 0 or an error; no record is current after.
[[nodiscard]] int32_t table4pack(table4* t);
// Writes back the current record (and, for a file opened exclusive, the header)
// and flushes the data file and its index files to disk. 0 or an error.
[[nodiscard]] int32_t table4flush(table4* t);
// Forgets the buffered blocks of the data file and its index files (those not
// opened exclusive) and every tag's nodes, so that the next access reads the
// disk. An index file whose lock this process holds is left as its lock left it
// (read afresh when others had written it). 0, or -1 when something could not
// be written back first.
[[nodiscard]] int32_t table4refresh(table4* t);
// Writes back a changed record and rebuilds every index file of the handle:
// 0, 20 (a unique tag refused a key), 50 or an error (-120 read-only). The
// locks taken stay with the handle.
[[nodiscard]] int32_t table4reindex(table4* t);

// The record write-back of table4unlock: table4writeChanged without an unlock.
[[nodiscard]] int32_t table4writeBack(table4* t);
