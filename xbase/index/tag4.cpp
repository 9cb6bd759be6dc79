#include "xbase/index/tag4.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "xbase/core/bytes4.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/file/file4.h"
#include "xbase/index/index4file.h"
#include "xbase/index/index4header.h"
#include "xbase/index/tag4internal.h"
#include "xbase/record/table4file.h"
#include "xbase/values/collate4.h"

// Nodes are held in up to tag4cacheBlocks blocks per tag, found by offset through a hash
// and kept in order of use. The path (root to current leaf) pins its blocks; the others
// form the cache, the least recently used one being reused first (written back when
// changed). A node read from the file is checked whole before
// anything looks at it: its header, the arithmetic of its entries, the order of its keys,
// and, when it was reached from a parent, its agreement with the parent's entry.

namespace {

constexpr int kRetries = 12;  // starts from the root for one operation, then -310

void sleepBeforeRetry(int attempt) {
    const int ms = std::min(5 << std::min(attempt, 6), 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Reads of one node in a row that must agree before an unlocked reader takes it, and the
// reads past the first that it makes for them before it gives up.
constexpr int kAgreeingReads = 3;
constexpr int kSteadyReads = 5;

// Reads the node at `offset`: node4size, fewer bytes (suspect), or an error. A process
// without the index lock may read a node while another process writes the same bytes, and
// a read that overlaps a write may return part of each version: entries of one with key
// bytes of the other, which can pass every check and decode into keys no one wrote. Such
// a reader reads the node again from the disk until three reads in a row agree; one that
// keeps changing is suspect. Two are not enough: a read tears at cache-line bounds, so a
// node that goes back and forth between two versions can tear the same way in two
// different writes, and two such reads agree. A reader holding the lock, or of an unshared
// file, reads once.
//
// Where the database has a change sequence, one read of the disk that no write overlapped
// (file4seqSteady) is as good as three that agree; a buffer fill made so settles its block.
//
// The agreed bytes are left settled in the block buffer, where they serve later reads
// without the disk on the terms of the nodes a tag holds: until a moved change counter, a
// retry or a refresh drops the file's blocks (each of which also forgets the tags' nodes).
int32_t readNode(tag4file* t, int32_t offset, uint8_t* data) {
    file4* file = &t->indexFile->file;
    const bool trusted = tag4trusted(t);
    if (!trusted && file4readSettled(file, offset, data, node4size) == node4size) return node4size;
    const int32_t got = file4read(file, offset, data, node4size);
    if (got < node4size || trusted) return got;
    // The read may have filled the block from the disk with no write overlapping it.
    if (file4readSettled(file, offset, data, node4size) == node4size) return node4size;
    const uint64_t before = file4seqLoad(file);
    if ((before & 1) == 0) {
        const int32_t rc = file4readLow(file, offset, data, node4size);
        if (rc < node4size) return rc;
        if (file4seqSteady(file, before)) {
            file4settle(file, offset, data, node4size);
            return node4size;
        }
    }
    uint8_t again[node4size];
    int agreeing = 1;
    for (int read = 0; read < kSteadyReads; read++) {
        // Two reads of a mix agree while the writer is held up halfway (preempted, say):
        // the next read comes after any write in progress has ended.
        file4awaitWrite(file, offset);
        const int32_t rc = file4readLow(file, offset, again, node4size);
        if (rc < node4size) return rc;
        if (std::memcmp(again, data, node4size) != 0) {
            std::memcpy(data, again, node4size);
            agreeing = 1;
        } else if (++agreeing == kAgreeingReads) {
            file4settle(file, offset, data, node4size);
            return node4size;
        }
    }
    return 0;
}

bool validChild(uint32_t offset) {
    return offset >= uint32_t(tag4headerSize) && offset % node4size == 0 &&
           offset <= uint32_t(INT32_MAX) - node4size;
}

int32_t writeBlock(block4* b) {
    tag4file* t = b->tag;
    const int32_t rc = file4write(&t->indexFile->file, b->fileOffset, b->data, node4size);
    if (rc < 0) return rc;
    b->changed = 0;
    return 0;
}

block4*& bucketOf(tag4file* t, int32_t offset) {
    return t->tree->hash[uint32_t(offset) / node4size % tag4hashSize];
}

void unlinkUse(tag4file* t, block4* b) {
    (b->older != nullptr ? b->older->newer : t->tree->oldest) = b->newer;
    (b->newer != nullptr ? b->newer->older : t->tree->newest) = b->older;
    b->older = b->newer = nullptr;
}

void linkNewest(tag4file* t, block4* b) {
    b->older = t->tree->newest;
    b->newer = nullptr;
    (t->tree->newest != nullptr ? t->tree->newest->newer : t->tree->oldest) = b;
    t->tree->newest = b;
}

void linkOldest(tag4file* t, block4* b) {
    b->newer = t->tree->oldest;
    b->older = nullptr;
    (t->tree->oldest != nullptr ? t->tree->oldest->older : t->tree->newest) = b;
    t->tree->oldest = b;
}

void touch(tag4file* t, block4* b) {
    if (t->tree->newest == b) return;
    unlinkUse(t, b);
    linkNewest(t, b);
}

// The block now holds the node at `offset` (-1: none, and it is the first to be reused).
void setOffset(block4* b, int32_t offset) {
    tag4file* t = b->tag;
    if (b->fileOffset >= 0) {
        block4** at = &bucketOf(t, b->fileOffset);
        while (*at != b) at = &(*at)->hashNext;
        *at = b->hashNext;
        b->hashNext = nullptr;
    }
    b->fileOffset = offset;
    if (offset >= 0) {
        block4*& head = bucketOf(t, offset);
        b->hashNext = head;
        head = b;
    } else {
        unlinkUse(t, b);
        linkOldest(t, b);
    }
}

// The block holding the node at `offset`, or null.
block4* heldBlock(tag4file* t, int32_t offset) {
    for (block4* b = bucketOf(t, offset); b != nullptr; b = b->hashNext)
        if (b->fileOffset == offset) return b;
    return nullptr;
}

void forgetBlocks(tag4file* t) {
    for (int i = 0; i < t->tree->blockCount; i++) mem4free(t->tree->blocks[i]);
    t->tree->blockCount = 0;
    std::fill(std::begin(t->tree->hash), std::end(t->tree->hash), nullptr);
    t->tree->oldest = t->tree->newest = nullptr;
}

block4* takeBlock(tag4file* t, int32_t* rc) {
    // A block that holds nothing is reused first, then a new one, then the oldest cached.
    block4* victim = t->tree->oldest;
    while (victim != nullptr && victim->inPath) victim = victim->newer;
    if (victim != nullptr && victim->fileOffset < 0) return victim;
    if (t->tree->blockCount < tag4cacheBlocks) {
        auto* b = static_cast<block4*>(mem4alloc(int32_t(sizeof(block4))));
        if (b == nullptr) {
            *rc = error4raise(t->env, e4memory, E4LOC(92101));
            return nullptr;
        }
        b->tag = t;
        b->fileOffset = -1;
        b->hashNext = nullptr;
        t->tree->blocks[t->tree->blockCount++] = b;
        linkOldest(t, b);
        return b;
    }
    if (victim == nullptr) {
        *rc = error4raise(t->env, e4info, E4LOC(92102));
        return nullptr;
    }
    if (victim->changed) {
        *rc = writeBlock(victim);
        if (*rc < 0) return nullptr;
    }
    setOffset(victim, -1);
    victim->changed = 0;
    return victim;
}

// Checks a node as read: header, entry arithmetic, key order. 0 or tag4suspect. The last
// entry of a sound node that has entries is left in the tag's work space, for the check
// against its parent.
int32_t checkNode(tag4file* t, uint8_t* data) {
    const node4header h = node4headerRead(data);
    if (node4headerCheck(h) != 0) return tag4suspect;
    const int k = t->keyLength;
    tag4work* w = &t->tree->work;
    w->checkedLast = false;
    if (node4isLeaf(h.attribute)) {
        leaf4view leaf;
        if (leaf.attachAscending(data, k, t->pad, w->lastKey) != 0) return tag4suspect;
        if (leaf.count() > 0) {
            leaf4entry e;
            (void)leaf.entry(leaf.count() - 1, &e);  // within the count
            w->lastRecord = e.record;
            w->checkedLast = true;
        }
        return 0;
    }
    branch4view branch;
    if (branch.attach(data, k) != 0) return tag4suspect;
    for (int i = 1; i < branch.count(); i++)
        if (std::memcmp(branch.key(i - 1), branch.key(i), size_t(k)) > 0) return tag4suspect;
    if (branch.count() > 0) {
        std::memcpy(w->lastKey, branch.key(branch.count() - 1), size_t(k));
        w->lastRecord = branch.record(branch.count() - 1);
        w->checkedLast = true;
    }
    return 0;
}

// Gets a block for a node reached from a parent entry (or the root when parentKey is
// null), checking a node read from the file against that entry.
int32_t getChecked(tag4file* t, uint32_t offset, const uint8_t* parentKey, uint32_t parentRecord,
                   bool wantRoot, block4** out) {
    if (!validChild(offset)) return tag4suspect;
    block4* b = nullptr;
    bool read = false;
    const int32_t rc = tag4blockGet(t, int32_t(offset), false, &b, &read);
    if (rc != 0) return rc;
    const node4header h = node4headerRead(b->data);
    const bool isRoot = h.attribute == node4rootBranch || h.attribute == node4rootLeaf;
    bool bad = isRoot != wantRoot || (!wantRoot && h.count == 0) ||
               (h.attribute == node4rootBranch && h.count == 0);
    if (!bad && read && parentKey != nullptr && t->env->checkNodes) {
        // Another process may be rewriting the tree under us: the child must still be
        // the one its parent describes.
        const tag4work* w = &t->tree->work;
        bad = !w->checkedLast || w->lastRecord != parentRecord ||
              std::memcmp(w->lastKey, parentKey, t->keyLength) > 0;
    }
    if (bad) {
        tag4blockUnpin(b);
        return tag4suspect;
    }
    *out = b;
    return 0;
}

// How a descent chooses the entry at each level.
struct Target {
    enum Kind { byKey, byKeyRecord, first, last, fraction } kind = first;
    const uint8_t* key = nullptr;
    int length = 0;
    uint32_t record = 0;
    double f = 0;
    leaf4place* place = nullptr;  // receives where the leaf search stopped
};

int compareEntry(const Target& target, const uint8_t* key, uint32_t record, int keyLength) {
    if (target.kind == Target::byKey) return std::memcmp(key, target.key, size_t(target.length));
    const int c = std::memcmp(key, target.key, size_t(keyLength));
    if (c != 0) return c;
    return record < target.record ? -1 : record > target.record ? 1 : 0;
}

int fractionIndex(Target& target, int n) {
    int i = int(std::floor(double(n) * target.f));
    i = std::clamp(i, 0, n - 1);
    target.f = std::clamp(double(n) * target.f - i, 0.0, 1.0);
    return i;
}

int chooseBranch(tag4file* t, branch4view& view, Target& target) {
    const int n = view.count();
    switch (target.kind) {
        case Target::first:
            return 0;
        case Target::last:
            return n - 1;
        case Target::fraction:
            return fractionIndex(target, n);
        default:
            break;
    }
    int low = -1, high = n - 1;
    while (low < high - 1) {
        const int mid = (low + high) / 2;
        if (compareEntry(target, view.key(mid), view.record(mid), t->keyLength) >= 0)
            high = mid;
        else
            low = mid;
    }
    return high;
}

// Sets the leaf's cursor; 0 when the entry there equals the target, else 2.
int32_t chooseLeaf(tag4file* t, block4* b, Target& target) {
    leaf4view leaf;
    leaf.attachTrusted(b->data, t->keyLength, t->pad);
    const int n = leaf.count();
    switch (target.kind) {
        case Target::first:
            b->cursor = 0;
            return n > 0 ? 0 : 2;
        case Target::last:
            b->cursor = std::max(n - 1, 0);
            return n > 0 ? 0 : 2;
        case Target::fraction:
            b->cursor = n > 0 ? fractionIndex(target, n) : 0;
            return n > 0 ? 0 : 2;
        default:
            break;
    }
    const bool byRecord = target.kind == Target::byKeyRecord;
    int at = 0;
    const int rc = leaf.search(target.key, byRecord ? t->keyLength : target.length, byRecord,
                               target.record, &at, target.place);
    b->cursor = at;
    return rc;
}

int32_t readRoot(tag4file* t) {
    bytes4slice piece = tag4headerRootSlice();
    const int32_t got = file4read(&t->indexFile->file, int32_t(t->headerOffset) + piece.offset,
                                  piece.bytes, piece.size);
    if (got < 0) return got;
    if (got < piece.size) return tag4suspect;
    t->tree->root = tag4headerDecodeRoot(piece);
    t->tree->rootChanged = 0;
    return 0;
}

// From the root down to a leaf, choosing the entry at each level.
int32_t descend(tag4file* t, Target target) {
    tag4pathClear(t);
    if (t->tree->root == 0) {
        const int32_t rc = readRoot(t);
        if (rc != 0) return rc;
    }
    uint32_t offset = t->tree->root;
    const uint8_t* parentKey = nullptr;
    uint32_t parentRecord = 0;
    for (int level = 0;; level++) {
        if (level >= tag4maxDepth) return tag4suspect;
        block4* b = nullptr;
        const int32_t rc = getChecked(t, offset, parentKey, parentRecord, level == 0, &b);
        if (rc != 0) return rc;
        t->tree->path[level] = b;
        t->tree->depth = level + 1;
        if (node4isLeaf(node4headerRead(b->data).attribute)) return chooseLeaf(t, b, target);
        branch4view view;
        if (view.attach(b->data, t->keyLength) != 0) return tag4suspect;
        b->cursor = chooseBranch(t, view, target);
        parentKey = view.key(b->cursor);
        parentRecord = view.record(b->cursor);
        offset = view.child(b->cursor);
    }
}

// Forgets every node without writing (a reader's nodes are never changed) and reads the
// root offset afresh: another process changed the file. 0, or the error of writing back
// the file's other changed blocks (stale blocks would be read again).
int32_t dropForRetry(tag4file* t) {
    tag4pathClear(t);
    for (int i = 0; i < t->tree->blockCount; i++) {
        if (t->tree->blocks[i]->changed) continue;
        setOffset(t->tree->blocks[i], -1);
    }
    t->tree->root = 0;
    return file4dropBuffers(&t->indexFile->file);
}

// Runs an operation again while it finds suspect nodes, a bounded number of times.
template <typename Op>
int32_t withRetry(tag4file* t, Op op) {
    for (int attempt = 0;; attempt++) {
        const int32_t rc = op();
        if (rc != tag4suspect) return rc;
        if (tag4trusted(t) || attempt >= kRetries) {
            tag4pathClear(t);
            return tag4corrupt(t, E4LOC(92110));
        }
        if (const int32_t rc = dropForRetry(t); rc < 0) return rc;
        sleepBeforeRetry(attempt);
    }
}

block4* leafOf(tag4file* t) {
    return t->tree->depth > 0 ? t->tree->path[t->tree->depth - 1] : nullptr;
}

int leafCount(block4* b) {
    return node4headerRead(b->data).count;
}

// Rebuilds the key at the leaf's cursor into `out` (K bytes); false past the end. A walk
// that steps through a leaf entry by entry decodes one entry a step: the key rebuilt last is
// kept with a copy of its leaf's bytes, and serves while the leaf still holds them.
bool keyAtCursor(tag4file* t, uint8_t* out, uint32_t* record) {
    block4* b = leafOf(t);
    if (b == nullptr) return false;
    const int cursor = std::max(b->cursor, 0);
    if (cursor >= bytes4get16le(b->data + node4countAt)) return false;
    const int k = t->keyLength;
    auto& memo = t->tree->work.cursorKey;
    leaf4entry e;
    leaf4entryAt(b->data, cursor, &e);  // within the count
    if ((memo.index == cursor || memo.index + 1 == cursor) &&
        std::memcmp(memo.node, b->data, node4size) == 0) {
        if (memo.index + 1 == cursor) {
            const int stored = k - e.dup - e.trail;
            memo.start -= stored;
            std::memcpy(memo.key + e.dup, b->data + memo.start, size_t(stored));
            std::memset(memo.key + e.dup + stored, t->pad, size_t(e.trail));
            memo.index = cursor;
        }
    } else {
        leaf4view leaf;
        leaf.attachTrusted(b->data, t->keyLength, t->pad);
        const leaf4iter at(leaf, cursor);
        std::memcpy(memo.node, b->data, node4size);
        std::memcpy(memo.key, at.key(), size_t(k));
        memo.start = at.start();
        memo.index = cursor;
    }
    std::memcpy(out, memo.key, size_t(k));
    if (record != nullptr) *record = e.record;
    return true;
}

// Moves to the first (dir 1) or last (dir -1) entry of the next leaf in that direction,
// through the path. 0 moved, 3 no further leaf, tag4suspect, or an error. The new leaf
// must be linked to the old one and continue its key order.
int32_t nextLeaf(tag4file* t, int dir) {
    block4* old = leafOf(t);
    const int32_t oldOffset = old->fileOffset;
    uint8_t edge[256];
    const int oldCount = leafCount(old);
    if (oldCount == 0) return 3;
    {
        leaf4view leaf;
        leaf.attachTrusted(old->data, t->keyLength, t->pad);
        std::memcpy(edge, leaf4iter(leaf, dir > 0 ? oldCount - 1 : 0).key(), t->keyLength);
    }
    int level = t->tree->depth - 2;
    while (level >= 0) {
        block4* b = t->tree->path[level];
        const int n = node4headerRead(b->data).count;
        if (dir > 0 ? b->cursor < n - 1 : b->cursor > 0) break;
        level--;
    }
    if (level < 0) return 3;
    t->tree->path[level]->cursor += dir;
    for (int l = level + 1; l < t->tree->depth; l++) {
        branch4view parent;
        const bool attached = parent.attach(t->tree->path[l - 1]->data, t->keyLength) == 0;
        const int c = t->tree->path[l - 1]->cursor;
        tag4blockUnpin(t->tree->path[l]);
        if (!attached) {
            t->tree->depth = l;
            return tag4suspect;
        }
        block4* b = nullptr;
        const int32_t rc =
            getChecked(t, parent.child(c), parent.key(c), parent.record(c), false, &b);
        if (rc != 0) {
            t->tree->depth = l;
            return rc;
        }
        t->tree->path[l] = b;
        const node4header h = node4headerRead(b->data);
        const bool leafLevel = l == t->tree->depth - 1;
        if (node4isLeaf(h.attribute) != leafLevel) {
            t->tree->depth = l + 1;
            return tag4suspect;
        }
        b->cursor = dir > 0 ? 0 : h.count - 1;
    }
    block4* leaf = leafOf(t);
    const node4header h = node4headerRead(leaf->data);
    if ((dir > 0 ? h.left : h.right) != oldOffset) return tag4suspect;
    uint8_t key[256];
    if (!keyAtCursor(t, key, nullptr)) return tag4suspect;
    const int c = std::memcmp(key, edge, t->keyLength);
    if (dir > 0 ? c < 0 : c > 0) return tag4suspect;
    return 0;
}

// Moves n entries in stored order from a valid position; *moved counts what was done.
// Before each crossing into another leaf the entry stood on is saved in the tag's work
// space, so that a caller meeting a suspect node can stand on it again.
int32_t skipRaw(tag4file* t, int32_t n, int32_t* moved) {
    *moved = 0;
    block4* leaf = leafOf(t);
    int count = leafCount(leaf);
    if (count == 0) return 0;
    if (leaf->cursor >= count) {
        // Past the end: the last entry is one step back, and forward stays on it.
        leaf->cursor = count - 1;
        if (n < 0) {
            (*moved)--;
            n++;
        }
    }
    while (n != 0) {
        leaf = leafOf(t);
        count = leafCount(leaf);
        if (n > 0) {
            const int step = std::min(n, count - 1 - leaf->cursor);
            leaf->cursor += step;
            *moved += step;
            n -= step;
        } else {
            const int step = std::min(-n, leaf->cursor);
            leaf->cursor -= step;
            *moved -= step;
            n += step;
        }
        if (n == 0) break;
        tag4work* w = &t->tree->work;
        w->savedKey.resize(t->keyLength);
        keyAtCursor(t, w->savedKey.data(), &w->savedRecord);
        const int dir = n > 0 ? 1 : -1;
        const int32_t rc = nextLeaf(t, dir);
        if (rc == 3) {
            // The end of the tree: the path is unchanged, on the end entry.
            return 0;
        }
        if (rc != 0) return rc;
        *moved += dir;
        n -= dir;
    }
    return 0;
}

bool isCharacter(const tag4file* t) {
    return t->type == 'C';
}

int32_t checkCall(tag4file* t, int32_t location) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, location);
    if (error4pending(t->env)) return e4codeBase;
    return 0;
}

int32_t seekAscending(tag4file* t, const uint8_t* key, int length) {
    int len = length;
    bool stripped = false;
    // Trailing blank weights of a collation search key ask for keys whose primary part ends
    // where the remaining search bytes end.
    if (t->general && isCharacter(t)) {
        while (len > 0 && key[len - 1] == 17) {
            len--;
            stripped = true;
        }
    }
    Target target;
    target.kind = Target::byKey;
    target.key = key;
    target.length = len;
    int32_t rc = withRetry(t, [&] { return descend(t, target); });
    if (rc == 0 && stripped && len < t->keyLength) {
        uint8_t found[256];
        if (keyAtCursor(t, found, nullptr) && found[len] >= 10) rc = 2;
    }
    return rc;
}

int32_t goEnd(tag4file* t, bool last) {
    Target target;
    target.kind = last ? Target::last : Target::first;
    const int32_t rc = withRetry(t, [&] { return descend(t, target); });
    if (rc < 0) return rc;
    return leafCount(leafOf(t)) == 0 ? 3 : 0;
}

// Skip that meets another process's change by standing again on the entry it last stood
// on (seeking it from the root) and going on from there. 0 with the entries moved, or an
// error.
int32_t skipWithRetry(tag4file* t, int32_t n, int32_t* total) {
    *total = 0;
    if (leafOf(t) == nullptr) return tag4corrupt(t, E4LOC(92120));
    for (int attempt = 0;; attempt++) {
        int32_t moved = 0;
        int32_t rc = skipRaw(t, n - *total, &moved);
        *total += moved;
        if (rc != tag4suspect) return rc < 0 ? rc : 0;
        if (tag4trusted(t) || attempt >= kRetries) {
            tag4pathClear(t);
            return tag4corrupt(t, E4LOC(92121));
        }
        if ((rc = dropForRetry(t)) < 0) return rc;
        sleepBeforeRetry(attempt);
        const std::vector<uint8_t> key = t->tree->work.savedKey;
        rc = tag4seekEntry(t, key.data(), t->tree->work.savedRecord);
        if (rc < 0) return rc;
        // The entry is gone: going forward, the next greater one stands in for the step
        // past it.
        if (rc == 2 && n - *total > 0 && tag4eof(t) == 0) ++*total;
        if (*total == n) return 0;
    }
}

}  // namespace

