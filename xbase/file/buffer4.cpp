// The block buffer of an environment (see file4.h for what it promises).
//
// Blocks hold `blockSize` bytes of one file at a block-aligned position. A
// block's `valid` bytes are the file's bytes there (min(blockSize, length -
// position)); the bytes after them are always zero, so a file that grows
// shows zeros where nothing was written. Lookup is by hash of (file, block
// number). Replacement chooses among six lists by what the blocks hold, so
// that index branch nodes, touched by every key lookup, stay while streams of
// data blocks and leaves pass through; data blocks read once go before any
// block used again, so that a walk over records read in random order leaves
// the index leaves it looks up in place. A reused block that was changed is
// written back first, with the run of changed blocks of its file around it.
#include "xbase/file/buffer4.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/file/file4.h"
#include "xbase/file/journal4.h"

struct buffer4block {
    file4* file;  // null while free
    int32_t pos;
    int32_t valid;
    int8_t changed;
    int8_t list;         // buffer4list* index while in a list
    int8_t candidate;    // marked for reuse (always among the list's oldest)
    int8_t restChanged;  // while changed: bytes past the file's last-written first bytes changed
    uint32_t allocStamp;
    uint32_t useStamp;
    uint64_t settled;  // sectors a reader without the lock confirmed against the disk (bit k:
                       // the k-th 512 bytes); any fill or write of the block clears them
    buffer4block* hashNext;
    buffer4block** hashLink;  // what points at this block: its bucket's head or hashNext
    buffer4block* fileNext;   // the other blocks of the same file
    buffer4block* filePrev;
    buffer4block* older;  // replacement list; the free list uses `newer` only
    buffer4block* newer;
    unsigned char* data;
};

