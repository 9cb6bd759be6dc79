#include "xbase/mem4.h"

#include <cstdlib>
#include <cstring>

#include "platform/process_lock.h"
#include "xbase/env4.h"
#include "xbase/error4.h"

#if MEM4_POISONS
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr unsigned char kGuard = 0x55;
constexpr int32_t kFront = 16;  // size word + front guard
constexpr int32_t kFrontGuard = 12;
constexpr int32_t kBackGuard = 8;
constexpr int kPoolRecordsPerChunk = 10;

qv::ProcessLock& memLock() {
    return qv::ProcessLock::get<0>();
}
qv::ProcessLock& evalLock() {
    return qv::ProcessLock::get<1>();
}

struct MemState {
    bool initialised = false;
    bool resetting = false;
    int32_t liveEnvs = 0;
    list4 freePools{};  // pool records ready for use
    list4 livePools{};
    list4 poolChunks{};      // blocks of 10 pool records
    void** table = nullptr;  // allocation table: addresses of live blocks
    int32_t tableCount = 0;
    int32_t tableCapacity = 0;
};

MemState& state() {
    static MemState* s = new MemState;  // lives with the locks
    return *s;
}

bool active() {
    return state().initialised || state().resetting;
}

int32_t round8(int64_t n) {
    return static_cast<int32_t>((n + 7) & ~int64_t{7});
}

unsigned char* frameOf(void* callerBytes) {
    return static_cast<unsigned char*>(callerBytes) - kFront;
}

// Writes the frame around `callerSize` bytes at `frame`; `span` is the whole
// framed area, the back guard runs to its end.
void writeFrame(unsigned char* frame, int32_t callerSize, int32_t span) {
    uint32_t total = static_cast<uint32_t>(callerSize) + mem4frameBytes;
    std::memcpy(frame, &total, 4);
    std::memset(frame + 4, kGuard, kFrontGuard);
    std::memset(frame + kFront + callerSize, kGuard, span - kFront - callerSize);
}

// A free pool element is poisoned whole and unpoisoned when handed out again;
// elements start 8-aligned and span a multiple of 8 bytes, so the sanitizer
// marks exactly the element.
void markElement(const pool4* pool, unsigned char* frame, bool isFree) {
#if MEM4_POISONS
    if (isFree)
        ASAN_POISON_MEMORY_REGION(frame, pool->elementSize);
    else
        ASAN_UNPOISON_MEMORY_REGION(frame, pool->elementSize);
#else
    (void)pool;
    (void)frame;
    (void)isFree;
#endif
}

// True when any byte of the element is poisoned: it is free already.
bool elementIsFree(const pool4* pool, const unsigned char* frame) {
#if MEM4_POISONS
    return __asan_region_is_poisoned(const_cast<unsigned char*>(frame), pool->elementSize) !=
           nullptr;
#else
    (void)pool;
    (void)frame;
    return false;  // a free element's zeroed guards give it away instead
#endif
}

bool guardsIntact(const unsigned char* frame, int32_t callerSize, int32_t span) {
    for (int i = 4; i < kFront; ++i)
        if (frame[i] != kGuard) return false;
    for (int32_t i = kFront + callerSize; i < span; ++i)
        if (frame[i] != kGuard) return false;
    return true;
}

// Adds `block` to the allocation table; -950 (reported) when it cannot.
int32_t registerBlock(void* block) {
    MemState& s = state();
    if (s.tableCount == s.tableCapacity) {
        if (s.tableCapacity >= mem4tableMax) return error4raise(nullptr, e4result, E4LOC(90401));
        int32_t capacity = s.tableCapacity + mem4tableStep;
        void* grown = std::realloc(s.table, sizeof(void*) * capacity);
        if (grown == nullptr) return error4raise(nullptr, e4result, E4LOC(90402));
        s.table = static_cast<void**>(grown);
        s.tableCapacity = capacity;
    }
    s.table[s.tableCount++] = block;
    return 0;
}

// Removes `block` from the table, searching from the newest entry.
int32_t unregisterBlock(void* block) {
    MemState& s = state();
    for (int32_t i = s.tableCount - 1; i >= 0; --i) {
        if (s.table[i] == block) {
            std::memmove(s.table + i, s.table + i + 1, sizeof(void*) * (s.tableCount - i - 1));
            s.tableCount--;
            return 0;
        }
    }
    return error4raise(nullptr, e4result, E4LOC(90403));
}