int32_t tag4cacheBytes() {
    return tag4cacheBlocks * int32_t(sizeof(block4) + mem4frameBytes);
}

// ---- shared with the edit and index modules ----

void tag4entries::insert(int at, const uint8_t* key, uint32_t record, uint8_t trail,
                         uint32_t child) {
    keys.insert(keys.begin() + ptrdiff_t(at) * keyLength, key, key + keyLength);
    records.insert(records.begin() + at, record);
    trails.insert(trails.begin() + at, trail);
    children.insert(children.begin() + at, child);
}

void tag4entries::erase(int at) {
    keys.erase(keys.begin() + ptrdiff_t(at) * keyLength,
               keys.begin() + ptrdiff_t(at + 1) * keyLength);
    records.erase(records.begin() + at);
    trails.erase(trails.begin() + at);
    children.erase(children.begin() + at);
}

bool tag4trusted(const tag4file* t) {
    const index4file* f = t->indexFile;
    return f->lockOwner != 0 || f->file.accessMode != 0;
}

int32_t tag4corrupt(tag4file* t, int32_t location) {
    return error4raiseText(t->env, e4index, location, t->alias, t->indexFile->file.name);
}

int32_t tag4blockGet(tag4file* t, int32_t offset, bool fresh, block4** out, bool* read) {
    if (block4* b = heldBlock(t, offset)) {
        if (fresh) {
            std::memset(b->data, 0, node4size);
            b->changed = 1;
        }
        touch(t, b);
        b->inPath++;
        *out = b;
        return 0;
    }
    int32_t rc = 0;
    block4* b = takeBlock(t, &rc);
    if (b == nullptr) return rc;
    if (fresh) {
        std::memset(b->data, 0, node4size);
        b->changed = 1;
    } else {
        const int32_t got = readNode(t, offset, b->data);
        if (got < 0) return got;
        if (got < node4size || checkNode(t, b->data) != 0) return tag4suspect;
        b->changed = 0;
        if (read != nullptr) *read = true;
    }
    setOffset(b, offset);
    touch(t, b);
    b->cursor = 0;
    b->inPath = 1;
    *out = b;
    return 0;
}

