#include "xbase/index/node4.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "xbase/core/bytes4.h"
#include "xbase/core/error4.h"
#include "xbase/index/index4header.h"

namespace {

constexpr int kBranchArea = node4size - node4headerSize;
constexpr int kLeafFree = leaf4freeAt, kLeafRecordMask = leaf4recordMaskAt,
              kLeafDupMask = leaf4dupMaskAt, kLeafTrailMask = leaf4trailMaskAt,
              kLeafR = leaf4widthsAt, kLeafD = kLeafR + 1, kLeafT = kLeafD + 1, kLeafE = kLeafT + 1;
constexpr int kLeafData = leaf4dataOffset;
constexpr int kLeafArea = node4size - kLeafData;
static_assert(kLeafE + 1 == leaf4dataOffset);
constexpr int kLinkSize = 4;  // an offset in a node: a sibling, a free node

uint32_t lowBits(int n) {
    return n >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << n) - 1;
}

// Copies n bytes, mostly a few: fixed-size copies where a call would cost more than the bytes.
inline void copyFew(uint8_t* to, const uint8_t* from, int n) {
    if (n >= 8) {
        std::memcpy(to, from, size_t(n));
        return;
    }
    if (n & 4) {
        std::memcpy(to, from, 4);
        to += 4;
        from += 4;
    }
    if (n & 2) {
        std::memcpy(to, from, 2);
        to += 2;
        from += 2;
    }
    if (n & 1) *to = *from;
}

bool keyLengthValid(int keyLength) {
    return keyLength >= 1 && keyLength <= tag4maxKeyLength;
}

}  // namespace

void node4headerWrite(uint8_t* node, const node4header& h) {
    bytes4put16le(node + node4attributeAt, h.attribute);
    bytes4put16le(node + node4countAt, h.count);
    bytes4put32le(node + node4leftAt, uint32_t(h.left));
    bytes4put32le(node + node4rightAt, uint32_t(h.right));
}

bytes4slice node4encodeRight(int32_t right) {
    bytes4slice s = bytes4sliceOf(node4rightAt, node4rightAt + kLinkSize);
    bytes4put32le(s.bytes, uint32_t(right));
    return s;
}

int node4headerCheck(const node4header& h) {
    return h.attribute <= 3 ? 0 : e4index;
}

uint32_t node4freeNext(const uint8_t* node) {
    return bytes4get32le(node + node4freeLinkAt);
}
void node4setFreeNext(uint8_t* node, uint32_t next) {
    bytes4put32le(node + node4freeLinkAt, next);
}

bytes4slice node4freeLinkSlice() {
    return bytes4sliceOf(node4freeLinkAt, node4freeLinkAt + kLinkSize);
}

uint32_t node4decodeFreeLink(const bytes4slice& s) {
    return bytes4get32le(s.bytes);
}

// ---- branch ----

int branch4capacity(int keyLength) {
    return keyLengthValid(keyLength) ? kBranchArea / (keyLength + 8) : 0;
}

void branch4view::format(uint8_t* node, uint16_t attribute) {
    std::memset(node, 0, node4size);
    node4headerWrite(node, node4header{attribute, 0, node4none, node4none});
}

int branch4view::attach(uint8_t* node, int keyLength) {
    if (node == nullptr) return e4parmNull;
    if (!keyLengthValid(keyLength)) return e4parm;
    const node4header h = node4headerRead(node);
    if (h.attribute != node4branch && h.attribute != node4rootBranch) return e4index;
    const int capacity = branch4capacity(keyLength);
    if (h.count > capacity) return e4info;
    node_ = node;
    keyLength_ = keyLength;
    count_ = h.count;
    capacity_ = capacity;
    return 0;
}

int branch4view::set(int i, const uint8_t* key, uint32_t record, uint32_t child) {
    if (key == nullptr) return e4parmNull;
    if (i < 0 || i >= count_) return e4parm;
    uint8_t* e = entry(i);
    std::memmove(e, key, size_t(keyLength_));
    bytes4put32be(e + keyLength_, record);
    bytes4put32be(e + keyLength_ + 4, child);
    return 0;
}

