#include "xbase/index/sort4.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/file/file4.h"

namespace {

constexpr int32_t kRecordLen = 4;
constexpr int32_t kBlockHeader = sizeof(link4);
constexpr int32_t kMinPointers = 256;
constexpr int32_t kInsertionMax = 8;        // partitions this small are sorted by insertion
constexpr int kStackMax = 32;               // pending partitions of the quicksort
constexpr int32_t kMaxBlocks = UINT16_MAX;  // a list4 counts in 16 bits

int32_t recordOf(const sort4* s, const char* item) {
    int32_t record;
    std::memcpy(&record, item + s->keyLen, kRecordLen);
    return record;
}

// Key bytes first, then the record number.
int compareItems(const sort4* s, const char* a, const char* b) {
    int c = std::memcmp(a, b, s->keyLen);
    if (c != 0) return c;
    int32_t ra = recordOf(s, a), rb = recordOf(s, b);
    return ra < rb ? -1 : ra > rb ? 1 : 0;
}

bool less(const sort4* s, const char* a, const char* b) {
    return compareItems(s, a, b) < 0;
}

void insertionSort(const sort4* s, char** p, int32_t lo, int32_t hi) {
    for (int32_t i = lo + 1; i <= hi; ++i) {
        char* item = p[i];
        int32_t j = i - 1;
        for (; j >= lo && less(s, item, p[j]); --j) p[j + 1] = p[j];
        p[j + 1] = item;
    }
}

// Quicksort of n pointers with an explicit stack. The larger part is pushed
// and the smaller one worked on, so the stack never holds more than log2(n)
// partitions; overflowing it can only mean a broken comparison (-910).
int32_t sortPointers(sort4* s, char** p, int32_t n) {
    struct Range {
        int32_t lo, hi;
    } stack[kStackMax];
    int depth = 0;
    int32_t lo = 0, hi = n - 1;
    for (;;) {
        if (hi - lo + 1 <= kInsertionMax) {
            if (hi > lo) insertionSort(s, p, lo, hi);
            if (depth == 0) return 0;
            --depth;
            lo = stack[depth].lo;
            hi = stack[depth].hi;
            continue;
        }
        // Median of the first, middle and last items becomes the pivot at lo.
        int32_t mid = lo + (hi - lo) / 2;
        if (less(s, p[mid], p[lo])) std::swap(p[mid], p[lo]);
        if (less(s, p[hi], p[mid])) {
            std::swap(p[hi], p[mid]);
            if (less(s, p[mid], p[lo])) std::swap(p[mid], p[lo]);
        }
        std::swap(p[lo], p[mid]);
        char* pivot = p[lo];
        // Both scans stop on items equal to the pivot, so many equal keys
        // still split evenly.
        int32_t i = lo, j = hi + 1;
        for (;;) {
            while (++i <= hi && less(s, p[i], pivot)) {
            }
            while (less(s, pivot, p[--j])) {
            }
            if (i >= j) break;
            std::swap(p[i], p[j]);
        }
        std::swap(p[lo], p[j]);
        Range left{lo, j - 1}, right{j + 1, hi};
        bool leftLarger = left.hi - left.lo > right.hi - right.lo;
        if (depth == kStackMax) return error4raise(s->env, e4info, E4LOC(91501));
        stack[depth++] = leftLarger ? left : right;
        lo = leftLarger ? right.lo : left.lo;
        hi = leftLarger ? right.hi : left.hi;
    }
}

// Takes one more pool block onto the block list; false when the sort may not
// or cannot have one. Running out of memory here is expected, so it is not
// raised in the environment.
char* takeBlock(sort4* s) {
    if (s->blocks.nLink >= kMaxBlocks) return nullptr;
    if (s->blocksMax > 0 && s->blocks.nLink >= s->blocksMax) return nullptr;
    auto* block = static_cast<char*>(pool4alloc(s->pool, nullptr));
    if (block == nullptr) return nullptr;
    if (list4add(&s->blocks, block) < 0) {
        pool4free(s->pool, block);
        return nullptr;
    }
    return block;
}

int32_t itemsPerBlock(const sort4* s) {
    return (s->blockBytes - kBlockHeader) / s->itemLen;
}

// Makes room for more items: another block while the pointer array has room;
// failing that, the unused tail of the pointer array itself, and no more.
void addSlots(sort4* s) {
    if (s->slots < s->pointersMax) {
        if (char* block = takeBlock(s)) {
            int32_t n = itemsPerBlock(s);
            if (n > s->pointersMax - s->slots) n = s->pointersMax - s->slots;
            char* item = block + kBlockHeader;
            for (int32_t i = 0; i < n; ++i, item += s->itemLen) s->pointers[s->slots++] = item;
            return;
        }
        constexpr int32_t P = sizeof(char*);
        int64_t remaining = s->pointersMax - s->slots;
        auto n = static_cast<int32_t>((remaining * P - P) / (s->itemLen + P));
        if (n > 0) {
            char* item = reinterpret_cast<char*>(s->pointers + s->slots + n);
            for (int32_t i = 0; i < n; ++i, item += s->itemLen) s->pointers[s->slots + i] = item;
            s->slots += n;
            s->pointersMax = s->slots;
        }
    }
    s->full = 1;
}

// Sorts the items in memory and appends them to the temporary file as one run.
int32_t spill(sort4* s) {
    env4* env = s->env;
    if (!s->spilled) {
        int32_t rc = file4create(&s->file, env, nullptr, 0);
        if (rc != 0) return rc < 0 ? rc : error4raise(env, e4create, E4LOC(91502));
        s->spilled = 1;
        s->runItems = s->used;
    }
    int64_t start = int64_t{s->runs} * s->runItems * s->itemLen;
    if (start + int64_t{s->used} * s->itemLen > INT32_MAX)
        return error4raiseText(env, e4result, E4LOC(91503), s->file.name);
    int32_t rc = sortPointers(s, s->pointers, s->used);
    if (rc < 0) return rc;
    file4seqWriter w;
    file4seqWriteInit(&w, &s->file, static_cast<int32_t>(start), s->spool, s->spoolLen);
    for (int32_t i = 0; i < s->used; ++i) {
        rc = file4seqWrite(&w, s->pointers[i], s->itemLen);
        if (rc < 0) return rc;
    }
    rc = file4seqWriteFlush(&w);
    if (rc < 0) return rc;
    s->runs++;
    s->used = 0;
    return 0;
}

const char* currentItem(const sort4run* run) {
    return run->buffer + run->pos;
}

// Reads the run's next bufferful. The runs' sizes are known, so anything
// short of that means the file was cut: -70 with its name.
int32_t refill(sort4* s, sort4run* run) {
    int32_t n = run->left < run->capacity ? run->left : run->capacity;
    int32_t bytes = n * s->itemLen;
    int32_t got = file4read(&s->file, run->filePos, run->buffer, bytes);
    if (got < 0) return s->env->errorCode < 0 ? s->env->errorCode : got;
    if (got != bytes) {
        std::string where = std::to_string(run->filePos);
        return error4raiseText(s->env, e4read, E4LOC(91504), s->file.name, where.c_str(),
                               "sort4get");
    }
    run->pos = 0;
    run->avail = bytes;
    run->left -= n;
    run->filePos = run->left > 0 ? run->filePos + bytes : -1;
    return 0;
}

// Puts order[from] among order[from + 1 .. live) by bisection.
void placeRun(sort4* s, int32_t from) {
    sort4run* run = s->order[from];
    const char* item = currentItem(run);
    int32_t lo = from + 1, hi = s->live;
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        if (less(s, currentItem(s->order[mid]), item))
            lo = mid + 1;
        else
            hi = mid;
    }
    std::memmove(s->order + from, s->order + from + 1, sizeof(sort4run*) * (lo - from - 1));
    s->order[lo - 1] = run;
}