void tag4blockUnpin(block4* b) {
    if (b != nullptr && b->inPath > 0) b->inPath--;
}

void tag4blockDiscard(tag4file* t, int32_t offset) {
    for (int i = 0; i < t->tree->blockCount; i++) {
        block4* b = t->tree->blocks[i];
        if (b->fileOffset != offset) continue;
        setOffset(b, -1);
        b->changed = 0;
    }
}

void tag4pathClear(tag4file* t) {
    for (int i = 0; i < t->tree->depth; i++) tag4blockUnpin(t->tree->path[i]);
    t->tree->depth = 0;
}

int32_t tag4seekEntry(tag4file* t, const uint8_t* key, uint32_t record, leaf4place* place) {
    Target target;
    target.kind = Target::byKeyRecord;
    target.key = key;
    target.record = record;
    target.place = place;
    return withRetry(t, [&] { return descend(t, target); });
}

void tag4fileSetType(tag4file* t, char type) {
    t->type = type;
    t->pad = type == 'C' && !t->general ? ' ' : 0;
}

tag4file* tag4fileNew(index4file* f, const tag4header& h, uint32_t headerOffset, const char* name) {
    env4* env = f->env;
    auto* t = static_cast<tag4file*>(pool4allocCreate(
        env, &env->tagFilePool, env->memStartTag, int32_t(sizeof(tag4file)), env->memExpandTag, 0));
    if (t == nullptr) return nullptr;
    t->indexFile = f;
    t->env = env;
    std::string alias = name;
    while (!alias.empty() && alias.back() == ' ') alias.pop_back();
    alias.resize(std::min<size_t>(alias.size(), tag4nameLength));
    u4ncpy(t->alias, alias.c_str(), sizeof t->alias);
    c4upper(t->alias);
    t->headerOffset = headerOffset;
    t->keyLength = h.keyLength;
    t->options = h.options;
    t->descending = h.descending;
    t->general = h.general;
    t->tree = new tag4tree;
    t->tree->root = h.root;
    tag4fileSetType(t, 'C');
    if (h.general) {
        const int32_t rc =
            collate4codePage(f->dataFile != nullptr ? f->dataFile->codePage : 0, &t->codePage);
        if (rc < 0) (void)collate4codePage(0, &t->codePage);  // the identity: never fails
    }
    auto copy = [env](const std::string& text) -> char* {
        auto* out = static_cast<char*>(u4allocAgain(env, int32_t(text.size()) + 1));
        if (out != nullptr) std::memcpy(out, text.c_str(), text.size() + 1);
        return out;
    };
    t->exprText = copy(h.expression);
    t->filterText = copy(h.filter);
    t->exprTag.collation = h.general ? expr4collationGeneral : expr4collationNone;
    t->exprTag.options = h.options;
    t->exprTag.codePage = t->codePage;
    return t;
}