int branch4view::append(const uint8_t* key, uint32_t record, uint32_t child) {
    if (key == nullptr) return e4parmNull;
    if (count_ >= capacity_) return node4noRoom;
    count_++;
    bytes4put16le(node_ + node4countAt, uint16_t(count_));
    return set(count_ - 1, key, record, child);
}

// ---- leaf widths ----

int leaf4bits(uint32_t value) {
    return value == 0 ? 0 : 32 - __builtin_clz(value);
}

int leaf4widthsFor(int keyLength, uint32_t records, leaf4start start, leaf4widths* out) {
    if (out == nullptr) return e4parmNull;
    if (!keyLengthValid(keyLength)) return e4parm;
    leaf4widths w;
    w.dupBits = w.trailBits = leaf4bits(uint32_t(keyLength));
    const int needed = leaf4bits(records);
    int r = needed;
    // A leaf started empty gets the bits that would otherwise round the entry up anyway,
    // so that growing record numbers need no widening for a while.
    if (start == leaf4start::empty) r += (8 - (2 * w.dupBits) % 8) % 8;
    r = std::max(r, 12);
    while ((r + w.dupBits + w.trailBits) % 8 != 0) r++;
    // Record numbers are 32-bit: fall back by whole bytes, refuse when they no longer fit.
    while (r > 32) r -= 8;
    if (r < needed) return e4parm;
    w.recordBits = r;
    w.entryBytes = (r + w.dupBits + w.trailBits) / 8;
    w.recordMask = lowBits(r);
    w.dupMask = uint8_t(lowBits(w.dupBits));
    w.trailMask = uint8_t(lowBits(w.trailBits));
    *out = w;
    return 0;
}

int leaf4trailCount(const uint8_t* key, int keyLength, uint8_t pad) {
    int n = 0;
    while (n < keyLength && key[keyLength - 1 - n] == pad) n++;
    return n;
}

// ---- leaf ----

void leaf4view::format(uint8_t* node, uint16_t attribute, const leaf4widths& w) {
    std::memset(node, 0, node4size);
    node4headerWrite(node, node4header{attribute, 0, node4none, node4none});
    bytes4put16le(node + kLeafFree, uint16_t(kLeafArea));
    bytes4put32le(node + kLeafRecordMask, w.recordMask);
    node[kLeafDupMask] = w.dupMask;
    node[kLeafTrailMask] = w.trailMask;
    node[kLeafR] = uint8_t(w.recordBits);
    node[kLeafD] = uint8_t(w.dupBits);
    node[kLeafT] = uint8_t(w.trailBits);
    node[kLeafE] = uint8_t(w.entryBytes);
}

void leaf4view::writeHeader() {
    bytes4put16le(node_ + node4countAt, uint16_t(count_));
    bytes4put16le(node_ + kLeafFree, uint16_t(free_));
    bytes4put32le(node_ + kLeafRecordMask, widths_.recordMask);
    node_[kLeafR] = uint8_t(widths_.recordBits);
    node_[kLeafE] = uint8_t(widths_.entryBytes);
}

void leaf4view::readHeader(uint8_t* node, int keyLength, uint8_t pad) {
    node_ = node;
    keyLength_ = keyLength;
    pad_ = pad;
    count_ = bytes4get16le(node + node4countAt);
    free_ = bytes4get16le(node + kLeafFree);
    widths_.recordMask = bytes4get32le(node + kLeafRecordMask);
    widths_.dupMask = node[kLeafDupMask];
    widths_.trailMask = node[kLeafTrailMask];
    widths_.recordBits = node[kLeafR];
    widths_.dupBits = node[kLeafD];
    widths_.trailBits = node[kLeafT];
    widths_.entryBytes = node[kLeafE];
    forgetKey();
}

void leaf4view::forgetKey() {
    keyIndex_ = -1;
    keyStart_ = node4size;
}