pool4* takePoolRecord() {
    MemState& s = state();
    if (s.freePools.nLink == 0) {
        size_t bytes = sizeof(link4) + sizeof(pool4) * kPoolRecordsPerChunk;
        auto* chunk = static_cast<unsigned char*>(std::calloc(1, bytes));
        if (chunk == nullptr) return nullptr;
        if (list4add(&s.poolChunks, chunk) < 0) {  // unlisted, it would never be freed
            std::free(chunk);
            return nullptr;
        }
        auto* records = reinterpret_cast<pool4*>(chunk + sizeof(link4));
        // A record the list refuses is never used, and goes with its chunk.
        for (int i = 0; i < kPoolRecordsPerChunk; ++i) (void)list4add(&s.freePools, &records[i]);
    }
    auto* pool = static_cast<pool4*>(list4pop(&s.freePools));
    if (pool != nullptr) *pool = pool4{};
    return pool;
}

void freeChunks(pool4* pool) {
    while (void* chunk = list4pop(&pool->chunks)) std::free(chunk);
    pool->freeHead = nullptr;
    pool->freeCount = 0;
}

// Adds a chunk of elements to the pool's free stack.
bool growPool(pool4* pool) {
    uint64_t count = pool->chunks.nLink == 0 ? pool->firstCount : pool->growCount;
    uint64_t bytes = count * pool->elementSize + sizeof(link4);
    while (bytes > UINT32_MAX) {
        if (count < 2) return false;
        count /= 2;
        bytes = count * pool->elementSize + sizeof(link4);
    }
    auto* chunk = static_cast<unsigned char*>(std::malloc(bytes));
    if (chunk == nullptr) return false;
    std::memset(chunk, 0, sizeof(link4));
    if (list4add(&pool->chunks, chunk) < 0) {
        std::free(chunk);
        return false;
    }
    for (uint64_t i = count; i-- > 0;) {
        unsigned char* element = chunk + sizeof(link4) + i * pool->elementSize;
        std::memcpy(element, &pool->freeHead, sizeof(void*));
        markElement(pool, element, true);
        pool->freeHead = element;
        pool->freeCount++;
    }
    return true;
}

}  // namespace

void mem4lock() {
    memLock().lock();
}
void mem4unlock() {
    memLock().unlock();
}
void mem4evalLock() {
    evalLock().lock();
}
void mem4evalUnlock() {
    evalLock().unlock();
}

void mem4init() {
    std::lock_guard guard(memLock());
    MemState& s = state();
    if (s.liveEnvs > 0) return;
    s.initialised = true;
    s.freePools = list4{};
    s.livePools = list4{};
    s.poolChunks = list4{};
}

void mem4reset() {
    std::lock_guard guard(memLock());
    MemState& s = state();
    s.resetting = true;
    for (auto* pool = static_cast<pool4*>(list4first(&s.livePools)); pool != nullptr;
         pool = static_cast<pool4*>(list4next(&s.livePools, pool)))
        freeChunks(pool);
    while (void* chunk = list4pop(&s.poolChunks)) std::free(chunk);
    std::free(s.table);
    s.table = nullptr;
    s.tableCount = s.tableCapacity = 0;
    s.initialised = false;
    mem4init();
    s.initialised = false;  // nothing is live until the next environment
    s.resetting = false;
}

void mem4envEnter() {
    std::lock_guard guard(memLock());
    if (state().liveEnvs == 0) mem4init();
    state().liveEnvs++;
}

int32_t mem4envLeave() {
    std::lock_guard guard(memLock());
    MemState& s = state();
    if (s.liveEnvs <= 0) return error4raise(nullptr, e4info, E4LOC(90405));
    if (--s.liveEnvs == 0) mem4reset();
    return 0;
}

int32_t mem4liveEnvironments() {
    std::lock_guard guard(memLock());
    return state().liveEnvs;
}

int32_t mem4registeredCount() {
    std::lock_guard guard(memLock());
    return state().tableCount;
}

void* mem4alloc(int32_t size) {
    if (size < 1 || size > INT32_MAX - 64) {
        error4raise(nullptr, e4parm, E4LOC(90410));
        return nullptr;
    }
    std::lock_guard guard(memLock());
    if (!active()) return nullptr;
    int32_t span = kFront + round8(size) + kBackGuard;
    auto* frame = static_cast<unsigned char*>(std::calloc(1, span));
    if (frame == nullptr) return nullptr;
    writeFrame(frame, size, span);
    registerBlock(frame + kFront);  // a block left unregistered is still handed out
    return frame + kFront;
}

int32_t mem4free(void* block) {
    if (block == nullptr) return 0;
    std::lock_guard guard(memLock());
    if (!active()) return 0;
    unsigned char* frame = frameOf(block);
    uint32_t total;
    std::memcpy(&total, frame, 4);
    int32_t size = static_cast<int32_t>(total) - mem4frameBytes;
    if (total < static_cast<uint32_t>(mem4frameBytes) + 1 || total > INT32_MAX ||
        !guardsIntact(frame, size, kFront + round8(size) + kBackGuard)) {
        error4raise(nullptr, e4result, E4LOC(90411));
        return -1;  // left allocated: its neighbour may be what was hurt
    }
    unregisterBlock(block);
    std::memset(frame, 0, kFront + round8(size) + kBackGuard);
    std::free(frame);
    return 0;
}