void tag4fileFree(tag4file* t) {
    if (t->tree != nullptr) {
        forgetBlocks(t);
        delete t->tree;
        t->tree = nullptr;
    }
    expr4free(t->expr);
    expr4free(t->filter);
    t->expr = t->filter = nullptr;
    mem4free(t->exprText);
    mem4free(t->filterText);
    pool4free(t->env->tagFilePool, t);
}

// ---- positioning ----

int32_t tag4seek(tag4file* t, const void* key, int32_t length) {
    if (int32_t rc = checkCall(t, E4LOC(92130))) return rc;
    if (key == nullptr) return error4raise(t->env, e4parmNull, E4LOC(92131));
    if (length < 0) return error4raise(t->env, e4parm, E4LOC(92132));
    length = std::min<int32_t>(length, t->keyLength);
    if (length != t->keyLength && !isCharacter(t)) return error4raise(t->env, e4parm, E4LOC(92133));
    const auto* k = static_cast<const uint8_t*>(key);
    if (!t->descending) return seekAscending(t, k, length);

    // Descending: seek the next greater key, then step back one entry in stored order.
    uint8_t raised[256];
    std::memcpy(raised, k, size_t(length));
    int i = length - 1;
    if (t->general && isCharacter(t))
        while (i >= 0 && raised[i] < 10) i--;
    else
        while (i >= 0 && raised[i] == 255) i--;
    if (i < 0) {
        int32_t rc = goEnd(t, true);
        if (rc != 0) return rc;
        uint8_t found[256];
        if (keyAtCursor(t, found, nullptr) && std::memcmp(found, k, size_t(length)) == 0) return 0;
        leafOf(t)->cursor = leafCount(leafOf(t));
        return 3;
    }
    raised[i]++;
    int32_t rc = seekAscending(t, raised, i + 1);
    if (rc < 0) return rc;
    int32_t moved = 0;
    if ((rc = skipWithRetry(t, -1, &moved)) < 0) return rc;
    uint8_t found[256];
    if (moved == 0 || !keyAtCursor(t, found, nullptr)) {
        // Nothing before it: past the end in the tag's order.
        const int32_t end = tag4goEof(t);
        return end < 0 ? end : 3;
    }
    return std::memcmp(found, k, size_t(length)) == 0 ? 0 : 2;
}

