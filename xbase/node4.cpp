#include "xbase/node4.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "xbase/bytes4.h"
#include "xbase/error4.h"
#include "xbase/index4header.h"

// Node (512 bytes), common header, little-endian:
//
//   offset  size  field
//   ------  ----  -------------------------------------------------------------
//        0     2  attribute: 0 branch, 1 root branch, 2 leaf, 3 root leaf
//        2     2  number of entries
//        4     4  offset of the left sibling, -1 when none
//        8     4  offset of the right sibling, -1 when none
//
// Branch node, from offset 12, entries of K + 8 bytes (at most 500 bytes of entries):
//
//   part           size  content
//   -------------  ----  ---------------------------------------------------------
//   key               K  the full key, padded with the tag's pad byte
//   record number     4  BIG-endian; the last record of the child's subtree
//   child             4  BIG-endian offset of the child node
//
// Leaf node, after the common header:
//
//   offset  size  field
//   ------  ----  -------------------------------------------------------------
//       12     2  free bytes of the data area
//       14     4  record-number mask (low R bits set)
//       18     1  duplicate-count mask (low D bits set)
//       19     1  trailing-count mask (low T bits set)
//       20     1  R, bits of the record number
//       21     1  D, bits of the duplicate count
//       22     1  T, bits of the trailing count
//       23     1  E, bytes per entry
//       24   488  data area: entry i at 24 + i x E; stored key bytes packed from the end
//                 of the node downwards (entry 0's bytes end at byte 511)
//
// Leaf entry, E bytes read as a little-endian bit field, lowest bits first:
//
//   bits                  field
//   --------------------  ----------------------------------------------------
//   0 .. R-1              record number
//   R .. R+D-1            duplicate count: leading bytes shared with the previous key
//   R+D .. R+D+T-1        trailing count: pad bytes at the end that are not stored
//
// Free node: its first 4 bytes hold the offset of the next free node, 0 ending the list.

namespace {

constexpr int kBranchArea = 500;
constexpr int kLeafFree = 12, kLeafRecordMask = 14, kLeafDupMask = 18, kLeafTrailMask = 19,
              kLeafR = 20, kLeafD = 21, kLeafT = 22, kLeafE = 23;
constexpr int kLeafData = leaf4dataOffset;
constexpr int kLeafArea = node4size - kLeafData;  // 488

uint32_t lowBits(int n) {
    return n >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << n) - 1;
}

bool keyLengthValid(int keyLength) {
    return keyLength >= 1 && keyLength <= tag4maxKeyLength;
}

}  // namespace

void node4headerWrite(uint8_t* node, const node4header& h) {
    bytes4put16le(node, h.attribute);
    bytes4put16le(node + 2, h.count);
    bytes4put32le(node + 4, uint32_t(h.left));
    bytes4put32le(node + 8, uint32_t(h.right));
}

int node4headerCheck(const node4header& h) {
    return h.attribute <= 3 ? 0 : e4index;
}

uint32_t node4freeNext(const uint8_t* node) {
    return bytes4get32le(node);
}
void node4setFreeNext(uint8_t* node, uint32_t next) {
    bytes4put32le(node, next);
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
    bytes4put16le(node_ + 2, uint16_t(count_));
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
    bytes4put16le(node_ + 2, uint16_t(count_));
    bytes4put16le(node_ + kLeafFree, uint16_t(free_));
    bytes4put32le(node_ + kLeafRecordMask, widths_.recordMask);
    node_[kLeafR] = uint8_t(widths_.recordBits);
    node_[kLeafE] = uint8_t(widths_.entryBytes);
}

