#pragma once
// Data files: dBASE-format tables (version 0x03, or 0x30 with the extended
// field types and null flags), made with `table4create`, opened with
// `table4open` and closed with `table4close`.
//
// One `table4file` exists per open data file and environment, shared by every
// handle (`table4`) the environment opens on it. "The same file" means the
// same device and inode, whatever the path. A data file's default extension
// is "dbf"; a name given without one opens "name.dbf" or, failing that,
// "name.DBF".
//
// Every header field read from disk is checked before it is used: a damaged
// or foreign header gives -200, never a crash or an oversized allocation.
#include <cstdint>

#include "xbase/file4.h"
#include "xbase/fwd4.h"
#include "xbase/list4.h"

constexpr int16_t field4nullable = 190;  // field4def::nulls marking a field that may be null

// Field kinds.
constexpr int8_t field4kindOther = 0;
constexpr int8_t field4kindBinary = 1;
constexpr int8_t field4kindMemo = 2;

// One requested field; a list ends with an entry whose name is null.
struct field4def {
    const char* name;
    int16_t type;  // type letter: C N F D L, and with compatibility 30 I T Y B X Z
    uint16_t len;
    int16_t dec;
    int16_t nulls;  // field4nullable: may hold null (0x30 tables only)
};

// One requested tag of a production index; a list ends with a null name.
struct tag4def {
    const char* name;
    const char* expression;
    const char* filter;
    int16_t unique;
    int16_t descending;
};

struct field4 {
    char name[11];  // up to 10 characters, upper case
    uint16_t len;
    uint16_t dec;
    uint16_t type;    // stored type letter, upper case
    uint16_t offset;  // in the record; the deletion byte is offset 0
    table4* table;
    int8_t nullable;  // 0x30 tables: has a bit in _NullFlags
    int16_t nullBit;
    int8_t kind;  // field4kindBinary, field4kindMemo or field4kindOther
};

struct table4file {
    link4 link;  // in env4::dataFiles
    file4 file;
    env4* env;
    char* name;  // full path
    int32_t useCount;
    // Header bytes 0 to 9 as last read or written.
    uint8_t version;
    uint8_t date[3];      // years since 1900, month, day
    int32_t headerCount;  // record count last read from the header
    uint16_t headerLen;
    uint16_t recordLen;  // deletion byte included
    int32_t fieldCount;  // descriptors, _NullFlags included
    int32_t memoFieldCount;
    int32_t heldCount;  // count kept while the append lock is held; -1 not valid
    uint8_t flags;      // header byte 28: bit 0 production index
    uint8_t codePage;   // header byte 29
    int8_t headerChanged;
    int8_t dateChanged;
    int8_t countChanged;
    int8_t valid;
    unsigned char* fieldBytes;  // the descriptors as read, 32 bytes each
    int32_t fieldBytesLen;
    int32_t appendLockOwner;  // lock owner number, 0 when not held
    table4* appendLockHolder;
    int32_t fileLockOwner;
    table4* fileLockHolder;
    list4 recordLocks;  // lock4 entries in record order
    list4 indexFiles;   // open index4file records
    // The record buffer that tag key expressions read (expr4setTable).
    char* currentRecord;
};

struct table4 {
    link4 link;  // in env4::tables
    env4* env;
    table4file* dataFile;
    char alias[33];
    int32_t recNum;  // current record; -1 none, 0 while an append is prepared
    int8_t bof;
    int8_t eof;
    int8_t recordChanged;
    int8_t readOnly;
    char* record;          // recordLen + 1 bytes
    char* recordOld;       // copy of the record as read
    int32_t recordOldNum;  // record held by recordOld; -1 invalid
    char* blankRecord;     // 0x30 tables: blank with binary fields zeroed
    field4* fields;
    int32_t fieldCount;
    list4 indexes;  // open index4 handles
    tag4* selectedTag;
    int32_t lockOwner;
    uint8_t codePage;
};

[[nodiscard]] table4* table4create(env4* env, const char* name, const field4def* fields,
                                   const tag4def* tags);
[[nodiscard]] table4* table4open(env4* env, const char* name);
// 0 or the error met; a pending error is cleared for the close, restored and returned.
[[nodiscard]] int32_t table4close(table4* t);
// The record count: the held count for a caller holding the append lock,
// else the count last read from the header (read now when none is held).
[[nodiscard]] int32_t table4recordCountLow(table4file* data, int32_t owner);
// Writes the header's version and date (withDate) and the held count
// (withCount; needs the append lock or a file held whole).
[[nodiscard]] int32_t table4writeHeader(table4file* data, int withDate, int withCount);
// The data file open in `env` under `name` (full path and default extension as
// for table4open; the same file by device and inode), or null.
table4file* table4fileFind(env4* env, const char* name);
// True while this process may change the record count without asking:
// it holds the append or file lock, or the file is not open shared.
bool table4fileHoldsCount(const table4file* data);

[[nodiscard]] int32_t table4setReadAhead(table4* t, int mode);
[[nodiscard]] int32_t table4setWriteBehind(table4* t, int mode);

[[nodiscard]] table4* table4createForward(env4* env, const char* name, const field4def* fields,
                                          const tag4def* tags);
[[nodiscard]] table4* table4openForward(env4* env, const char* name);
[[nodiscard]] int32_t table4closeForward(table4* t);