int32_t tag4probe(tag4file* t, const void* key, int32_t length, int32_t* record) {
    if (int32_t rc = checkCall(t, E4LOC(92136))) return rc;
    if (key == nullptr || record == nullptr) return error4raise(t->env, e4parmNull, E4LOC(92137));
    // Descending trees and collated keys take the seek's own way.
    if (t->descending || t->general || length < 1) return 2;
    length = std::min<int32_t>(length, t->keyLength);
    if (length != t->keyLength && !isCharacter(t)) return 2;
    if (t->tree->root == 0) {
        const int32_t rc = readRoot(t);
        if (rc < 0) return rc;
        if (rc != 0) return 2;
    }
    Target target;
    target.kind = Target::byKey;
    target.key = static_cast<const uint8_t*>(key);
    target.length = length;
    uint32_t offset = t->tree->root;
    const uint8_t* parentKey = nullptr;
    uint32_t parentRecord = 0;
    uint8_t keyOfParent[256];
    uint8_t node[node4size];
    // Nodes the tag holds were checked. Of a node read afresh, a leaf is searched without the
    // whole check, and so is a branch whose children are leaves (the levels of the last probe
    // tell): the caller verifies what they lead to. Other branches are checked and kept.
    const int32_t height = t->tree->probeHeight;
    bool parentUnchecked = false;
    for (int level = 0; level < tag4maxDepth; level++) {
        if (!validChild(offset)) return 2;
        if (heldBlock(t, int32_t(offset)) == nullptr) {
            if (readNode(t, int32_t(offset), node) != node4size) return 2;
            if (node4isLeaf(node4headerRead(node).attribute)) {
                t->tree->probeHeight = level + 1;
                uint32_t found = 0;
                const int rc =
                    leaf4view::probe(node, t->keyLength, t->pad, target.key, length, &found);
                if (rc != 0 || found < 1 || found > uint32_t(INT32_MAX)) return 2;
                *record = int32_t(found);
                return 0;
            }
            if (parentUnchecked) {
                t->tree->probeHeight = 0;  // the tree grew
                return 2;
            }
            if (height >= 2 && level == height - 2) {
                branch4view view;
                if (view.attach(node, t->keyLength) != 0 || view.count() == 0) return 2;
                offset = view.child(chooseBranch(t, view, target));
                parentKey = nullptr;
                parentUnchecked = true;
                continue;
            }
        }
        block4* b = nullptr;
        const int32_t rc = getChecked(t, offset, parentKey, parentRecord, level == 0, &b);
        if (rc < 0 && rc != tag4suspect) return rc;
        if (rc != 0) return 2;
        int32_t result = -1;
        if (node4isLeaf(node4headerRead(b->data).attribute)) {
            t->tree->probeHeight = level + 1;
            leaf4view view;
            view.attachTrusted(b->data, t->keyLength, t->pad);
            int at = 0;
            if (view.search(target.key, length, false, 0, &at) == 0) {
                leaf4entry e;
                (void)view.entry(at, &e);  // found within the count
                *record = int32_t(e.record);
                result = e.record >= 1 ? 0 : 2;
            } else {
                result = 2;
            }
        } else {
            branch4view view;
            if (view.attach(b->data, t->keyLength) != 0) {
                result = 2;
            } else {
                const int c = chooseBranch(t, view, target);
                std::memcpy(keyOfParent, view.key(c), t->keyLength);
                parentKey = keyOfParent;
                parentRecord = view.record(c);
                offset = view.child(c);
            }
        }
        tag4blockUnpin(b);
        if (result >= 0) return result;
    }
    return 2;
}