// Steps the first run past the item last handed out.
int32_t advanceFirst(sort4* s) {
    sort4run* run = s->order[0];
    run->pos += s->itemLen;
    if (run->pos >= run->avail) {
        if (run->left == 0) {
            std::memmove(s->order, s->order + 1, sizeof(sort4run*) * (s->live - 1));
            s->live--;
            return 0;
        }
        int32_t rc = refill(s, run);
        if (rc < 0) return rc;
    }
    placeRun(s, 0);
    return 0;
}

void releasePool(sort4* s) {
    pool4release(s->pool);
    s->pool = nullptr;
    s->blocks = list4{};
}

// Divides the pool's blocks into one read buffer per run. A buffer must hold
// at least one item: more blocks are taken for that, and when memory runs out
// the blocks are made half as large and the division tried again.
int32_t makeReadBuffers(sort4* s) {
    for (;;) {
        int32_t perBlock = itemsPerBlock(s);
        if (perBlock >= 1) {
            int32_t need = (s->runs + perBlock - 1) / perBlock;
            while (s->blocks.nLink < need && takeBlock(s) != nullptr) {
            }
            int32_t have = s->blocks.nLink;
            if (have >= need) {
                int32_t perBuffer = (s->runs + have - 1) / have;
                int32_t capacity = perBlock / perBuffer;
                int32_t r = 0;
                for (auto* block = static_cast<char*>(list4first(&s->blocks));
                     block != nullptr && r < s->runs;
                     block = static_cast<char*>(list4next(&s->blocks, block))) {
                    for (int32_t k = 0; k < perBuffer && r < s->runs; ++k, ++r) {
                        s->table[r].buffer = block + kBlockHeader + k * capacity * s->itemLen;
                        s->table[r].capacity = capacity;
                    }
                }
                return 0;
            }
        }
        int32_t half = s->blockBytes / 2;
        if (half < kBlockHeader + s->itemLen) return error4raise(s->env, e4memory, E4LOC(91505));
        releasePool(s);
        s->pool = pool4create(s->env, 1, half, 1, 1);
        if (s->pool == nullptr) return error4raise(s->env, e4memory, E4LOC(91506));
        s->blockBytes = half;
    }
}

