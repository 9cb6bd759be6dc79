#pragma once
// Tags: the B+ trees of a compound index file (see index4header.h and node4.h for the
// bytes), walked and changed through a path of in-memory nodes.
//
// A `tag4file` is one tree, shared by every table handle that opened the file; a `tag4`
// is one handle's view of it, carrying the duplicate-key code. A tag is positioned by a
// seek, top, bottom or set-position; the position is the cursor of the leaf at the end of
// the path. Keys are stored ascending (memcmp order, equal keys by record number); a
// descending tag is the same tree read backwards.
//
// Nodes change only in memory and reach the file when they leave the tag's cache, at
// `tag4flush` and when the index is updated or unlocked. Nothing read from the file is
// trusted: a node that does not check, a child outside the file, a path deeper than
// tag4maxDepth or a node that disagrees with its parent is -310 for a process that holds
// the index lock (or opened the file unshared); a reader without the lock takes it for
// another process's change in progress and starts again from the root, a bounded number
// of times with a sleep in between, before it reports -310. Such a reader also reads each
// node until three reads in a row agree, since a read that overlaps another process's write
// of the node may return part of each version.
//
// Changes (tag4addKey, tag4removeKey) must be made under the index lock or on a file
// opened unshared. A refused change leaves the tree as it was; after a change the tag has
// no position until it is positioned again.
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/core/list4.h"
#include "xbase/expr/expr4.h"
#include "xbase/index/index4header.h"
#include "xbase/index/node4.h"

inline constexpr int tag4maxDepth = 40;     // deeper paths are a damaged file
inline constexpr int tag4cacheBlocks = 80;  // nodes a tag keeps in memory, path included
inline constexpr int tag4hashSize = 128;    // buckets of a tag's blocks by node offset
inline constexpr int tag4nameLength = 10;

// The most memory one tag's node cache holds (every block full), so that a caller can count it
// in a memory budget.
int32_t tag4cacheBytes();

// Duplicate-key codes of unique and candidate tags.
inline constexpr int16_t tag4uniqueError = -340;     // error -340
inline constexpr int16_t tag4uniqueRefuse = 20;      // not added, result 20
inline constexpr int16_t tag4uniqueKeep = 25;        // not added, result 25
inline constexpr int16_t tag4candidateError = -360;  // candidate: -340 for duplicate or null
inline constexpr int16_t tag4candidateRefuse = 15;   // candidate: 20 for duplicate or null
inline constexpr int16_t tag4descendingCode = 10;    // tag4def::descending of a descending tag

struct tag4tree;  // the nodes a tag holds and its position: the tag unit's own

struct tag4file {
    link4 link;  // in index4file::tags
    index4file* indexFile;
    env4* env;
    char alias[tag4nameLength + 1];  // upper case, no trailing blanks
    expression4* expr;               // null for a tag opened without a table
    expression4* filter;
    expr4tag exprTag;  // what key building needs of the tag (its expressions point here)
    char* exprText;    // copies of the header's texts (library memory)
    char* filterText;
    char type;                // result type letter of the key expression ('C', 'N', 'D', ...)
    uint8_t pad;              // blank for character keys without collation, else 0
    int8_t noTrail;           // 1: new keys keep their trailing pads stored (trailing count 0)
    const uint8_t* codePage;  // GENERAL collation: table of characters 128 to 255
    // Header (file offset of the 1024-byte header; the directory's is 0).
    uint32_t headerOffset;
    uint16_t keyLength;
    uint8_t options;
    int8_t descending;
    int8_t general;
    // The root offset, the nodes held, the path to the current leaf and scratch space:
    // read and changed only by the tag unit (tag4internal.h), through the calls below.
    tag4tree* tree;
};

struct tag4 {
    link4 link;  // in index4::tags
    index4* index;
    tag4file* tagFile;
    int16_t errUnique;  // duplicate-key code; meaningful for unique and candidate tags
};

// A tag of `file` made from its header (its texts copied) whose header lies at
// `headerOffset`, named `name` (blanks cut, at most 10 characters, upper-cased); from the
// environment's tag pool. Null when memory runs out.
[[nodiscard]] tag4file* tag4fileNew(index4file* file, const tag4header& header,
                                    uint32_t headerOffset, const char* name);
// Frees the tag: its nodes (without writing them), its expressions and texts, the record.
void tag4fileFree(tag4file* tag);
// Sets the key type letter and with it the pad byte.
void tag4fileSetType(tag4file* tag, char type);

// ---- positioning (results: 0 found, 2 after, 3 end, or a negative error) ----