namespace {

constexpr int64_t kAutoBufferCap = int64_t{256} << 20;

buffer4state& stateOf(const file4* f) {
    return *f->env->buffer;  // a file attached to the buffer: it runs
}

uint32_t bucketOf(const buffer4state& s, const file4* f, int32_t pos) {
    return (static_cast<uint32_t>(f->hashOffset) + static_cast<uint32_t>(pos / s.blockSize)) &
           static_cast<uint32_t>(s.hashMask);
}

buffer4block* find(const file4* f, int32_t pos) {
    const buffer4state& s = stateOf(f);
    for (buffer4block* b = s.hash[bucketOf(s, f, pos)]; b != nullptr; b = b->hashNext)
        if (b->file == f && b->pos == pos) return b;
    return nullptr;
}

// A block is in its bucket and in its file's list exactly while it holds data of the
// file: so dropping or writing back one file visits that file's blocks only.
// The bucket is known only on the way in: a block leaves through its link.
void hashInsert(buffer4state& s, buffer4block* b) {
    buffer4block*& head = s.hash[bucketOf(s, b->file, b->pos)];
    b->hashLink = &head;
    b->hashNext = head;
    if (head != nullptr) head->hashLink = &b->hashNext;
    head = b;
    file4* f = b->file;
    b->filePrev = nullptr;
    b->fileNext = f->bufferBlocks;
    if (f->bufferBlocks != nullptr) f->bufferBlocks->filePrev = b;
    f->bufferBlocks = b;
    ++f->bufferBlockCount;
}

void hashRemove(buffer4block* b) {
    *b->hashLink = b->hashNext;
    if (b->hashNext != nullptr) b->hashNext->hashLink = b->hashLink;
    b->hashNext = nullptr;
    b->hashLink = nullptr;
    file4* f = b->file;
    if (b->filePrev != nullptr)
        b->filePrev->fileNext = b->fileNext;
    else
        f->bufferBlocks = b->fileNext;
    if (b->fileNext != nullptr) b->fileNext->filePrev = b->filePrev;
    b->fileNext = b->filePrev = nullptr;
    --f->bufferBlockCount;
    if (b->changed) --f->bufferChangedCount;
    b->changed = 0;
}

// Changed blocks are counted per file, so that writing back a file with none costs nothing. A
// block that becomes changed goes to the front of its file's list: a block ahead of it came in,
// or changed, after it did, so the changed ones are found without a walk of every block a
// file keeps from one lock to the next.
void setChanged(buffer4block* b, bool changed) {
    if ((b->changed != 0) == changed) return;
    b->changed = changed ? 1 : 0;
    file4* f = b->file;
    f->bufferChangedCount += changed ? 1 : -1;
    if (!changed || b->filePrev == nullptr) return;
    b->filePrev->fileNext = b->fileNext;
    if (b->fileNext != nullptr) b->fileNext->filePrev = b->filePrev;
    b->filePrev = nullptr;
    b->fileNext = f->bufferBlocks;
    f->bufferBlocks->filePrev = b;
    f->bufferBlocks = b;
}

void listRemove(buffer4state& s, buffer4block* b) {
    buffer4list& l = s.lists[b->list];
    if (b->older != nullptr)
        b->older->newer = b->newer;
    else
        l.oldest = b->newer;
    if (b->newer != nullptr)
        b->newer->older = b->older;
    else
        l.newest = b->older;
    b->older = b->newer = nullptr;
    --l.count;
    if (b->candidate) {
        b->candidate = 0;
        --l.candidates;
    }
}

void listPushNewest(buffer4state& s, buffer4block* b, int list) {
    buffer4list& l = s.lists[list];
    b->list = static_cast<int8_t>(list);
    b->newer = nullptr;
    b->older = l.newest;
    if (l.newest != nullptr)
        l.newest->newer = b;
    else
        l.oldest = b;
    l.newest = b;
    ++l.count;
}

// The use clock moves only when a block idle for a while is touched, so that
// a burst of touches on the same few blocks ages nothing.
void stampUse(buffer4state& s, buffer4block* b) {
    if (s.useClock - b->useStamp > static_cast<uint32_t>(s.tickStep)) b->useStamp = ++s.useClock;
}

// A data block read once earns a place among the kept data blocks when it is used again
// after other blocks came in (or is written): touches within the step that read it, such
// as a record read in pieces, do not count.
int listAfterTouch(const buffer4state& s, const buffer4block* b, bool write) {
    if (b->list != buffer4listDataOnce) return b->list;
    if (write || s.allocClock - b->allocStamp > static_cast<uint32_t>(s.tickStep))
        return buffer4listData;
    return buffer4listDataOnce;
}

void touch(buffer4state& s, buffer4block* b, bool write = false) {
    stampUse(s, b);
    int list = listAfterTouch(s, b, write);
    listRemove(s, b);
    listPushNewest(s, b, list);
}

// True when one of the block's whole 512-byte nodes is a branch node
// (attribute word below 2): an index block worth keeping.
bool holdsBranch(const buffer4block* b) {
    constexpr int32_t node = 512;
    for (int32_t off = 0; off + node <= b->valid; off += node)
        if ((b->data[off] | (b->data[off + 1] << 8)) < 2) return true;
    return false;
}

// After an index block was filled or written: it moves to the list its
// nodes now call for.
void classify(buffer4state& s, buffer4block* b) {
    if (b->file->bufferKind != file4kindIndex) return;
    int want = holdsBranch(b) ? buffer4listBranch : buffer4listIndex;
    if (want == b->list) return;
    listRemove(s, b);
    listPushNewest(s, b, want);
}

int listFor(const file4* f, int32_t pos) {
    if (f->bufferKind == file4kindData) return pos == 0 ? buffer4listDataKept : buffer4listData;
    if (f->bufferKind == file4kindIndex) return buffer4listIndex;
    return buffer4listOther;
}

// Lists in the order blocks are taken from them.
constexpr int kTakeOrder[buffer4lists] = {buffer4listOther, buffer4listDataOnce, buffer4listData,
                                          buffer4listIndex, buffer4listDataKept, buffer4listBranch};

// Marks candidates from the list's oldest end up to the first block still in
// use or, while the list is at its minimum, recently allocated. Returns how
// many became candidates.
int32_t mark(buffer4state& s, buffer4list& l) {
    int32_t marked = 0;
    for (buffer4block* b = l.oldest; b != nullptr; b = b->newer) {
        if (b->candidate) continue;
        if (s.useClock - b->useStamp < static_cast<uint32_t>(l.useAge)) break;
        if (l.count <= l.minCount &&
            s.allocClock - b->allocStamp < static_cast<uint32_t>(l.allocAge))
            break;
        b->candidate = 1;
        ++l.candidates;
        ++marked;
    }
    return marked;
}

buffer4block* oldestCandidate(buffer4state& s) {
    for (int list : kTakeOrder)
        if (s.lists[list].candidates > 0) return s.lists[list].oldest;
    return nullptr;
}

void markAndSetCountdown(buffer4state& s, int place) {
    buffer4list& l = s.lists[kTakeOrder[place]];
    l.countdown = place + (mark(s, l) == 0 ? 1 : 0);
}

// The block to reuse when none is free: a candidate, after marking the lists
// whose turn it is and then all of them; else the oldest block of the list
// that holds more than its share.
buffer4block* choose(buffer4state& s) {
    // Data read once goes first whenever any of it is old enough: other lists' candidates,
    // marked in earlier rounds, wait.
    buffer4list& once = s.lists[buffer4listDataOnce];
    if (once.candidates == 0) mark(s, once);
    // The usual answer, without the walk over the lists: only other files' blocks go first.
    static_assert(kTakeOrder[0] == buffer4listOther && kTakeOrder[1] == buffer4listDataOnce);
    if (once.candidates > 0 && s.lists[buffer4listOther].candidates == 0) return once.oldest;
    if (buffer4block* b = oldestCandidate(s)) return b;
    for (int place = 0; place < buffer4lists; ++place)
        if (--s.lists[kTakeOrder[place]].countdown <= 0) markAndSetCountdown(s, place);
    if (buffer4block* b = oldestCandidate(s)) return b;
    for (int place = 0; place < buffer4lists; ++place) markAndSetCountdown(s, place);
    if (buffer4block* b = oldestCandidate(s)) return b;
    const buffer4list* l = s.lists;
    const int32_t data = l[buffer4listDataOnce].count + l[buffer4listData].count;
    int32_t shared = l[buffer4listOther].count + data + l[buffer4listIndex].count;
    int list;
    if (shared < 3)
        list = l[buffer4listDataKept].count > 0 ? buffer4listDataKept : buffer4listBranch;
    else if (l[buffer4listOther].count * 3 > shared)
        list = buffer4listOther;
    else if (data * 3 > shared)
        list = l[buffer4listDataOnce].count > 0 ? buffer4listDataOnce : buffer4listData;
    else
        list = buffer4listIndex;
    // Never stuck on an empty list (a buffer of very few blocks).
    for (int place = 0; l[list].count == 0 && place < buffer4lists; ++place)
        list = kTakeOrder[place];
    return s.lists[list].oldest;
}

// Gives a block back to the free list, forgetting its contents.
void release(buffer4state& s, buffer4block* b) {
    hashRemove(b);
    listRemove(s, b);
    b->file = nullptr;
    b->changed = 0;
    b->valid = 0;
    b->newer = s.freeHead;
    s.freeHead = b;
}

int32_t validAt(const file4* f, int32_t pos) {
    int64_t v = int64_t{f->len} - pos;
    return static_cast<int32_t>(std::clamp<int64_t>(v, 0, stateOf(f).blockSize));
}

// Writes back the first block of a file whose first bytes go last: the rest of the
// block, then those bytes.
int32_t writeFirstBlock(buffer4block* b) {
    file4* f = b->file;
    if (!f->onDisk && file4tempToDisk(f) < 0) return f->env->errorCode;
    const int32_t head = std::min(f->lastBytes, b->valid);
    // Only the first bytes changed (an index's change counter moving alone): the rest of the
    // block is what the disk holds already.
    const int32_t tail = b->restChanged ? b->valid - head : 0;
    if ((tail > 0 && file4writeLow(f, head, b->data + head, tail) != tail) ||
        (head > 0 && file4writeLow(f, 0, b->data, head) != head))
        return error4raiseText(f->env, e4write, E4LOC(92503), f->name);
    setChanged(b, false);
    return 0;
}

// Writes back the run of changed blocks of b's file that holds b, at most one
// group long, in one transfer. The first block of a file whose first bytes go
// last is never part of a longer run.
int32_t writeRun(buffer4block* b) {
    file4* f = b->file;
    if (f->lastBytes > 0 && b->pos == 0) return writeFirstBlock(b);
    buffer4state& s = stateOf(f);
    int32_t bs = s.blockSize;
    const int32_t floor = f->lastBytes > 0 ? bs : 0;
    int32_t start = b->pos;
    for (int k = 1; k < s.blocksPerGroup && start - bs >= floor; ++k) {
        buffer4block* before = find(f, start - bs);
        if (before == nullptr || !before->changed || before->valid != bs) break;
        start -= bs;
    }
    std::vector<buffer4block*> run;
    int32_t bytes = 0;
    for (int32_t pos = start; static_cast<int32_t>(run.size()) < s.blocksPerGroup; pos += bs) {
        buffer4block* at = find(f, pos);
        if (at == nullptr || !at->changed) break;
        std::memcpy(s.writeBehindGroup + bytes, at->data, at->valid);
        bytes += at->valid;
        run.push_back(at);
        if (at->valid != bs || pos > INT32_MAX - bs) break;
    }
    if (!f->onDisk && file4tempToDisk(f) < 0) return f->env->errorCode;
    if (bytes > 0 && file4writeLow(f, start, s.writeBehindGroup, bytes) != bytes)
        return error4raiseText(f->env, e4write, E4LOC(92501), f->name);
    for (buffer4block* at : run) setChanged(at, false);
    return 0;
}

// A descriptor ready for new data, in no list: a free one, else the one the
// lists give up (written back first when changed). Null when that write-back
// fails.
buffer4block* takeBlock(buffer4state& s) {
    buffer4block* b = s.freeHead;
    if (b != nullptr) {
        s.freeHead = b->newer;
        b->newer = nullptr;
        return b;
    }
    b = choose(s);
    if (b->changed && writeRun(b) < 0) return nullptr;
    hashRemove(b);
    listRemove(s, b);
    b->file = nullptr;
    return b;
}

// Puts a descriptor taken but not placed back on the free list.
void giveBack(buffer4state& s, buffer4block* b) {
    b->newer = s.freeHead;
    s.freeHead = b;
}

// `once`: the block comes in for a read (a data block then waits among the ones read once).
void place(buffer4state& s, buffer4block* b, file4* f, int32_t pos, int32_t valid,
           bool once = false) {
    b->file = f;
    b->pos = pos;
    b->valid = valid;
    b->changed = 0;
    b->candidate = 0;
    b->settled = 0;
    b->allocStamp = ++s.allocClock;
    b->useStamp = ++s.useClock;
    hashInsert(s, b);
    const int list = listFor(f, pos);
    listPushNewest(s, b, once && list == buffer4listData ? buffer4listDataOnce : list);
}

// The settled bits of a block's first `bytes` bytes, whole sectors only.
uint64_t wholeSectors(int32_t bytes) {
    const int32_t n = std::min(bytes / file4sectorSize, 64);
    return n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
}

// Reads the block's bytes from disk; what the disk lacks is zero. Only the bytes the read did
// not bring are cleared: clearing the whole block first would write every byte twice.
// The caller checked that no error is pending.
int32_t fill(buffer4block* b) {
    file4* f = b->file;
    const int32_t bs = stateOf(f).blockSize;
    b->settled = 0;
    b->valid = validAt(f, b->pos);
    int32_t got = 0;
    if (f->onDisk && b->valid > 0 && !(f->diskEnd >= 0 && b->pos >= f->diskEnd)) {
        const uint64_t before = file4seqLoad(f);
        got = file4readDisk(f, b->pos, b->data, b->valid);
        if (got < 0 || f->env->errorCode < 0) {
            // A failed read leaves the block zero, never half read.
            std::memset(b->data, 0, bs);
            return got < 0 ? got : f->env->errorCode;
        }
        // No write overlapped the read: its whole sectors stand for the disk as a reader without
        // the lock would settle them one by one (held writes laid over it are not the disk's).
        if (got == b->valid && !journal4holds(f) && file4seqSteady(f, before))
            b->settled = wholeSectors(got);
    }
    got = std::clamp(got, 0, bs);
    if (got < bs) std::memset(b->data + got, 0, bs - got);
    return 0;
}

// The block at `pos` for reading, read from disk on a miss. `wanted` is how
// many blocks the request still needs from here: a longer request reads
// ahead in one transfer.
buffer4block* forRead(file4* f, int32_t pos, int32_t wanted) {
    buffer4state& s = stateOf(f);
    buffer4block* b = find(f, pos);
    if (b != nullptr) {
        if (s.reread && !b->changed && f->accessMode == 0 && !f->writeBehind) {
            if (fill(b) < 0) return nullptr;
            classify(s, b);
        }
        touch(s, b);
        return b;
    }
    int32_t bs = s.blockSize;
    int32_t count = 1;
    if (s.sequential && f->bufferKind == file4kindData)
        count = s.blocksPerGroup;
    else if (wanted > 1 && find(f, pos + bs) == nullptr)
        count = std::min(wanted + 1, s.blocksPerGroup);
    int32_t n = 1;
    while (n < count && int64_t{pos} + int64_t{n} * bs < f->len && find(f, pos + n * bs) == nullptr)
        ++n;
    if (n == 1 || !f->onDisk) {
        b = takeBlock(s);
        if (b == nullptr) return nullptr;
        place(s, b, f, pos, 0, true);
        if (fill(b) < 0) {
            release(s, b);
            return nullptr;
        }
        classify(s, b);
        return b;
    }
    int32_t bytes = static_cast<int32_t>(std::min<int64_t>(int64_t{n} * bs, int64_t{f->len} - pos));
    int32_t got = file4readDisk(f, pos, s.advanceGroup, bytes);
    if (got < 0 || f->env->errorCode < 0) return nullptr;
    std::memset(s.advanceGroup + got, 0, int64_t{n} * bs - got);
    // Every descriptor is taken before any is placed, so that none of the blocks of this
    // transfer is chosen for the next. Taken ones, in no list, wait chained by `newer`.
    buffer4block* taken = nullptr;
    buffer4block** tail = &taken;
    for (int32_t i = 0; i < n; ++i) {
        buffer4block* at = takeBlock(s);
        if (at == nullptr) {
            while (taken != nullptr) {
                buffer4block* back = taken;
                taken = back->newer;
                giveBack(s, back);
            }
            return nullptr;
        }
        at->newer = nullptr;
        *tail = at;
        tail = &at->newer;
    }
    buffer4block* at = taken;
    for (int32_t i = 0; i < n; ++i) {
        buffer4block* next = at->newer;
        place(s, at, f, pos + i * bs, validAt(f, pos + i * bs), true);
        std::memcpy(at->data, s.advanceGroup + int64_t{i} * bs, bs);
        classify(s, at);
        at = next;
    }
    touch(s, taken);
    return taken;
}

// The file grows to `length`: the block holding the old end now reaches on
// (its tail is already zero).
void extendTo(file4* f, int32_t length) {
    buffer4state& s = stateOf(f);
    if (f->len >= 0 && f->len % s.blockSize != 0) {
        buffer4block* b = find(f, f->len - f->len % s.blockSize);
        if (b != nullptr) {
            int32_t oldLen = f->len;
            f->len = length;
            b->valid = validAt(f, b->pos);
            f->len = oldLen;
        }
    }
    f->len = length;
}

// Calls piece(blockPos, off, take, done) for each block-sized piece of
// [pos, pos + n); stops at the first non-zero result and returns it.
template <typename Piece>
int32_t forEachPiece(int32_t blockSize, int32_t pos, int32_t n, Piece piece) {
    for (int32_t done = 0; done < n;) {
        int32_t at = pos + done;
        int32_t blockPos = at - at % blockSize;
        int32_t off = at - blockPos;
        int32_t take = std::min(blockSize - off, n - done);
        if (int32_t rc = piece(blockPos, off, take, done)) return rc;
        done += take;
    }
    return 0;
}

// The file's blocks (its changed ones only when asked) in file order.
std::vector<buffer4block*> blocksOf(const file4* f, bool changedOnly) {
    std::vector<buffer4block*> out;
    const size_t want = size_t(changedOnly ? f->bufferChangedCount : f->bufferBlockCount);
    for (buffer4block* b = f->bufferBlocks; b != nullptr && out.size() < want; b = b->fileNext)
        if (!changedOnly || b->changed) out.push_back(b);
    std::sort(out.begin(), out.end(),
              [](const buffer4block* a, const buffer4block* b) { return a->pos < b->pos; });
    return out;
}

// Gives every block of the file back to the free list.
void releaseAll(file4* f) {
    buffer4state& s = stateOf(f);
    while (f->bufferBlocks != nullptr) release(s, f->bufferBlocks);
}

int64_t availableMemory() {
    FILE* in = std::fopen("/proc/meminfo", "r");
    if (in == nullptr) return 0;
    char line[256];
    int64_t kib = 0;
    while (std::fgets(line, sizeof line, in) != nullptr) {
        if (std::strncmp(line, "MemAvailable:", 13) == 0) {
            const char* p = line + 13;
            while (*p == ' ') ++p;
            for (; *p >= '0' && *p <= '9'; ++p) kib = kib * 10 + (*p - '0');
            break;
        }
    }
    std::fclose(in);
    return kib * 1024;
}

void freeAll(buffer4state& s) {
    if (s.groupMapping != nullptr)
        ::munmap(s.groupMapping, s.groupMappingBytes);
    else if (s.groupMemory != nullptr)
        for (int32_t g = 0; g < s.groups; ++g) std::free(s.groupMemory[g]);
    std::free(s.groupMemory);
    std::free(s.blocks);
    std::free(s.hash);
    std::free(s.writeBehindGroup);
    std::free(s.advanceGroup);
    int8_t blocked = s.blocked, reread = s.reread, sequential = s.sequential;
    s = buffer4state{};
    s.blocked = blocked;
    s.reread = reread;
    s.sequential = sequential;
}

// The groups of a large buffer in one mapping that the system may back with large pages:
// a block read for the first time then costs no page fault of its own (a fault costs more
// than the read). False when the mapping cannot be had; the groups are then allocated one
// by one.
bool mapGroups(buffer4state& s, int32_t wanted, int32_t groupBytes) {
    constexpr size_t kLargePage = size_t{2} << 20;
    const size_t bytes = size_t(wanted) * size_t(groupBytes);
    if (wanted <= 0 || bytes < 2 * kLargePage) return false;
    // Mapped one large page longer, so that the groups can start on a large-page boundary.
    const size_t mapped = bytes + kLargePage;
    void* at = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return false;
    auto* start = static_cast<unsigned char*>(at);
    start += (kLargePage - reinterpret_cast<uintptr_t>(start) % kLargePage) % kLargePage;
    (void)::madvise(start, bytes, MADV_HUGEPAGE);  // a hint: refused, pages stay small
    s.groupMapping = at;
    s.groupMappingBytes = mapped;
    for (s.groups = 0; s.groups < wanted; ++s.groups)
        s.groupMemory[s.groups] = start + size_t(s.groups) * size_t(groupBytes);
    return true;
}

// Allocates `wanted` groups of `groupBytes` (as many as can be had) and the
// tables; false when not even the tables could be had.
bool allocate(buffer4state& s, int32_t wanted, int32_t groupBytes) {
    s.groupBytes = groupBytes;
    s.blocksPerGroup = groupBytes / s.blockSize;
    s.groupMemory = static_cast<unsigned char**>(std::calloc(wanted, sizeof(unsigned char*)));
    s.writeBehindGroup = static_cast<unsigned char*>(std::malloc(groupBytes));
    s.advanceGroup = static_cast<unsigned char*>(std::malloc(groupBytes));
    if (s.groupMemory == nullptr || s.writeBehindGroup == nullptr || s.advanceGroup == nullptr)
        return false;
    if (mapGroups(s, wanted, groupBytes)) return true;
    for (s.groups = 0; s.groups < wanted; ++s.groups) {
        s.groupMemory[s.groups] = static_cast<unsigned char*>(std::malloc(groupBytes));
        if (s.groupMemory[s.groups] == nullptr) break;
    }
    return true;
}

}  // namespace

