#pragma once
// Locking of tables: the record, append and file locks of a data file, made of
// the file layer's byte-range locks (file4lock) that serialise processes
// sharing a file, with per-file bookkeeping that lets the handles of one
// environment see each other's locks without asking the system; and the index
// locks of the table's index files (index4lock), taken with the data file's.
//
// Lock bytes of a data file lie beyond its data, so they never block reads
// or writes of records (each is one open-file-description lock, exclusive):
//
//   | lock                 | first byte                                     | length     |
//   |----------------------|------------------------------------------------|------------|
//   | record n, high scheme| 0x7FFFFFFE - n                                 | 1          |
//   | record n, low scheme | 0x40000000 + header length + (n - 1) x reclen  | 1          |
//   | append               | 0x7FFFFFFE                                     | 1          |
//   | whole file           | 0x40000000                                     | 0x3FFFFFFF |
//
// The high scheme serves files of version 0x30 and files whose header flags
// byte has bit 0 set; the low scheme every other file. The whole-file range
// ends at the append byte, so it covers every record byte of both schemes and
// the append byte: a file lock excludes other processes' record locks and
// appends alike.
//
// Limit: a record lock byte must stay below the append byte. In the low
// scheme that holds while the record starts less than 0x3FFFFFFE bytes
// (about 1 GiB) into the file; in the high scheme for record numbers up to
// 0x3FFFFFFE. A record beyond the limit cannot be locked (e4tableFull), so
// an append that would create one is refused before it writes anything.
//
// Locks belong to the `file4` (its open file description). The handles of one
// environment share the file's `table4file` and its `file4`; since locks of
// one description merge, the bookkeeping never lets two handles, or one
// handle twice, lock overlapping ranges of it. A file that is read-only needs
// no system lock; a file opened exclusive or deny-write counts as locked in
// full by every handle, and every data-file lock succeeds at once.
//
// Block buffers of a shared file: what was written under a lock is written
// back from the buffer before the lock goes, and taking the append or the file
// lock drops the file's buffered blocks, so the holder reads what others wrote.
// Record locks drop nothing: with write-behind on a shared file, a block written
// back carries its neighbouring records as this process last read them, so
// writers that change records in place hold the file lock.
//
// Failed attempts are tried again `lockAttempts` times (negative: forever,
// 0 counts as 1) with a wait of `lockDelay` hundredths of a second between.
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/core/list4.h"
#include "xbase/file/file4.h"

constexpr int64_t lock4fileStart = 0x40000000;
constexpr int64_t lock4fileLength = 0x3FFFFFFF;
constexpr int64_t lock4appendByte = 0x7FFFFFFE;
constexpr int32_t lock4highMaxRecord = 0x3FFFFFFE;

// One record lock of a data file; the entries of a table4file are kept in
// ascending record order and come from the environment's lock pool.
struct lock4 {
    link4 link;
    int32_t owner;     // lock owner number of the holding handle
    table4* holder;    // the holding handle
    int32_t recNo;     // record number, 1 upwards
    int64_t position;  // the byte locked; released exactly as taken
};

// True when `data` locks records by the high scheme. Every record lock and
// release decides by this one test.
bool lock4highScheme(const table4file* data);
// The lock byte of record n (n at least 1), or -1 when n lies beyond the limit.
[[nodiscard]] int64_t lock4recordPosition(const table4file* data, int32_t n);

// Record n (at least 1, else -930; beyond the limit e4tableFull). 0 at once
// when this handle holds record n or the file lock.
[[nodiscard]] int32_t table4lockRecord(table4* t, int32_t n);
[[nodiscard]] int32_t table4lockAppend(table4* t);
[[nodiscard]] int32_t table4lockFile(table4* t);
// The file lock, then every index file of the table.
[[nodiscard]] int32_t table4lockAll(table4* t);
// Every index file of the data file for `owner`, retried as a group: 0 gives
// one round, n > 0 gives n + 1 rounds, a negative count never runs out.
[[nodiscard]] int32_t table4lockIndexes(table4file* data, int32_t owner);
// Releases everything this handle holds, writing back its changed record
// first (table4writeBack) and the record count when it changed: 0 or an error. A failed
// write-back keeps the locks. In a file not opened shared the handle counts as
// holding every lock: the write-back and the count still happen.
[[nodiscard]] int32_t table4unlock(table4* t);
// 1 when table4unlock has something to release (a lock of the handle on the data file or
// on one of its index files; any file not opened shared), else 0. Reads no file.
[[nodiscard]] int32_t table4holdsLocks(const table4* t);
// Release of single locks, as the automatic releases do it: nothing while
// unlockAuto is 0. The append lock writes the changed count and date first;
// record n is released when this handle holds it. 0 or an error.
[[nodiscard]] int32_t table4unlockAppend(table4* t);
[[nodiscard]] int32_t table4unlockRecord(table4* t, int32_t n);
// 1 when this handle holds record n or the file lock, or the file is not
// shared; else 0.
[[nodiscard]] int32_t table4isRecordLocked(const table4* t, int32_t n);

// For table4close: releases the handle's locks as table4unlock does and, if
// that fails, still forgets and unlocks whatever the handle held, so that no
// entry outlives its handle. Returns table4unlock's result.
[[nodiscard]] int32_t lock4dropHandle(table4* t);