int32_t startMerge(sort4* s) {
    env4* env = s->env;
    int32_t lastItems = s->used;
    if (s->used > 0) {
        int32_t rc = spill(s);
        if (rc < 0) return rc;
    } else {
        lastItems = s->runItems;
    }
    // Every item is in the file now: the pointer array and spool go, the
    // blocks become read buffers.
    mem4free(s->pointers);
    s->pointers = nullptr;
    s->pointersMax = s->slots = 0;
    mem4free(s->spool);
    s->spool = nullptr;
    if (int64_t{s->runs} * sizeof(sort4run) > INT32_MAX)
        return error4raise(env, e4memory, E4LOC(91507));
    s->table =
        static_cast<sort4run*>(u4allocAgain(env, static_cast<int32_t>(sizeof(sort4run) * s->runs)));
    s->order = static_cast<sort4run**>(
        u4allocAgain(env, static_cast<int32_t>(sizeof(sort4run*) * s->runs)));
    if (s->table == nullptr || s->order == nullptr) return env->errorCode;
    int32_t rc = makeReadBuffers(s);
    if (rc < 0) return rc;
    int32_t runBytes = s->runItems * s->itemLen;
    for (int32_t r = 0; r < s->runs; ++r) {
        sort4run* run = &s->table[r];
        run->number = r;
        run->filePos = r * runBytes;
        run->left = r == s->runs - 1 ? lastItems : s->runItems;
        rc = refill(s, run);
        if (rc < 0) return rc;
        s->order[s->live++] = run;
        // Each new run goes among those already placed.
        std::memmove(s->order + 1, s->order, sizeof(sort4run*) * (s->live - 1));
        s->order[0] = run;
        placeRun(s, 0);
    }
    return 0;
}

}  // namespace

int64_t sort4memoryMost(const env4* env, int32_t keyLen, int32_t infoLen) {
    const int64_t poolBytes = env->memSizeSortPool;
    const int64_t itemLen = int64_t{keyLen} + kRecordLen + infoLen;
    if (itemLen <= 0 || poolBytes - kBlockHeader < itemLen) return 0;
    const int64_t pointers = poolBytes / 4;
    const int64_t perBlock = (poolBytes - kBlockHeader) / itemLen;
    const int64_t blocks = (pointers + perBlock - 1) / perBlock;
    const int64_t element = (poolBytes + mem4frameBytes + 7) / 8 * 8 + kBlockHeader;
    return blocks * element + pointers * int64_t(sizeof(char*)) + mem4frameBytes +
           std::max<int64_t>(env->memSizeSortBuffer, 0) + mem4frameBytes;
}