int leaf4view::attach(uint8_t* node, int keyLength, uint8_t pad, std::string* why) {
    if (node == nullptr) return e4parmNull;
    if (!keyLengthValid(keyLength)) return e4parm;
    if (!node4isLeaf(node4headerRead(node).attribute)) return e4index;
    readHeader(node, keyLength, pad);
    const int rc = validate(why);
    if (rc != 0) node_ = nullptr;
    return rc;
}

void leaf4view::attachTrusted(uint8_t* node, int keyLength, uint8_t pad) {
    readHeader(node, keyLength, pad);
    // The header of a sound leaf gives the stored bytes: the check proved the equation.
    stored_ = kLeafArea - count_ * widths_.entryBytes - free_;
#ifdef QV_CHECK_NODES
    std::string why;
    if (!keyLengthValid(keyLength) || !node4isLeaf(node4headerRead(node).attribute) ||
        validate(&why) != 0) {
        std::fprintf(stderr, "leaf4view: a leaf held in memory is unsound: %s\n", why.c_str());
        std::abort();
    }
    if (!ascending()) {
        std::fprintf(stderr, "leaf4view: a leaf held in memory is out of order\n");
        std::abort();
    }
    forgetKey();
#endif
}

int leaf4view::attachAscending(uint8_t* node, int keyLength, uint8_t pad, uint8_t* last) {
    if (node == nullptr) return e4parmNull;
    if (!keyLengthValid(keyLength)) return e4parm;
    if (!node4isLeaf(node4headerRead(node).attribute)) return e4index;
    readHeader(node, keyLength, pad);
    int rc = validateWidths(nullptr);
    if (rc == 0 && !soundAndAscending(last)) rc = e4info;
    if (rc != 0) node_ = nullptr;
    return rc;
}

// Every leaf read from the file passes here: the entry checks of validate() and the order
// check of ascending() share one decode of each entry and one pass over its bytes. The key is
// rebuilt in a local and the widths are read through a local decoder, which the byte stores
// cannot alias: the loop keeps them in registers.
bool leaf4view::soundAndAscending(uint8_t* last) {
    forgetKey();
    const int k = keyLength_;
    const int count = count_;
    const int entryBytes = widths_.entryBytes;
    const int entriesEnd = kLeafData + count * entryBytes;
    const leaf4decoder entries(*this);
    const uint8_t pad = pad_;
    const uint8_t* node = node_;
    uint8_t key[256];
    int keyStart = node4size;
    for (int i = 0; i < count; i++) {
        int dup, trail;
        entries.counts(i, &dup, &trail);
        if (dup + trail > k || (i == 0 && dup != 0)) return false;
        const int stored = k - dup - trail;
        if (keyStart - stored < entriesEnd) return false;
        const uint8_t* bytes = node + keyStart - stored;
        uint8_t* to = key + dup;
        int j = 0;
        if (i > 0) {
            // key still holds the key before: both share its first dup bytes.
            while (j < stored && bytes[j] == to[j]) j++;
            if (j < stored) {
                if (bytes[j] < to[j]) return false;
            } else {
                int p = stored;
                while (p < k - dup && to[p] == pad) p++;
                if (p < k - dup && pad < to[p]) return false;
            }
        }
        keyStart -= stored;
        copyFew(to + j, bytes + j, stored - j);
        if (trail > 0) std::memset(to + stored, pad, size_t(trail));
    }
    stored_ = node4size - keyStart;
    if (free_ != kLeafArea - count * entryBytes - stored_) return false;
    if (count > 0) {
        std::memcpy(key_.data(), key, size_t(k));
        keyStart_ = keyStart;
        keyIndex_ = count - 1;
        if (last != nullptr) std::memcpy(last, key, size_t(k));
    }
    return true;
}