buffer4state* buffer4stateOf(env4* env) {
    if (env->buffer == nullptr) {
        env->buffer = static_cast<buffer4state*>(std::calloc(1, sizeof(buffer4state)));
        if (env->buffer != nullptr) env->buffer->blocked = 1;  // starts only when asked for
    }
    return env->buffer;
}

bool buffer4running(const env4* env) {
    return env->buffer != nullptr && env->buffer->running;
}

void buffer4attach(env4* env, file4* f) {
    buffer4state& s = *env->buffer;
    f->bufferKind = f->kind == 0 ? file4kindOther : f->kind;
    f->writeBehind = f->writeBehindWanted;
    if (f->onDisk) f->len = -1;
    f->hashOffset = s.nextHashOffset;
    int64_t length = 0;
    struct stat st {};
    f->diskEnd = -1;
    if (f->onDisk && fstat(f->fd, &st) == 0) {
        length = st.st_size;
        // Only this process writes a file it opened unshared: what lies past the end of
        // the disk's file need not be read.
        if (f->accessMode != 0 && length <= INT32_MAX) f->diskEnd = static_cast<int32_t>(length);
    }
    s.nextHashOffset =
        static_cast<int32_t>((s.nextHashOffset + length / s.blockSize) % s.totalBlocks);
    f->advanceRead = std::min(1.0, static_cast<double>(f->advanceBytes) / s.blockSize);
}