int32_t tag4skip(tag4file* t, int32_t n) {
    if (int32_t rc = checkCall(t, E4LOC(92140))) return rc;
    int32_t moved = 0;
    const int32_t rc = skipWithRetry(t, n, &moved);
    return rc < 0 ? rc : moved;
}

int32_t tag4skipInOrder(tag4file* t, int32_t n) {
    if (int32_t rc = checkCall(t, E4LOC(92141))) return rc;
    int32_t moved = 0;
    const int32_t rc = skipWithRetry(t, t->descending ? -n : n, &moved);
    if (rc < 0) return rc;
    return t->descending ? -moved : moved;
}

int32_t tag4top(tag4file* t) {
    if (int32_t rc = checkCall(t, E4LOC(92142))) return rc;
    return goEnd(t, t->descending != 0);
}

int32_t tag4bottom(tag4file* t) {
    if (int32_t rc = checkCall(t, E4LOC(92143))) return rc;
    return goEnd(t, t->descending == 0);
}

int32_t tag4goEof(tag4file* t) {
    if (int32_t rc = checkCall(t, E4LOC(92144))) return rc;
    const int32_t rc = goEnd(t, true);
    if (rc < 0) return rc;
    leafOf(t)->cursor = leafCount(leafOf(t));
    return 0;
}