int32_t sort4init(sort4* sort, env4* env, int32_t keyLen, int32_t infoLen) {
    if (sort == nullptr || env == nullptr) return error4raise(env, e4parmNull, E4LOC(91510));
    std::memset(sort, 0, sizeof *sort);
    sort->file.fd = -1;
    if (error4pending(env)) return e4codeBase;
    sort->env = env;
    int32_t poolBytes = env->memSizeSortPool;
    if (keyLen < 0 || infoLen < 0 || int64_t{keyLen} + infoLen > INT32_MAX / 2 ||
        poolBytes < 4 * kMinPointers || keyLen + kRecordLen + infoLen > poolBytes - kBlockHeader)
        return error4raise(env, e4parm, E4LOC(91511));
    sort->keyLen = keyLen;
    sort->infoLen = infoLen;
    sort->itemLen = keyLen + kRecordLen + infoLen;
    sort->blockBytes = poolBytes;
    sort->pool = pool4create(env, 1, poolBytes, 1, 1);
    if (sort->pool == nullptr) return error4raise(env, e4memory, E4LOC(91512));
    // A smaller pointer array only means shorter runs.
    for (int32_t n = poolBytes / 4; n >= kMinPointers && sort->pointers == nullptr; n /= 2) {
        sort->pointers = static_cast<char**>(mem4alloc(static_cast<int32_t>(sizeof(char*)) * n));
        if (sort->pointers != nullptr) sort->pointersMax = n;
    }
    if (sort->pointers == nullptr) return error4raise(env, e4memory, E4LOC(91513));
    if (env->memSizeSortBuffer > 0) {
        sort->spool = static_cast<char*>(u4allocAgain(env, env->memSizeSortBuffer));
        if (sort->spool == nullptr) return env->errorCode;
        sort->spoolLen = env->memSizeSortBuffer;
    }
    return 0;
}

int32_t sort4put(sort4* sort, int32_t record, const void* key, const void* info) {
    if (sort == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(91520));
    env4* env = sort->env;
    if (error4pending(env)) return e4codeBase;
    if (sort->pointers == nullptr || sort->getting) return error4raise(env, e4struct, E4LOC(91521));
    if ((key == nullptr && sort->keyLen > 0) || (info == nullptr && sort->infoLen > 0))
        return error4raise(env, e4parmNull, E4LOC(91522));
    if (sort->used == sort->slots) {
        if (!sort->full) addSlots(sort);
        if (sort->used == sort->slots) {
            if (sort->slots == 0) return error4raise(env, e4memory, E4LOC(91523));
            int32_t rc = spill(sort);
            if (rc < 0) return rc;
        }
    }
    char* item = sort->pointers[sort->used++];
    if (sort->keyLen > 0) std::memcpy(item, key, sort->keyLen);
    std::memcpy(item + sort->keyLen, &record, kRecordLen);
    if (sort->infoLen > 0) std::memcpy(item + sort->keyLen + kRecordLen, info, sort->infoLen);
    return 0;
}

int32_t sort4getInit(sort4* sort) {
    if (sort == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(91530));
    if (error4pending(sort->env)) return e4codeBase;
    if (sort->pointers == nullptr || sort->getting)
        return error4raise(sort->env, e4struct, E4LOC(91531));
    sort->getting = 1;
    if (sort->spilled) return startMerge(sort);
    return sortPointers(sort, sort->pointers, sort->used);
}

int32_t sort4get(sort4* sort, int32_t* record, void** key, void** info) {
    if (sort == nullptr || record == nullptr || key == nullptr)
        return error4raise(sort == nullptr ? nullptr : sort->env, e4parmNull, E4LOC(91540));
    if (error4pending(sort->env)) return e4codeBase;
    if (!sort->getting) return error4raise(sort->env, e4struct, E4LOC(91541));
    char* item;
    if (!sort->spilled) {
        if (sort->getPos >= sort->used) return 1;
        item = sort->pointers[sort->getPos++];
    } else {
        if (sort->advance) {
            sort->advance = 0;
            int32_t rc = advanceFirst(sort);
            if (rc < 0) return rc;
        }
        if (sort->live == 0) return 1;
        item = sort->order[0]->buffer + sort->order[0]->pos;
        sort->advance = 1;
    }
    *record = recordOf(sort, item);
    *key = item;
    if (info != nullptr) *info = item + sort->keyLen + kRecordLen;
    return 0;
}

void sort4free(sort4* sort) {
    if (sort == nullptr) return;
    mem4free(sort->table);
    mem4free(sort->order);
    mem4free(sort->pointers);
    mem4free(sort->spool);
    if (file4isOpen(&sort->file)) (void)file4close(&sort->file);  // removes the runs
    pool4release(sort->pool);
    std::memset(sort, 0, sizeof *sort);
    sort->file.fd = -1;
}