int32_t buffer4writeBackFile(file4* f) {
    if (f->bufferKind == 0 || f->bufferChangedCount == 0) return 0;
    std::vector<buffer4block*> changed = blocksOf(f, true);
    // A first block whose first bytes go last goes after all the others.
    if (f->lastBytes > 0 && !changed.empty() && changed.front()->pos == 0)
        std::rotate(changed.begin(), changed.begin() + 1, changed.end());
    for (buffer4block* b : changed)
        if (b->changed) {
            int32_t rc = writeRun(b);
            if (rc < 0) return rc;
        }
    return 0;
}

int32_t buffer4dropFile(file4* f) {
    if (f->bufferKind == 0) return 0;
    int32_t rc = buffer4writeBackFile(f);
    if (rc < 0) return rc;
    releaseAll(f);
    return 0;
}

int32_t buffer4detach(file4* f, bool discard) {
    if (f->bufferKind == 0) return 0;
    if (!discard) {
        int32_t rc = buffer4writeBackFile(f);
        if (rc == 0 && !f->onDisk) {
            rc = file4tempToDisk(f);
            if (rc == 0 && f->len > 0 && ftruncate(f->fd, f->len) != 0)
                rc = error4raiseText(f->env, e4lenSet, E4LOC(92502), f->name);
            if (rc == 0) file4noteLength(f);
        }
        if (rc < 0) return rc;
    }
    releaseAll(f);
    f->bufferKind = 0;
    f->writeBehind = 0;
    if (f->onDisk) f->len = -1;
    f->diskEnd = -1;
    return 0;
}