// First key not less than `key` over `length` bytes (a shorter length only for character
// keys, else -930; a longer one is cut). Descending tags: 0 found, 2 on the next key in
// descending order, 3 past the end.
[[nodiscard]] int32_t tag4seek(tag4file* tag, const void* key, int32_t length);
// The record number of the entry whose key begins with `key` over `length` bytes, found
// without moving the tag and without checking the leaf reached whole (leaf4view::probe): for
// a caller that verifies the record it leads to, and takes any other answer for "unsure"
// (then tag4seek tells). 0 with *record, 2 no such entry or unsure, or a negative error.
[[nodiscard]] int32_t tag4probe(tag4file* tag, const void* key, int32_t length, int32_t* record);
// Moves n entries in stored order; returns the entries moved (fewer at either end, where
// the tag stays on the first or last entry). -310 without a position.
[[nodiscard]] int32_t tag4skip(tag4file* tag, int32_t n);
// As tag4skip in the tag's own order (negated for a descending tag).
[[nodiscard]] int32_t tag4skipInOrder(tag4file* tag, int32_t n);
[[nodiscard]] int32_t tag4top(tag4file* tag);  // first entry in the tag's order: 0, or 3 when empty
[[nodiscard]] int32_t tag4bottom(
    tag4file* tag);  // last entry in the tag's order: 0, or 3 when empty
[[nodiscard]] int32_t tag4goEof(tag4file* tag);  // past the last entry (stored order): 0 or error
// 1 when past the last entry of the leaf or the leaf is empty; 1 also without a position.
[[nodiscard]] int32_t tag4eof(tag4file* tag);
// The K bytes of the key at the position; null without one or past the end.
const uint8_t* tag4key(tag4file* tag);
// tag4key, with the record number of the entry in *record (left alone when null is returned):
// one decode of the entry for both.
const uint8_t* tag4keyRecord(tag4file* tag, int32_t* record);
// The result type letter of the key expression.
[[nodiscard]] int32_t tag4type(tag4file* tag);
// The entry with this key and record number, the tag taken as ascending: 0 present (mode
// 0), 1 the key is present (always in mode 1, and in a unique tag whose key is held by
// another record), 2 the key is absent; positioned where the entry is or would go.
[[nodiscard]] int32_t tag4seekKeyRecord(tag4file* tag, const void* key, int32_t record,
                                        int32_t mode);
// Record number at the position: -2 without a position, 0 for an empty tag, -1 past the end.
[[nodiscard]] int32_t tag4recordNumber(tag4file* tag);
// Position as a fraction from 0.0 to 1.0 in the tag's order; negative on error.
[[nodiscard]] double tag4position(tag4file* tag);
[[nodiscard]] int32_t tag4setPosition(tag4file* tag, double fraction);

// ---- changes ----

// Adds the K-byte key with its record number (at least 1). With a non-zero duplicate-key
// code an existing equal key refuses the add: 20 or 25, or error -340 (codes -340, -360).
// 0 when added.
[[nodiscard]] int32_t tag4addKey(tag4file* tag, const void* key, int32_t record, int16_t code);
// Removes the entry with this key and record number: 0, 5 when there is none, or error.
[[nodiscard]] int32_t tag4removeKey(tag4file* tag, const void* key, int32_t record);

// The duplicate-key code a handle adds with: 0 unless the tag is unique or candidate.
int16_t tag4uniqueCode(const tag4* tag);

// ---- nodes ----

// Writes every changed node and, when it changed, the root offset into the header.
[[nodiscard]] int32_t tag4flush(tag4file* tag);
// tag4flush, then forgets every node (and with them the position).
[[nodiscard]] int32_t tag4releaseNodes(tag4file* tag);
// tag4releaseNodes, and the root offset is read from the header again at the next descent
// (another process may have moved it). A root that failed to be written stays: 0 or the
// error.
[[nodiscard]] int32_t tag4forget(tag4file* tag);
// The root offset is read from the header again at the next descent, unless a new one is
// still to be written.
void tag4forgetRoot(tag4file* tag);
// Forgets the node at `offset` without writing it (it was freed).
void tag4blockDiscard(tag4file* tag, int32_t offset);
// True while the tag holds the node at `offset` in memory.
bool tag4holdsNode(const tag4file* tag, int32_t offset);
// The root offset as the tag knows it (0 when it is to be read from the header).
uint32_t tag4root(const tag4file* tag);
// A rebuild wrote the tree anew under `root` and writes the header with it.
void tag4setRoot(tag4file* tag, uint32_t root);