int leaf4view::validateWidths(std::string* why) const {
    auto fail = [why](std::string text) {
        if (why != nullptr) *why = std::move(text);
        return e4info;
    };
    const leaf4widths& w = widths_;
    // Words only for a leaf that fails: every node read is checked.
    auto widths = [&w] {
        return "R " + std::to_string(w.recordBits) + ", D " + std::to_string(w.dupBits) + ", T " +
               std::to_string(w.trailBits) + ", E " + std::to_string(w.entryBytes);
    };
    if (w.recordBits < 1 || w.recordBits > 32 || w.dupBits > 8 || w.trailBits > 8 ||
        w.entryBytes < 1 || w.recordBits + w.dupBits + w.trailBits > 8 * w.entryBytes)
        return fail("impossible entry widths (" + widths() + ")");
    if (w.recordMask != lowBits(w.recordBits) || w.dupMask != lowBits(w.dupBits) ||
        w.trailMask != lowBits(w.trailBits))
        return fail("masks do not match the widths (" + widths() + ")");
    // Wide entries take the counts from a load at the entry's third byte.
    if (w.entryBytes >= 5 && w.recordBits < 17)
        return fail("entries of 5 bytes or more need R of 17 or more (" + widths() + ")");
    if (count_ * w.entryBytes > kLeafArea)
        return fail(std::to_string(count_) + " entries of " + std::to_string(w.entryBytes) +
                    " bytes do not fit");
    return 0;
}

int leaf4view::validate(std::string* why) {
    auto fail = [why](std::string text) {
        if (why != nullptr) *why = std::move(text);
        return e4info;
    };
    if (const int rc = validateWidths(why); rc != 0) return rc;
    const leaf4widths& w = widths_;
    const int entriesEnd = kLeafData + count_ * w.entryBytes;
    const leaf4decoder entries(*this);
    int start = node4size;
    for (int i = 0; i < count_; i++) {
        leaf4entry e;
        entries.read(i, &e);
        if (e.dup + e.trail > keyLength_)
            return fail("entry " + std::to_string(i) + ": duplicate count " +
                        std::to_string(e.dup) + " and trailing count " + std::to_string(e.trail) +
                        " exceed the key length " + std::to_string(keyLength_));
        if (i == 0 && e.dup != 0)
            return fail("the first entry has duplicate count " + std::to_string(e.dup));
        start -= keyLength_ - e.dup - e.trail;
        if (start < entriesEnd)
            return fail("entry " + std::to_string(i) + ": stored key bytes reach into the entries");
    }
    stored_ = node4size - start;
    const int expected = kLeafArea - count_ * w.entryBytes - stored_;
    if (free_ != expected)
        return fail("free bytes " + std::to_string(free_) + ", expected " +
                    std::to_string(expected));
    return 0;
}

void leaf4view::encode(int i, const leaf4entry& e) {
    const leaf4widths& w = widths_;
    const uint64_t bits = uint64_t(e.record) | (uint64_t(e.dup) << w.recordBits) |
                          (uint64_t(e.trail) << (w.recordBits + w.dupBits));
    uint8_t* at = node_ + kLeafData + i * w.entryBytes;
    for (int k = 0; k < w.entryBytes; k++) at[k] = k < 8 ? uint8_t(bits >> (8 * k)) : 0;
}

const uint8_t* leaf4view::rebuildKey(int i) {
    if (keyIndex_ > i) forgetKey();
    while (keyIndex_ < i) {
        leaf4entry e;
        (void)entry(++keyIndex_, &e);
        const int stored = keyLength_ - e.dup - e.trail;
        keyStart_ -= stored;
        std::memcpy(key_.data() + e.dup, node_ + keyStart_, size_t(stored));
        std::memset(key_.data() + e.dup + stored, pad_, size_t(e.trail));
    }
    return key_.data();
}