int32_t buffer4read(file4* f, int32_t pos, void* data, int32_t n) {
    // file4read checked the request and that no error is pending. While buffered, a known
    // length is the one file4length would give.
    int32_t length = f->len;
    if (length < 0) {
        length = file4length(f);
        if (length < 0) return length;
        f->len = length;
    }
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(int64_t{pos} + n, length));
    if (end <= pos) return 0;
    const int32_t bs = stateOf(f).blockSize;
    auto* out = static_cast<unsigned char*>(data);
    auto failed = [f] { return f->env->errorCode < 0 ? f->env->errorCode : e4bufRead; };
    const int32_t first = pos % bs;
    if (first + (end - pos) <= bs) {
        // Within one block, as a record read mostly is.
        buffer4block* b = forRead(f, pos - first, 1);
        if (b == nullptr) return failed();
        std::memcpy(out, b->data + first, size_t(end - pos));
        return end - pos;
    }
    int32_t rc = forEachPiece(
        bs, pos, end - pos, [&](int32_t blockPos, int32_t off, int32_t take, int32_t done) {
            buffer4block* b = forRead(f, blockPos, (end - blockPos + bs - 1) / bs);
            if (b == nullptr) return failed();
            std::memcpy(out + done, b->data + off, take);
            return 0;
        });
    return rc < 0 ? rc : end - pos;
}

