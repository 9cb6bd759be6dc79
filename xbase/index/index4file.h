#pragma once
// Compound index files: one `index4file` per open file and environment, shared by every
// table handle that opened it (each through an `index4`). The file holds the tag
// directory (a tag whose keys are the tag names) and the tags, each a B+ tree (tag4.h).
//
// Changes between processes are made under the index lock (one byte at 0x7FFFFFFE); the
// change counter in the directory header tells other processes that the file changed, so
// that they drop the nodes they hold. Nodes that a change no longer needs go on the
// free-node list and are reused before the file grows.
//
// This is the index layer's part: index4fileOpen and index4fileClose work on a file
// without a data file too (keys are then given raw to the tag functions). The handles of
// tables on these files (index4open, index4create) are the table layer's (index4.h).
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/core/list4.h"
#include "xbase/file/file4.h"

inline constexpr int32_t index4lockByte = 0x7FFFFFFE;
// Characters of an index name or path: a whole Linux path (PATH_MAX less its terminator), so
// that a database deep in a folder tree keeps its index files.
inline constexpr int32_t index4nameMax = 4095;

struct index4file {
    link4 link;  // in table4file::indexFiles
    env4* env;
    file4 file;
    table4file* dataFile;  // null for a file opened without one
    int32_t useCount;
    int8_t compound;       // 0: a single-tag file whose only tag is the header at offset 0
    tag4file* directory;   // the tag directory (the single tag of a single-tag file)
    list4 tags;            // tag4file records in header order
    uint32_t versionOld;   // change counter last read from or written to the file
    uint32_t version;      // change counter in memory; differs while a change is unwritten
    uint32_t freeHead;     // first free node, 0 none
    int32_t fileLength;    // where index4extend appends
    int32_t lockOwner;     // 0 when the index lock is free
    uint32_t recordCount;  // without a data file: the record count leaf widths follow
    int8_t viewHeld;       // index4viewHold: the change counter is read once while held
    int8_t viewChecked;    // it was read (and found unmoved, or adopted) while held
    uint64_t versionSeq;   // the change sequence (file4seq) at which versionOld was found on
                           // the disk; while the sequence stays there the counter is not read
};

// Opens an index file and reads its directory and tag headers. `name` is a path; a single-
// tag file needs `tagName`. Tags get the key type 'C' until their expressions are known.
// Returns the record (use count 1) or null with the error raised.
[[nodiscard]] index4file* index4fileOpen(env4* env, table4file* data, const char* path,
                                         const char* tagName);
// Writes what changed, releases the lock and frees everything: 0 or the first error.
[[nodiscard]] int32_t index4fileClose(index4file* file);
// The tag of this name (upper case, no blanks), or null.
tag4file* index4fileTag(index4file* file, const char* name);

// The record count leaf widths follow (the data file's, or the one given for a file
// opened without a data file).
[[nodiscard]] uint32_t index4recordCount(index4file* file);

// ---- nodes and the change counter ----

// Marks the start of a change: the counter in memory becomes the value last written plus
// one (nothing when it is advanced already).
void index4versionAdvance(index4file* file);
// A node for the caller: the head of the free list, or a new node at the end of the file.
// Only while the counter is advanced (else -310). The offset, or a negative error.
[[nodiscard]] int32_t index4extend(index4file* file);
// Puts a node on the free list: 0 or an error.
[[nodiscard]] int32_t index4freeNode(index4file* file, int32_t offset);
// Stores the change counter and the free-list head in the directory header when the
// counter changed (the roots are the tags' own, written by tag4flush): 0 or an error.
[[nodiscard]] int32_t index4versionWrite(index4file* file);
// Rereads the counter past the block buffers: 1 when another process changed the file
// (adopting the new value and free-list head when `adopt`), 0 when not, or an error.
// Always 0 while this process holds the index lock or the file is not shared, and while a
// held view was checked already (see index4viewHold).
[[nodiscard]] int32_t index4versionCheck(index4file* file, int adopt);
// A reader without the lock holds its view of the file (hold 1) for a span of reads in which
// it asks for no newer one: the first check of the counter in the span reads it, and every
// later one takes the view as current, without a read of the disk, until the span ends (hold
// 0) or index4viewRecheck. A suspect node is still read again as always. Ending the index
// lock makes the next check read the counter again.
void index4viewHold(index4file* file, int hold);
void index4viewRecheck(index4file* file);

// ---- locking and writing back ----

// 0 locked (or already held by this owner), 50 held by another owner or process, error.
[[nodiscard]] int32_t index4lock(index4file* file, int32_t owner);
// Writes everything back and releases the lock (owner 0: whoever holds it): 0 or error.
[[nodiscard]] int32_t index4unlock(index4file* file, int32_t owner);
// Writes the counter and every changed node and root offset: 0 or an error.
[[nodiscard]] int32_t index4update(index4file* file);
// index4update, then the file to disk.
[[nodiscard]] int32_t index4flush(index4file* file);
// Every tag's nodes written back and forgotten, their roots read afresh at the next
// descent: 0 or the first error.
[[nodiscard]] int32_t index4fileForget(index4file* file);
// When another process changed the file: drops every tag's nodes. 1 when it did, 0 when
// nothing changed, or an error.
[[nodiscard]] int32_t index4fileRefresh(index4file* file);

// 1 when the file is the production index of its data file, else 0.
[[nodiscard]] int32_t index4isProduction(index4file* file);