bool leaf4view::ascending(uint8_t* last) {
    forgetKey();
    const int k = keyLength_;
    uint8_t* key = key_.data();
    const uint8_t pad = pad_;
    const uint8_t* node = node_;
    const int count = count_;
    const leaf4decoder entries(*this);
    int keyStart = keyStart_;
    // Every node read is checked this way, so the comparison and the rebuild of each key share
    // one pass over its bytes.
    for (int i = 0; i < count; i++) {
        leaf4entry e;
        entries.read(i, &e);
        const int stored = k - e.dup - e.trail;
        const uint8_t* bytes = node + keyStart - stored;
        uint8_t* to = key + e.dup;
        int j = 0;
        if (i > 0) {
            // key_ still holds the key before: both share its first e.dup bytes.
            while (j < stored && bytes[j] == to[j]) {
                j++;
            }
            if (j < stored) {
                if (bytes[j] < to[j]) {
                    keyStart_ = keyStart;
                    keyIndex_ = i - 1;
                    return false;
                }
            } else {
                int p = stored;
                while (p < k - e.dup && to[p] == pad) p++;
                if (p < k - e.dup && pad < to[p]) {
                    keyStart_ = keyStart;
                    keyIndex_ = i - 1;
                    return false;
                }
            }
        }
        keyStart -= stored;
        for (; j < stored; j++) to[j] = bytes[j];
        for (int p = stored; p < k - e.dup; p++) to[p] = pad;
    }
    keyStart_ = keyStart;
    keyIndex_ = count - 1;
    if (last != nullptr && count > 0) std::memcpy(last, key, size_t(k));
    return true;
}

// Reaching entry `from` costs a decode of the entries between it and the nearer end of the
// leaf, and a copy of only the bytes its key takes from the keys before it: each earlier
// entry, nearest first, supplies the bytes its key stores below the part still missing.
leaf4iter::leaf4iter(const leaf4view& leaf, int from) : leaf_(&leaf) {
    const leaf4view& v = leaf;
    if (from < 0) from = 0;
    if (v.count_ == 0) {
        index_ = 0;
        return;
    }
    const int target = std::min(from, v.count_ - 1);
    const int k = v.keyLength_;
    const leaf4decoder entries(v);
    // Where the entry's stored bytes begin, counted from the nearer end of the leaf: the
    // stored bytes of all entries end at the node's end and their total is known.
    int start;
    if (target < v.count_ / 2) {
        start = node4size;
        for (int i = 0; i < target; i++) start -= entries.stored(i);
        entries.read(target, &entry_);
        start -= k - entry_.dup - entry_.trail;
    } else {
        start = node4size - v.stored_;
        for (int i = v.count_ - 1; i > target; i--) start += entries.stored(i);
        entries.read(target, &entry_);
    }
    index_ = target;
    start_ = start;
    const int stored = k - entry_.dup - entry_.trail;
    std::memcpy(key_.data() + entry_.dup, v.node_ + start_, size_t(stored));
    std::memset(key_.data() + entry_.dup + stored, v.pad_, size_t(entry_.trail));
    int missing = entry_.dup;
    int at = start_ + stored;  // where the stored bytes of the entry before begin
    for (int i = target - 1; i >= 0 && missing > 0; i--) {
        leaf4entry e;
        entries.read(i, &e);
        const int own = k - e.dup - e.trail;
        if (e.dup < missing) {
            // Key bytes e.dup up to `missing` come from entry i: stored, then its pads.
            const int storedEnd = std::min(e.dup + own, missing);
            if (storedEnd > e.dup)
                std::memcpy(key_.data() + e.dup, v.node_ + at, size_t(storedEnd - e.dup));
            for (int p = std::max(storedEnd, e.dup); p < missing; p++) key_[size_t(p)] = v.pad_;
            missing = e.dup;
        }
        at += own;
    }
    if (missing > 0) std::memset(key_.data(), 0, size_t(missing));
    if (from > target) index_ = v.count_;  // past the last entry
}

void leaf4iter::next() {
    if (done()) return;
    ++index_;
    if (!done()) load();
}

void leaf4iter::load() {
    const leaf4view& v = *leaf_;
    (void)v.entry(index_, &entry_);  // index_ is within the count
    const int stored = v.keyLength_ - entry_.dup - entry_.trail;
    start_ -= stored;
    std::memcpy(key_.data() + entry_.dup, v.node_ + start_, size_t(stored));
    std::memset(key_.data() + entry_.dup + stored, v.pad_, size_t(entry_.trail));
}