int32_t buffer4write(file4* f, int32_t pos, const void* data, int32_t n) {
    int32_t length = file4length(f);
    if (length < 0) return length;
    f->len = length;
    if (pos > length) extendTo(f, pos);
    buffer4state& s = stateOf(f);
    int32_t bs = s.blockSize;
    auto* in = static_cast<const unsigned char*>(data);
    return forEachPiece(bs, pos, n, [&](int32_t blockPos, int32_t off, int32_t take, int32_t done) {
        buffer4block* b = find(f, blockPos);
        if (b != nullptr) {
            touch(s, b, true);
        } else {
            b = takeBlock(s);
            if (b == nullptr) return f->env->errorCode;
            place(s, b, f, blockPos, 0);
            bool whole = off == 0 && take == bs;
            int32_t rc = whole ? 0 : fill(b);
            if (whole) std::memset(b->data, 0, bs);
            if (rc < 0) {
                release(s, b);
                return rc;
            }
        }
        std::memcpy(b->data + off, in + done, take);
        b->settled = 0;
        if (!b->changed) b->restChanged = 0;
        if (off + take > f->lastBytes) b->restChanged = 1;
        setChanged(b, true);
        if (f->len < blockPos + off + take) extendTo(f, blockPos + off + take);
        b->valid = std::max(b->valid, off + take);
        classify(s, b);
        return 0;
    });
}