int32_t tag4eof(tag4file* t) {
    if (int32_t rc = checkCall(t, E4LOC(92145))) return rc;
    block4* b = leafOf(t);
    return b == nullptr || b->cursor >= leafCount(b) ? 1 : 0;
}

const uint8_t* tag4key(tag4file* t) {
    int32_t record = 0;  // decoded with the entry in any case
    return tag4keyRecord(t, &record);
}

const uint8_t* tag4keyRecord(tag4file* t, int32_t* record) {
    if (t == nullptr || record == nullptr || error4pending(t->env)) return nullptr;
    std::vector<uint8_t>& out = t->tree->work.keyOut;
    out.resize(t->keyLength);
    uint32_t at = 0;
    if (!keyAtCursor(t, out.data(), &at)) return nullptr;
    *record = int32_t(at);
    return out.data();
}

int32_t tag4type(tag4file* t) {
    if (int32_t rc = checkCall(t, E4LOC(92146))) return rc;
    return t->type;
}

int32_t tag4seekKeyRecord(tag4file* t, const void* key, int32_t record, int32_t mode) {
    if (int32_t rc = checkCall(t, E4LOC(92150))) return rc;
    if (key == nullptr) return error4raise(t->env, e4parmNull, E4LOC(92151));
    const auto* k = static_cast<const uint8_t*>(key);
    const int32_t rc = tag4seekEntry(t, k, uint32_t(record));
    if (rc < 0) return rc;
    if (rc == 0) return mode == 0 ? 0 : 1;
    uint8_t found[256];
    if (keyAtCursor(t, found, nullptr) && std::memcmp(found, k, t->keyLength) == 0) return 1;
    // The entry before the position: in the leaf, or the branch entry where the path last
    // turned right (the last entry of the leaf before).
    const int K = t->keyLength;
    block4* leaf = leafOf(t);
    if (leaf->cursor > 0) {
        leaf4view view;
        view.attachTrusted(leaf->data, K, t->pad);
        const leaf4iter before(view, leaf->cursor - 1);
        return std::memcmp(before.key(), k, K) == 0 ? 1 : 2;
    }
    for (int level = t->tree->depth - 2; level >= 0; level--) {
        block4* b = t->tree->path[level];
        if (b->cursor == 0) continue;
        branch4view view;
        if (view.attach(b->data, K) != 0) return tag4corrupt(t, E4LOC(92153));
        return std::memcmp(view.key(b->cursor - 1), k, K) == 0 ? 1 : 2;
    }
    return 2;
}