namespace {

// The scan of a search in a leaf: the first entry whose key is not less than `search` over
// `length` bytes. Keys are compared on their stored bytes as the scan goes, without rebuilding
// them. `matched` is the leading bytes the previous key shares with the search, which it is
// below: an entry that shares more with the previous key is below the search as well; one that
// shares fewer or as many is compared from its first stored byte. `tie(i)` orders an entry
// equal over the length (0 keeps it equal). With `checked`, each entry's counts and the place
// of its stored bytes are checked before they are read (-910), for a leaf not checked whole.
// `stop(i, c, matched, previousTrail, top)` gives the result where the scan stops (c the order
// of entry i, 1 past the last entry).
template <bool checked, class Tie, class Stop>
int scanLeaf(const leaf4decoder& entries, const uint8_t* node, int count, int entryBytes, int k,
             uint8_t pad, const uint8_t* search, int length, Tie tie, Stop stop) {
    const int entriesEnd = leaf4dataOffset + count * entryBytes;
    int matched = 0;
    int start = node4size;
    int previousTrail = 0;
    for (int i = 0; i < count; i++) {
        int dup, trail;
        entries.counts(i, &dup, &trail);
        if (checked && (dup + trail > k || (i == 0 && dup != 0))) return e4info;
        const int top = start;
        start -= k - dup - trail;
        if (checked && start < entriesEnd) return e4info;
        if (dup > matched) {
            previousTrail = trail;
            continue;
        }
        const uint8_t* bytes = node + start - dup;  // bytes[j] is key byte j from dup on
        const int storedEnd = k - trail;
        int j = dup;
        int c = 0;
        for (; j < length; j++) {
            const uint8_t b = j < storedEnd ? bytes[j] : pad;
            if (b != search[j]) {
                c = b < search[j] ? -1 : 1;
                break;
            }
        }
        if (c == 0) c = tie(i);
        if (c >= 0) return stop(i, c, matched, previousTrail, top);
        matched = j;
        previousTrail = trail;
    }
    return stop(count, 1, matched, previousTrail, start);
}

}  // namespace

int leaf4view::search(const uint8_t* search, int length, bool byRecord, uint32_t record, int* at,
                      leaf4place* place) const {
    // The counts alone decoded, the pad in a local: the loop keeps what it needs in registers.
    const leaf4decoder entries(*this);
    auto tie = [&](int i) {
        if (!byRecord) return 0;
        leaf4entry e;
        (void)entry(i, &e);  // within the count
        return e.record < record ? -1 : e.record > record ? 1 : 0;
    };
    auto stop = [&](int i, int c, int matched, int previousTrail, int top) {
        *at = i;
        if (place != nullptr) *place = leaf4place{i, matched, previousTrail, top};
        return c == 0 ? 0 : 2;
    };
    return scanLeaf<false>(entries, node_, count_, widths_.entryBytes, keyLength_, pad_, search,
                           std::min(length, keyLength_), tie, stop);
}

int leaf4view::probe(uint8_t* node, int keyLength, uint8_t pad, const uint8_t* search, int length,
                     uint32_t* record) {
    if (node == nullptr || search == nullptr || record == nullptr) return e4parmNull;
    if (!keyLengthValid(keyLength)) return e4parm;
    if (!node4isLeaf(node4headerRead(node).attribute)) return e4index;
    leaf4view leaf;
    leaf.readHeader(node, keyLength, pad);
    if (leaf.validateWidths(nullptr) != 0) return e4info;
    const leaf4decoder entries(leaf);
    auto stop = [&](int i, int c, int, int, int) {
        if (c != 0) return 2;
        leaf4entry e;
        entries.read(i, &e);
        *record = e.record;
        return 0;
    };
    return scanLeaf<true>(
        entries, node, leaf.count_, leaf.widths_.entryBytes, keyLength, pad, search,
        std::clamp(length, 0, keyLength), [](int) { return 0; }, stop);
}

int leaf4view::setEntry(int i, const leaf4entry& e) {
    if (i < 0 || i >= count_) return e4parm;
    if (e.record > widths_.recordMask || e.dup < 0 || e.trail < 0 || e.dup > widths_.dupMask ||
        e.trail > widths_.trailMask || e.dup + e.trail > keyLength_)
        return e4parm;
    encode(i, e);
    forgetKey();
    return 0;
}