void buffer4refreshRange(file4* f, int32_t pos, const void* data, int32_t n) {
    if (f->len < 0) return;
    if (pos > f->len) extendTo(f, pos);
    buffer4state& s = stateOf(f);
    int32_t bs = s.blockSize;
    auto* in = static_cast<const unsigned char*>(data);
    forEachPiece(bs, pos, n, [&](int32_t blockPos, int32_t off, int32_t take, int32_t done) {
        if (f->len < blockPos + off + take) extendTo(f, blockPos + off + take);
        if (buffer4block* b = find(f, blockPos)) {
            std::memcpy(b->data + off, in + done, take);
            b->settled = 0;
            b->valid = std::max(b->valid, off + take);
            classify(s, b);
        }
        return 0;
    });
}

namespace {

// The block holding the whole of [pos, pos + n) of sectors the settled mask can name, and
// their bits; null when the range is not whole sectors of one buffered block.
buffer4block* settledBlock(const file4* f, int32_t pos, int32_t n, uint64_t* bits) {
    const buffer4state& s = stateOf(f);
    if (n <= 0 || pos % file4sectorSize != 0 || n % file4sectorSize != 0) return nullptr;
    const int32_t off = pos % s.blockSize;
    const int32_t first = off / file4sectorSize, count = n / file4sectorSize;
    if (off + n > s.blockSize || first + count > 64) return nullptr;
    buffer4block* b = find(f, pos - off);
    if (b == nullptr || b->changed || off + n > b->valid) return nullptr;
    *bits = (count == 64 ? ~uint64_t{0} : ((uint64_t{1} << count) - 1)) << first;
    return b;
}

}  // namespace

int32_t buffer4readSettled(file4* f, int32_t pos, void* data, int32_t n) {
    uint64_t bits = 0;
    buffer4block* b = settledBlock(f, pos, n, &bits);
    if (b == nullptr || (b->settled & bits) != bits) return 0;
    std::memcpy(data, b->data + pos % stateOf(f).blockSize, n);
    touch(stateOf(f), b);
    return n;
}

void buffer4settle(file4* f, int32_t pos, const void* data, int32_t n) {
    uint64_t bits = 0;
    buffer4block* b = settledBlock(f, pos, n, &bits);
    if (b == nullptr) return;
    std::memcpy(b->data + pos % stateOf(f).blockSize, data, n);
    b->settled |= bits;
    classify(stateOf(f), b);
}

void buffer4setLength(file4* f, int32_t length) {
    buffer4state& s = stateOf(f);
    for (buffer4block* b : blocksOf(f, false)) {
        if (b->pos >= length) {
            release(s, b);
        } else if (b->pos + b->valid > length) {
            b->valid = length - b->pos;
            std::memset(b->data + b->valid, 0, s.blockSize - b->valid);
            b->settled = 0;
            classify(s, b);
        }
    }
    if (f->len >= 0 && length > f->len) extendTo(f, length);
    f->len = length;
}

void buffer4autoStart(env4* env) {
    if (env->buffer == nullptr) return;  // blocked until asked for
    buffer4state& s = *env->buffer;
    if (s.running || s.blocked) return;
    int64_t memory = availableMemory();
    if (memory <= 0 || env->bufferPercent < 0 || env->bufferPercent > 100) {
        s.blocked = 1;
        return;
    }
    env->bufferMemory =
        static_cast<int32_t>(std::min(memory / 100 * env->bufferPercent, kAutoBufferCap));
    if (buffer4start(env) != 0) s.blocked = 1;
}

int64_t buffer4overheadBytes(const env4* env) {
    const int64_t blockSize =
        std::max(env->blockSize - env->blockSize % file4sectorSize, int32_t{file4sectorSize});
    const int64_t blocks = std::max<int64_t>(env->bufferMemory, 0) / blockSize + 1;
    int64_t hashSize = 2;
    while (hashSize <= blocks) hashSize *= 2;
    const int64_t groupBytes = std::max<int64_t>(env->bufferGroupSize, blockSize);
    return blocks * int64_t(sizeof(buffer4block)) + hashSize * int64_t(sizeof(buffer4block*)) +
           2 * groupBytes;
}