int32_t tag4recordNumber(tag4file* t) {
    if (int32_t rc = checkCall(t, E4LOC(92152))) return rc;
    block4* b = leafOf(t);
    if (b == nullptr) return -2;
    // Asked at every step of a walk: the count and the one entry are read, not the header.
    const int count = bytes4get16le(b->data + node4countAt);
    if (count == 0) return 0;
    if (b->cursor >= count) return -1;
    return b->cursor < 0 ? 0 : int32_t(leaf4recordAt(b->data, b->cursor));
}

double tag4position(tag4file* t) {
    if (t == nullptr) return e4parmNull;
    if (error4pending(t->env)) return e4codeBase;
    if (t->tree->depth == 0) return tag4corrupt(t, E4LOC(92154));
    bool allFirst = true, allLast = true;
    double f = 0.5;
    for (int level = t->tree->depth - 1; level >= 0; level--) {
        block4* b = t->tree->path[level];
        const int n = node4headerRead(b->data).count;
        if (n == 0) return 0.0;
        const int c = std::min(b->cursor, n - 1);
        allFirst = allFirst && b->cursor == 0;
        allLast = allLast && b->cursor >= n - 1;
        f = (c + f) / n;
    }
    if (allLast) f = 1.0;
    if (allFirst) f = 0.0;
    return t->descending ? 1.0 - f : f;
}

int32_t tag4setPosition(tag4file* t, double fraction) {
    if (int32_t rc = checkCall(t, E4LOC(92155))) return rc;
    if (!(fraction >= 0.0 && fraction <= 1.0)) return error4raise(t->env, e4parm, E4LOC(92156));
    const int32_t changed = index4fileRefresh(t->indexFile);
    if (changed < 0) return changed;
    Target target;
    target.kind = Target::fraction;
    target.f = t->descending ? 1.0 - fraction : fraction;
    const int32_t rc = withRetry(t, [&] {
        Target each = target;
        return descend(t, each);
    });
    return rc < 0 ? rc : 0;
}

// ---- nodes ----

int32_t tag4flush(tag4file* t) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(92160));
    if (error4pending(t->env)) return e4codeBase;
    for (int i = 0; i < t->tree->blockCount; i++) {
        block4* b = t->tree->blocks[i];
        if (!b->changed || b->fileOffset < 0) continue;
        const int32_t rc = writeBlock(b);
        if (rc < 0) return rc;
    }
    if (t->tree->rootChanged) {
        const bytes4slice piece = tag4headerEncodeRoot(t->tree->root);
        const int32_t rc = file4write(&t->indexFile->file, int32_t(t->headerOffset) + piece.offset,
                                      piece.bytes, piece.size);
        if (rc < 0) return rc;
        t->tree->rootChanged = 0;
    }
    return 0;
}

int32_t tag4releaseNodes(tag4file* t) {
    const int32_t rc = tag4flush(t);
    if (rc < 0) return rc;
    tag4pathClear(t);
    forgetBlocks(t);
    return 0;
}

int32_t tag4forget(tag4file* t) {
    const int32_t rc = tag4releaseNodes(t);
    if (rc == 0) t->tree->root = 0;
    return rc;
}

void tag4forgetRoot(tag4file* t) {
    if (!t->tree->rootChanged) t->tree->root = 0;
}

bool tag4holdsNode(const tag4file* t, int32_t offset) {
    return heldBlock(const_cast<tag4file*>(t), offset) != nullptr;
}

uint32_t tag4root(const tag4file* t) {
    return t->tree->root;
}

void tag4setRoot(tag4file* t, uint32_t root) {
    t->tree->root = root;
    t->tree->rootChanged = 0;
}

int16_t tag4uniqueCode(const tag4* tag) {
    if (tag == nullptr || tag->tagFile == nullptr) return 0;
    const uint8_t options = tag->tagFile->options;
    return (options & (1 | 4)) != 0 ? tag->errUnique : 0;
}