int leaf4view::wideningsFor(uint32_t record) const {
    int widenings = 0;
    for (int r = widths_.recordBits; record > lowBits(r); r += 8) {
        if (r + 8 > 32) return e4parm;
        widenings++;
    }
    return widenings;
}

int leaf4view::dupAfter(const uint8_t* previous, int previousTrail, const uint8_t* next,
                        int trail) const {
    const int k = keyLength_;
    int dup = 0;
    while (dup < k && previous[dup] == next[dup]) dup++;
    // Readers that rebuild a key only from stored bytes never see the previous key's
    // trailing pads, so a shared prefix must not reach into them.
    return std::min({dup, k - previousTrail, k - trail, int(widths_.dupMask)});
}

int leaf4view::widen() {
    if (free_ < count_) return node4noRoom;
    if (widths_.recordBits + 8 > 32) return e4parm;
    std::array<leaf4entry, kLeafArea> entries;
    for (int i = 0; i < count_; i++) (void)entry(i, &entries[size_t(i)]);
    widths_.recordBits += 8;
    widths_.entryBytes += 1;
    widths_.recordMask = lowBits(widths_.recordBits);
    for (int i = 0; i < count_; i++) encode(i, entries[size_t(i)]);
    free_ -= count_;
    writeHeader();
    return 0;
}

int leaf4view::append(const uint8_t* newKey, uint32_t record, int trail) {
    return insert(count_, newKey, record, trail);
}

// The stored key bytes of entry j lie directly below those of entry j - 1, so an insert or
// a removal at i rewrites the bytes of i and its successor and moves the bytes of every
// entry after them (the lowest part of the key area) by the difference in one memmove.
int leaf4view::insert(int i, const uint8_t* newKey, uint32_t record, int trail) {
    if (newKey == nullptr) return e4parmNull;
    if (i < 0 || i > count_) return e4parm;
    leaf4place place;
    place.at = i;
    if (i == 0) return insertPlaced(place, key_.data(), newKey, record, trail);
    const uint8_t* previous = rebuildKey(i - 1);
    leaf4entry before;
    (void)entry(i - 1, &before);
    place.top = keyStart_;
    place.previousTrail = before.trail;
    while (place.matched < keyLength_ && previous[place.matched] == newKey[place.matched])
        place.matched++;
    return insertPlaced(place, previous, newKey, record, trail);
}

int leaf4view::insertAt(const leaf4place& place, const uint8_t* newKey, uint32_t record,
                        int trail) {
    if (newKey == nullptr) return e4parmNull;
    if (place.at < 0 || place.at > count_) return e4parm;
    // The new key sorts between its neighbours, so it shares with its successor at least
    // the bytes the successor shared with the key before.
    return insertPlaced(place, newKey, newKey, record, trail);
}