pool4* pool4create(env4* env, int32_t first, int32_t size, int32_t growth, int isPrivate) {
    if (first < 1 || growth < 1 || size < 0 || size > INT32_MAX / 2) {
        error4raise(env, e4parm, E4LOC(90420));
        return nullptr;
    }
    std::lock_guard guard(memLock());
    if (!active()) return nullptr;
    MemState& s = state();
    int32_t elementSize = round8(size < 8 ? 8 : size) + mem4frameBytes;
    if (!isPrivate) {
        for (auto* pool = static_cast<pool4*>(list4first(&s.livePools)); pool != nullptr;
             pool = static_cast<pool4*>(list4next(&s.livePools, pool))) {
            if (pool->useCount > 0 && pool->elementSize == elementSize) {
                if (first > pool->firstCount) pool->firstCount = first;
                if (growth > pool->growCount) pool->growCount = growth;
                pool->useCount++;
                return pool;
            }
        }
    }
    pool4* pool = takePoolRecord();
    if (pool == nullptr) {
        error4raise(env, e4memory, E4LOC(90421));
        return nullptr;
    }
    pool->firstCount = first;
    pool->growCount = growth;
    pool->elementSize = elementSize;
    pool->useCount = isPrivate ? -1 : 1;
    if (list4add(&s.livePools, pool) < 0) {  // unlisted, a reset would never free it
        (void)list4add(&s.freePools, pool);
        error4raise(env, e4info, E4LOC(90422));
        return nullptr;
    }
    return pool;
}

void* pool4alloc(pool4* pool, env4* env) {
    if (env != nullptr && env->errorCode < 0) return nullptr;
    if (pool == nullptr) {
        error4raise(env, e4parmNull, E4LOC(90430));
        return nullptr;
    }
    std::lock_guard guard(memLock());
    if (!active()) return nullptr;
    if (pool->freeHead == nullptr && !growPool(pool)) {
        error4raise(env, e4memory, E4LOC(90431));
        return nullptr;
    }
    auto* frame = static_cast<unsigned char*>(pool->freeHead);
    markElement(pool, frame, false);
    std::memcpy(&pool->freeHead, frame, sizeof(void*));
    pool->freeCount--;
    int32_t callerSize = pool->elementSize - mem4frameBytes;
    writeFrame(frame, callerSize, pool->elementSize);
    std::memset(frame + kFront, 0, callerSize);
    pool->inUse++;
    return frame + kFront;
}

void* pool4allocCreate(env4* env, pool4** slot, int32_t first, int32_t size, int32_t growth,
                       int isPrivate) {
    if (slot == nullptr) {
        error4raise(env, e4parmNull, E4LOC(90435));
        return nullptr;
    }
    if (error4pending(env)) return nullptr;
    if (*slot == nullptr) {
        *slot = pool4create(env, first, size, growth, isPrivate);
        if (*slot == nullptr) return nullptr;
    }
    return pool4alloc(*slot, env);
}

int32_t pool4free(pool4* pool, void* element) {
    if (pool == nullptr || element == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(90440));
    std::lock_guard guard(memLock());
    if (!active()) return 0;
    if (pool->inUse <= 0) return error4raise(nullptr, e4result, E4LOC(90441));
    pool->inUse--;
    unsigned char* frame = frameOf(element);
    int32_t callerSize = pool->elementSize - mem4frameBytes;
    // Free already (poisoned), or damaged: never reused, and never touched by the caller again.
    if (elementIsFree(pool, frame) || !guardsIntact(frame, callerSize, pool->elementSize)) {
        markElement(pool, frame, true);
        return error4raise(nullptr, e4result, E4LOC(90442));
    }
    std::memset(frame, 0, pool->elementSize);
    std::memcpy(frame, &pool->freeHead, sizeof(void*));
    markElement(pool, frame, true);
    pool->freeHead = frame;
    pool->freeCount++;
    return 0;
}

void pool4release(pool4* pool) {
    if (pool == nullptr) return;
    std::lock_guard guard(memLock());
    if (!active()) return;
    if (pool->useCount > 1) {
        pool->useCount--;
        return;
    }
    MemState& s = state();
    if (list4remove(&s.livePools, pool) < 0) return;  // not a live pool: nothing to give back
    freeChunks(pool);
    *pool = pool4{};
    (void)list4add(&s.freePools, pool);  // a record the list refuses is only not reused
}
