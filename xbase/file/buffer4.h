#pragma once
// Inside the block buffer: its state, and what file4.cpp asks of buffer4.cpp.
// Callers outside the file layer use file4.h.
#include <cstddef>
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/file/file4.h"

// One replacement list of the block buffer, least recently used first. The
// oldest `candidates` blocks are marked as ready for reuse.
struct buffer4list {
    buffer4block* oldest;
    buffer4block* newest;
    int32_t count;
    int32_t candidates;
    int32_t minCount;   // below or at it, recently allocated blocks are kept
    int32_t allocAge;   // allocations within which a block counts as recently allocated
    int32_t useAge;     // use-clock steps within which a block counts as recently used
    int32_t countdown;  // rounds until the list is marked again
};

// Replacement lists, by what their blocks hold.
constexpr int buffer4listData = 0;
constexpr int buffer4listDataKept = 1;  // a data file's first block
constexpr int buffer4listIndex = 2;
constexpr int buffer4listBranch = 3;  // an index block holding a branch node
constexpr int buffer4listOther = 4;
// Data blocks read once: a stream passes through here without pushing out what is
// used again; a block read again after a while moves to buffer4listData.
constexpr int buffer4listDataOnce = 5;
constexpr int buffer4lists = 6;

// State of the environment's block buffer (see file4.h).
struct buffer4state {
    int8_t running;
    int8_t blocked;      // automatic start refused (set at first and by buffer4suspend)
    int8_t reread;       // hits on clean blocks of shared files are read again from disk
    int8_t sequential;   // a data file is being stepped through in record order
    int32_t blockSize;   // bytes per block, a multiple of the sector size
    int32_t groupBytes;  // bytes per group (a whole number of blocks)
    int32_t blocksPerGroup;
    int32_t groups;  // groups allocated
    int32_t totalBlocks;
    int32_t hashSize;  // power of two above totalBlocks
    int32_t hashMask;
    buffer4block* blocks;         // totalBlocks descriptors
    buffer4block** hash;          // bucket heads
    unsigned char** groupMemory;  // each group's bytes
    // The one mapping that holds every group, when it could be had (else each group is an
    // allocation of its own): its start and length as mapped.
    void* groupMapping;
    size_t groupMappingBytes;
    buffer4block* freeHead;  // descriptors holding nothing
    buffer4list lists[buffer4lists];
    unsigned char* writeBehindGroup;  // gathers a run of changed blocks
    unsigned char* advanceGroup;      // takes a read-ahead transfer
    uint32_t useClock;    // advances when a block not touched for `tickStep` steps is touched
    uint32_t allocClock;  // advances at every allocation
    int32_t tickStep;
    int32_t nextHashOffset;  // spreads the files over the hash table
};

// The environment's buffer state, made (not running, blocked) when first asked
// for; null when not even that memory can be had.
buffer4state* buffer4stateOf(env4* env);
// True while the environment's buffer runs.
bool buffer4running(const env4* env);

// True when reads or writes of `f` go through the buffer (asked at every read: inline).
inline bool buffer4uses(const file4* f) {
    return f->bufferKind != 0 && (f->readAhead || f->writeBehind);
}
// Starts buffering by itself when the environment allows it.
void buffer4autoStart(env4* env);
// Attaches an open file to the running buffer (read-ahead and write-behind
// as its flags say).
void buffer4attach(env4* env, file4* f);
// Writes back (unless `discard`) and drops the file's blocks, then detaches
// it. A failed write-back leaves everything as it was: the error.
[[nodiscard]] int32_t buffer4detach(file4* f, bool discard);
// Writes back the file's changed blocks in runs: 0 or the error.
[[nodiscard]] int32_t buffer4writeBackFile(file4* f);
// Writes back and forgets every block of the file.
[[nodiscard]] int32_t buffer4dropFile(file4* f);
// Reads or writes through the blocks (the request is already checked).
[[nodiscard]] int32_t buffer4read(file4* f, int32_t pos, void* data, int32_t n);
[[nodiscard]] int32_t buffer4write(file4* f, int32_t pos, const void* data, int32_t n);
// Sectors of one block that a reader without the lock confirmed against the disk (see
// file4settle): n when the buffer holds them so confirmed (copied out), else 0.
[[nodiscard]] int32_t buffer4readSettled(file4* f, int32_t pos, void* data, int32_t n);
void buffer4settle(file4* f, int32_t pos, const void* data, int32_t n);
// After a direct write: brings cached copies of those bytes up to date.
void buffer4refreshRange(file4* f, int32_t pos, const void* data, int32_t n);
// The file's length becomes `length`: blocks past it go, the block holding
// the end keeps only the bytes before it.
void buffer4setLength(file4* f, int32_t length);