int32_t buffer4start(env4* env) {
    if (!env4isLive(env)) return error4raise(env, e4struct, E4LOC(92510));
    if (error4pending(env)) return e4codeBase;
    if (buffer4stateOf(env) == nullptr) return -1;
    buffer4state& s = *env->buffer;
    if (s.running) return 0;
    int32_t blockSize = env->blockSize, groupSize = env->bufferGroupSize;
    if (blockSize <= 0 || groupSize <= 0) return error4raise(env, e4struct, E4LOC(92511));
    if (blockSize >= file4sectorSize) {
        blockSize -= blockSize % file4sectorSize;
        groupSize -= groupSize % blockSize;
    } else {
        blockSize = file4sectorSize;
    }
    if (groupSize < blockSize) groupSize = blockSize;
    int32_t groupBytes = groupSize - groupSize % blockSize;
    if (env->bufferMemory <= 0) return -1;
    while (env->bufferMemory / (groupBytes - 2) < 8) {
        groupBytes -= blockSize;
        if (groupBytes <= 0) return -1;
    }
    int32_t wanted = env->bufferMemory / (groupBytes - 2) - 4;
    s.blockSize = blockSize;
    for (;;) {
        if (!allocate(s, wanted, groupBytes)) s.groups = 0;
        if (s.groups >= 4 || (s.groups > 0 && groupBytes <= blockSize)) break;
        bool none = s.groups == 0;
        freeAll(s);
        s.blockSize = blockSize;
        if (none && groupBytes <= blockSize) return -1;
        groupBytes = std::max(blockSize, (groupBytes / 2) - (groupBytes / 2) % blockSize);
        wanted = std::min(wanted, 4);
    }
    s.totalBlocks = s.groups * s.blocksPerGroup;
    s.hashSize = 2 << u4log2(static_cast<uint32_t>(s.totalBlocks));
    s.hashMask = s.hashSize - 1;
    // Per list: minimum count, allocation-age and use-age limits, as shares of
    // the blocks (per cent).
    constexpr int32_t shares[buffer4lists][3] = {{5, 25, 25},    {10, 100, 100}, {5, 25, 25},
                                                 {15, 200, 200}, {5, 10, 10},    {0, 0, 10}};
    auto share = [&](int32_t pct) {
        return static_cast<int32_t>(int64_t{s.totalBlocks} * pct / 100);
    };
    s.tickStep = std::max(2, s.totalBlocks / 100);
    for (int i = 0; i < buffer4lists; ++i) {
        s.lists[i].minCount = share(shares[i][0]);
        s.lists[i].allocAge = share(shares[i][1]);
        s.lists[i].useAge = share(shares[i][2]);
    }
    s.blocks = static_cast<buffer4block*>(std::calloc(s.totalBlocks, sizeof(buffer4block)));
    s.hash = static_cast<buffer4block**>(std::calloc(s.hashSize, sizeof(buffer4block*)));
    if (s.blocks == nullptr || s.hash == nullptr) {
        freeAll(s);
        return -1;
    }
    for (int32_t i = 0; i < s.totalBlocks; ++i) {
        buffer4block* b = &s.blocks[i];
        b->data = s.groupMemory[i / s.blocksPerGroup] + int64_t{i % s.blocksPerGroup} * blockSize;
        b->newer = s.freeHead;
        s.freeHead = b;
    }
    s.running = 1;
    for (auto* f = static_cast<file4*>(list4first(&env->files)); f != nullptr;
         f = static_cast<file4*>(list4next(&env->files, f)))
        buffer4attach(env, f);
    return 0;
}

int32_t buffer4suspend(env4* env) {
    if (env == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92520));
    if (env->buffer == nullptr) return 0;  // never started, blocked
    buffer4state& s = *env->buffer;
    s.blocked = 1;
    if (!s.running) return 0;
    bool failed = false;
    for (auto* f = static_cast<file4*>(list4first(&env->files)); f != nullptr;
         f = static_cast<file4*>(list4next(&env->files, f)))
        if (buffer4detach(f, false) < 0) failed = true;
    if (failed) return error4raise(env, e4bufSuspend, E4LOC(92521));  // nothing held is lost
    freeAll(s);
    return 0;
}

void buffer4release(env4* env) {
    buffer4state* s = env->buffer;
    if (s == nullptr) return;
    if (s->running)
        // What a failed suspend left attached can no longer be written anywhere.
        for (auto* f = static_cast<file4*>(list4first(&env->files)); f != nullptr;
             f = static_cast<file4*>(list4next(&env->files, f)))
            (void)buffer4detach(f, true);  // discarding: nothing is written, nothing fails
    freeAll(*s);
    std::free(s);
    env->buffer = nullptr;
}

int32_t u4growBuffer(env4* env, char** buffer, int32_t* length, int32_t newLength) {
    if (buffer == nullptr || length == nullptr) return error4raise(env, e4parmNull, E4LOC(94520));
    if (newLength <= *length) return 0;
    auto* grown = static_cast<char*>(u4allocAgain(env, newLength));
    if (grown == nullptr) return error4raise(env, e4memory, E4LOC(94521));
    if (*buffer != nullptr && *length > 0) std::memcpy(grown, *buffer, *length);
    mem4free(*buffer);
    *buffer = grown;
    *length = newLength;
    return 0;
}

void* u4allocAgain(env4* env, int32_t size) {
    void* block = mem4alloc(size);
    if (block == nullptr && env != nullptr && buffer4running(env)) {
        // The block buffer is the one large user that can give memory back.
        buffer4state& s = *env->buffer;
        const int8_t blocked = s.blocked;
        if (buffer4suspend(env) == 0) {
            block = mem4alloc(size);
            // A buffer that cannot start again leaves the environment unbuffered, which
            // loses nothing: every file reads and writes the disk directly. It stays
            // blocked then, so that no open tries to start it again by itself.
            if (buffer4start(env) == 0) s.blocked = blocked;
        }
    }
    if (block == nullptr) error4raise(env, e4memory, E4LOC(94540));
    return block;
}

int32_t buffer4startForward(env4* env) {
    return buffer4start(env);
}
int32_t buffer4suspendForward(env4* env) {
    return buffer4suspend(env);
}