void leaf4view::readHeader(uint8_t* node, int keyLength, uint8_t pad) {
    node_ = node;
    keyLength_ = keyLength;
    pad_ = pad;
    count_ = bytes4get16le(node + 2);
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
    if (!node4isLeaf(bytes4get16le(node))) return e4index;
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
    if (!keyLengthValid(keyLength) || !node4isLeaf(bytes4get16le(node)) || validate(&why) != 0) {
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

int leaf4view::validate(std::string* why) {
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

    const int entriesEnd = kLeafData + count_ * w.entryBytes;
    int start = node4size;
    for (int i = 0; i < count_; i++) {
        leaf4entry e;
        (void)entry(i, &e);
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

int leaf4view::key(int i, const uint8_t** out) {
    if (out == nullptr) return e4parmNull;
    if (i < 0 || i >= count_) return e4parm;
    if (keyIndex_ > i) forgetKey();
    while (keyIndex_ < i) {
        leaf4entry e;
        (void)entry(++keyIndex_, &e);
        const int stored = keyLength_ - e.dup - e.trail;
        keyStart_ -= stored;
        std::memcpy(key_.data() + e.dup, node_ + keyStart_, size_t(stored));
        std::memset(key_.data() + e.dup + stored, pad_, size_t(e.trail));
    }
    *out = key_.data();
    return 0;
}

bool leaf4view::ascending() {
    forgetKey();
    const int k = keyLength_;
    for (int i = 0; i < count_; i++) {
        leaf4entry e;
        (void)entry(i, &e);
        const int stored = k - e.dup - e.trail;
        const uint8_t* bytes = node_ + keyStart_ - stored;
        if (i > 0) {
            // key_ still holds the key before: both share its first e.dup bytes.
            int c = std::memcmp(bytes, key_.data() + e.dup, size_t(stored));
            for (int j = e.dup + stored; c == 0 && j < k; j++) c = int(pad_) - int(key_[size_t(j)]);
            if (c < 0) return false;
        }
        keyStart_ -= stored;
        keyIndex_ = i;
        std::memcpy(key_.data() + e.dup, bytes, size_t(stored));
        std::memset(key_.data() + e.dup + stored, pad_, size_t(e.trail));
    }
    return true;
}

int leaf4view::search(const uint8_t* search, int length, bool byRecord, uint32_t record, int* at,
                      leaf4place* place) const {
    const int k = keyLength_;
    length = std::min(length, k);
    // `matched`: the leading bytes the previous key shares with the search, which it is
    // below. An entry that shares more with the previous key is below the search as well;
    // one that shares fewer or as many is compared from its first stored byte.
    int matched = 0;
    int start = node4size;
    int previousTrail = 0;
    auto stop = [&](int i, int top) {
        *at = i;
        if (place != nullptr) *place = leaf4place{i, matched, previousTrail, top};
    };
    for (int i = 0; i < count_; i++) {
        leaf4entry e;
        (void)entry(i, &e);
        const int top = start;
        const int stored = k - e.dup - e.trail;
        start -= stored;
        if (e.dup > matched) {
            previousTrail = e.trail;
            continue;
        }
        const uint8_t* bytes = node_ + start - e.dup;  // bytes[j] is key byte j from e.dup on
        const int storedEnd = e.dup + stored;
        int j = e.dup;
        int c = 0;
        for (; j < length; j++) {
            const uint8_t b = j < storedEnd ? bytes[j] : pad_;
            if (b != search[j]) {
                c = b < search[j] ? -1 : 1;
                break;
            }
        }
        if (c == 0 && byRecord) c = e.record < record ? -1 : e.record > record ? 1 : 0;
        if (c >= 0) {
            stop(i, top);
            return c == 0 ? 0 : 2;
        }
        matched = j;
        previousTrail = e.trail;
    }
    stop(count_, start);
    return 2;
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
    const uint8_t* previous = nullptr;
    leaf4entry before;
    (void)key(i - 1, &previous);
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
        const uint8_t* last = nullptr;
        (void)key(keep - 1, &last);
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
        const uint8_t* p = nullptr;
        (void)key(i - 1, &p);
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
        (void)key(i + 1, &next);
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