int leaf4view::insertPlaced(const leaf4place& place, const uint8_t* successorPrefix,
                            const uint8_t* newKey, uint32_t record, int trail) {
    const int i = place.at;
    const int k = keyLength_;
    if (trail < 0 || trail > leaf4trailCount(newKey, k, pad_)) return e4parm;
    // A foreign leaf may have narrower counts: fewer pads left out is still the same key.
    trail = std::min(trail, int(widths_.trailMask));
    const int widenings = wideningsFor(record);
    if (widenings < 0) return widenings;

    // The stored bytes of entry i end where those of the key before begin.
    const int top = place.top;
    int dup = 0;
    if (i > 0) {
        // Readers that rebuild a key only from stored bytes never see the previous key's
        // trailing pads, so a shared prefix must not reach into them.
        dup = std::min({place.matched, k - place.previousTrail, k - trail, int(widths_.dupMask)});
    }
    const int stored = k - dup - trail;

    // The successor now shares its prefix with the new key.
    std::array<uint8_t, 256> next;
    leaf4entry after;
    int afterOld = 0, afterNew = 0;
    if (i < count_) {
        (void)entry(i, &after);
        afterOld = k - after.dup - after.trail;
        std::memcpy(next.data(), successorPrefix, size_t(after.dup));
        std::memcpy(next.data() + after.dup, node_ + top - afterOld, size_t(afterOld));
        std::memset(next.data() + after.dup + afterOld, pad_, size_t(after.trail));
        after.dup = dupAfter(newKey, trail, next.data(), after.trail);
        afterNew = k - after.dup - after.trail;
    }
    const int growth = stored + afterNew - afterOld;
    const int need = widths_.entryBytes + widenings + widenings * count_ + growth;
    if (need > free_) return node4noRoom;
    for (int n = 0; n < widenings; n++)
        if (const int rc = widen(); rc != 0) return rc;

    const int low = node4size - stored_;
    const int restEnd = top - afterOld;
    std::memmove(node_ + low - growth, node_ + low, size_t(restEnd - low));
    if (growth < 0) std::memset(node_ + low, 0, size_t(-growth));
    std::memcpy(node_ + top - stored, newKey + dup, size_t(stored));
    if (i < count_)
        std::memcpy(node_ + top - stored - afterNew, next.data() + after.dup, size_t(afterNew));

    const int e = widths_.entryBytes;
    uint8_t* at = node_ + kLeafData + i * e;
    std::memmove(at + e, at, size_t((count_ - i) * e));
    encode(i, leaf4entry{record, dup, trail});
    if (i < count_) encode(i + 1, after);
    count_++;
    stored_ += growth;
    free_ -= e + growth;
    writeHeader();
    if (i == count_ - 1) {
        // The appended key is the one a following append compares with.
        std::memcpy(key_.data(), newKey, size_t(k));
        keyIndex_ = i;
        keyStart_ = top - stored;
    } else {
        forgetKey();
    }
    return 0;
}

int leaf4view::truncate(int keep) {
    if (keep < 0 || keep > count_) return e4parm;
    int start = node4size;
    if (keep > 0) {
        rebuildKey(keep - 1);
        start = keyStart_;
    }
    const int low = node4size - stored_;
    const int e = widths_.entryBytes;
    std::memset(node_ + low, 0, size_t(start - low));
    std::memset(node_ + kLeafData + keep * e, 0, size_t((count_ - keep) * e));
    free_ += (count_ - keep) * e + start - low;
    stored_ = node4size - start;
    count_ = keep;
    writeHeader();
    return 0;
}

int leaf4view::remove(int i) {
    if (i < 0 || i >= count_) return e4parm;
    const int k = keyLength_;
    int top = node4size;
    std::array<uint8_t, 256> previous;
    leaf4entry before;
    if (i > 0) {
        const uint8_t* p = rebuildKey(i - 1);
        (void)entry(i - 1, &before);
        std::memcpy(previous.data(), p, size_t(k));
        top = keyStart_;
    }
    leaf4entry gone;
    (void)entry(i, &gone);
    const int goneStored = k - gone.dup - gone.trail;

    // The successor's key, rebuilt while the removed key is still there.
    leaf4entry after;
    int afterOld = 0, afterNew = 0;
    const uint8_t* next = nullptr;
    if (i + 1 < count_) {
        next = rebuildKey(i + 1);
        (void)entry(i + 1, &after);
        afterOld = k - after.dup - after.trail;
        after.dup = i > 0 ? dupAfter(previous.data(), before.trail, next, after.trail) : 0;
        afterNew = k - after.dup - after.trail;
    }
    const int growth = afterNew - afterOld - goneStored;
    if (growth > free_) return node4noRoom;

    const int low = node4size - stored_;
    const int restEnd = top - goneStored - afterOld;
    std::memmove(node_ + low - growth, node_ + low, size_t(restEnd - low));
    if (growth < 0) std::memset(node_ + low, 0, size_t(-growth));
    if (next != nullptr) std::memcpy(node_ + top - afterNew, next + after.dup, size_t(afterNew));

    const int e = widths_.entryBytes;
    uint8_t* at = node_ + kLeafData + i * e;
    std::memmove(at, at + e, size_t((count_ - i - 1) * e));
    std::memset(node_ + kLeafData + (count_ - 1) * e, 0, size_t(e));
    if (next != nullptr) encode(i, after);
    count_--;
    stored_ += growth;
    free_ += e - growth;
    writeHeader();
    forgetKey();
    return 0;
}
