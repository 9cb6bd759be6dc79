#pragma once
// The library's external sort: items of a fixed size go in with `sort4put`
// and come out with `sort4get` in key order, equal keys in record-number order.
//
// An item is the key, its 32-bit record number and `infoLen` bytes of info.
// Keys compare byte by byte (unsigned) over the key length; ties go to the
// smaller record number. Items are kept in blocks of the environment's
// `memSizeSortPool` bytes taken from a private pool, reached through an array
// of `memSizeSortPool / 4` pointers. When neither the array nor memory allows
// another item, the items are sorted and written as one run to a temporary
// file (made with an unguessable name, removed by `sort4free`); `sort4getInit`
// then merges the runs through one read buffer per run.
//
// Lifecycle: `sort4init`, any number of `sort4put`, `sort4getInit`, `sort4get`
// until it answers 1, `sort4free`. `sort4free` is always called, also after a
// failure anywhere (and on a record whose `sort4init` failed); nothing else
// releases the memory or the temporary file. The record holds the open
// temporary file, so it stays where it is from init to free. Errors are raised
// in the environment; while one is pending every call returns -1410.
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/core/list4.h"
#include "xbase/file/file4.h"

// One spilled run while the runs are merged.
struct sort4run {
    char* buffer;      // read buffer: whole items
    int32_t capacity;  // items the buffer holds
    int32_t pos;       // byte offset of the run's current item in the buffer
    int32_t avail;     // bytes read into the buffer
    int32_t filePos;   // where the next read starts, -1 once the run is all read
    int32_t left;      // items of the run not yet read
    int32_t number;    // run number, in spill order
};

struct sort4 {
    env4* env;
    int32_t keyLen;
    int32_t infoLen;
    int32_t itemLen;  // keyLen + 4 + infoLen

    // Memory for items: pool blocks of blockBytes, each a link4 and items.
    pool4* pool;
    list4 blocks;
    int32_t blockBytes;
    int32_t blocksMax;  // most blocks the sort takes; 0: as many as memory gives

    // The pointer array: `slots` entries point at item room, `used` of them
    // hold items. Its tail may itself become item room when memory runs out.
    char** pointers;
    int32_t pointersMax;
    int32_t slots;
    int32_t used;
    int8_t full;  // no further slots can be had

    char* spool;  // buffer of the run writer
    int32_t spoolLen;
    file4 file;  // the runs, one after the other
    int8_t spilled;
    int32_t runs;
    int32_t runItems;  // items in every run but the last

    // Getting items out.
    int8_t getting;    // sort4getInit done
    int32_t getPos;    // next pointer while nothing was spilled
    sort4run* table;   // the merge: one entry per run
    sort4run** order;  // live runs, smallest current item first
    int32_t live;
    int8_t advance;  // the first run's item was handed out; step past it next time
};

// Sets up an empty sort for keys of `keyLen` and infos of `infoLen` bytes:
// 0 or an error (-930 for lengths below 0 or an item larger than a pool
// block, or a pool size below 1024; -920 when no pointer array of at least
// 256 entries can be had).
[[nodiscard]] int32_t sort4init(sort4* sort, env4* env, int32_t keyLen, int32_t infoLen);
// The most memory a sort of such items takes with the environment's settings while it holds
// items (pool blocks, pointer array, spool), so that a caller can count it in a memory
// budget; merging adds a few bytes per run.
int64_t sort4memoryMost(const env4* env, int32_t keyLen, int32_t infoLen);
// Adds an item (`info` may be null when infoLen is 0): 0 or an error (a run
// that cannot be written in full is the write error; nothing is dropped).
[[nodiscard]] int32_t sort4put(sort4* sort, int32_t record, const void* key, const void* info);
// Ends the putting and readies the items for `sort4get`: 0 or an error.
[[nodiscard]] int32_t sort4getInit(sort4* sort);
// The next item: 0 with its record number and pointers to its key and info
// (valid until the next call), 1 when none remains, or an error (-70 with the
// temporary file's name when a run reads short).
[[nodiscard]] int32_t sort4get(sort4* sort, int32_t* record, void** key, void** info);
// Frees everything and removes the temporary file; the record is cleared.
void sort4free(sort4* sort);
