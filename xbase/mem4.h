#pragma once
// The table library's memory: guarded blocks and fixed-size record pools.
//
// One memory module serves every environment of the process; all its
// operations run under one process-wide lock, so environments on different
// threads allocate safely. It works only while an environment is live (or a
// reset is running): otherwise allocation returns null and freeing does
// nothing.
//
// Guarded frame of every block and pool element (byte offsets):
//
//   | offset      | size  | content                                          |
//   |-------------|-------|--------------------------------------------------|
//   | 0           | 4     | framed size: caller bytes + 24                   |
//   | 4           | 12    | guard, every byte 0x55                           |
//   | 16          | n     | the caller's bytes (the caller gets this address)|
//   | 16 + n      | 8 + p | guard, every byte 0x55 (p pads to a multiple of 8)|
//
// The caller's bytes start 16 bytes in, so records holding pointers and
// doubles stay aligned. A damaged guard is reported as -950 through
// `error4raise` with no environment; a damaged block is never reused.
//
// A pool hands out zero-filled elements of one size, taken from chunks that
// hold `first` elements at first and `growth` elements each time after. Pools
// that are not private are shared by element size across environments.
//
// The allocation table lists the live plain blocks (`mem4alloc`), up to
// `mem4tableMax`; blocks beyond it are handed out unregistered. Pool elements
// are never entered there: their pool accounts for them, so no number of
// handles, tags or record locks runs out of table entries.
//
// Under AddressSanitizer a free pool element is poisoned whole (frame and
// caller bytes) until the pool hands it out again, so that a handle used after
// its free is reported where it happens. A free of an element that is already
// free finds it poisoned and is refused as a damaged one, as without the
// sanitizer.
#include <cstdint>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MEM4_POISONS 1
#endif
#endif
#if !defined(MEM4_POISONS) && defined(__SANITIZE_ADDRESS__)
#define MEM4_POISONS 1
#endif
#ifndef MEM4_POISONS
#define MEM4_POISONS 0
#endif

#include "xbase/list4.h"

struct env4;

struct pool4 {
    link4 link;      // live pools form one list
    list4 chunks;    // each chunk: a link4, then count x elementSize bytes
    void* freeHead;  // free elements, a stack linked through their first bytes
    int32_t freeCount;
    int32_t firstCount;   // elements in the first chunk
    int32_t elementSize;  // framed size of one element, a multiple of 8
    int32_t growCount;    // elements in each further chunk
    int32_t useCount;     // -1 for a private pool
    int32_t inUse;        // elements handed out
};

constexpr int32_t mem4frameBytes = 24;
constexpr int32_t mem4tableStep = 500;   // allocation table growth
constexpr int32_t mem4tableMax = 10000;  // plain blocks beyond this stay unregistered

// The process-wide memory lock and the key evaluator's lock; both re-entrant,
// both live for the whole process.
void mem4lock();
void mem4unlock();
void mem4evalLock();
void mem4evalUnlock();

// Counts an environment in or out: the first one in initialises the module,
// the last one out resets it (frees every pool). Leaving with none live is -910.
void mem4envEnter();
[[nodiscard]] int32_t mem4envLeave();
[[nodiscard]] int32_t mem4liveEnvironments();

void mem4init();
void mem4reset();

[[nodiscard]] void* mem4alloc(int32_t size);  // zero-filled; size below 1 is -930
int32_t mem4free(void* block);                // 0, or -1 for a damaged block (left allocated)
[[nodiscard]] int32_t mem4registeredCount();  // live entries of the allocation table (plain blocks)

[[nodiscard]] pool4* pool4create(env4* env, int32_t first, int32_t size, int32_t growth,
                                 int isPrivate);
[[nodiscard]] void* pool4alloc(pool4* pool, env4* env);
[[nodiscard]] void* pool4allocCreate(env4* env, pool4** slot, int32_t first, int32_t size,
                                     int32_t growth, int isPrivate);
int32_t pool4free(pool4* pool, void* element);
void pool4release(pool4* pool);
