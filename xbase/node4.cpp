#include "xbase/node4.h"

#include <algorithm>
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

constexpr int kHeaderSize = 12;
constexpr int kBranchArea = 500;
constexpr int kLeafFree = 12, kLeafRecordMask = 14, kLeafDupMask = 18, kLeafTrailMask = 19,
              kLeafR = 20, kLeafD = 21, kLeafT = 22, kLeafE = 23;
constexpr int kLeafData = 24;
constexpr int kLeafArea = node4size - kLeafData;  // 488

uint32_t lowBits(int n) {
    return n >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << n) - 1;
}

bool keyLengthValid(int keyLength) {
    return keyLength >= 1 && keyLength <= tag4maxKeyLength;
}

}  // namespace

node4header node4headerRead(const uint8_t* node) {
    node4header h;
    h.attribute = bytes4get16le(node);
    h.count = bytes4get16le(node + 2);
    h.left = int32_t(bytes4get32le(node + 4));
    h.right = int32_t(bytes4get32le(node + 8));
    return h;
}

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

uint8_t* branch4view::entry(int i) const {
    return node_ + kHeaderSize + i * (keyLength_ + 8);
}
const uint8_t* branch4view::key(int i) const {
    return entry(i);
}
uint32_t branch4view::record(int i) const {
    return bytes4get32be(entry(i) + keyLength_);
}
uint32_t branch4view::child(int i) const {
    return bytes4get32be(entry(i) + keyLength_ + 4);
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

// A 32-bit little-endian load that reads zeros past the node's end: the last entry of a
// full leaf with short entries would otherwise reach beyond the 512 bytes.
uint32_t leaf4view::load32(int offset) const {
    if (offset + 4 <= node4size) return bytes4get32le(node_ + offset);
    uint8_t b[4] = {};
    std::memcpy(b, node_ + offset, size_t(std::min(4, node4size - offset)));
    return bytes4get32le(b);
}

int leaf4view::attach(uint8_t* node, int keyLength, uint8_t pad, std::string* why) {
    if (node == nullptr) return e4parmNull;
    if (!keyLengthValid(keyLength)) return e4parm;
    const node4header h = node4headerRead(node);
    if (!node4isLeaf(h.attribute)) return e4index;
    node_ = node;
    keyLength_ = keyLength;
    pad_ = pad;
    count_ = h.count;
    free_ = bytes4get16le(node + kLeafFree);
    widths_.recordMask = bytes4get32le(node + kLeafRecordMask);
    widths_.dupMask = node[kLeafDupMask];
    widths_.trailMask = node[kLeafTrailMask];
    widths_.recordBits = node[kLeafR];
    widths_.dupBits = node[kLeafD];
    widths_.trailBits = node[kLeafT];
    widths_.entryBytes = node[kLeafE];
    keyIndex_ = -1;
    keyStart_ = node4size;
    const int rc = validate(why);
    if (rc != 0) node_ = nullptr;
    return rc;
}

int leaf4view::validate(std::string* why) {
    auto fail = [why](std::string text) {
        if (why != nullptr) *why = std::move(text);
        return e4info;
    };
    const leaf4widths& w = widths_;
    const std::string widths = "R " + std::to_string(w.recordBits) + ", D " +
                               std::to_string(w.dupBits) + ", T " + std::to_string(w.trailBits) +
                               ", E " + std::to_string(w.entryBytes);
    if (w.recordBits < 1 || w.recordBits > 32 || w.dupBits > 8 || w.trailBits > 8 ||
        w.entryBytes < 1 || w.recordBits + w.dupBits + w.trailBits > 8 * w.entryBytes)
        return fail("impossible entry widths (" + widths + ")");
    if (w.recordMask != lowBits(w.recordBits) || w.dupMask != lowBits(w.dupBits) ||
        w.trailMask != lowBits(w.trailBits))
        return fail("masks do not match the widths (" + widths + ")");
    // Wide entries take the counts from a load at the entry's third byte.
    if (w.entryBytes >= 5 && w.recordBits < 17)
        return fail("entries of 5 bytes or more need R of 17 or more (" + widths + ")");
    if (count_ * w.entryBytes > kLeafArea)
        return fail(std::to_string(count_) + " entries of " + std::to_string(w.entryBytes) +
                    " bytes do not fit");

    const int entriesEnd = kLeafData + count_ * w.entryBytes;
    int start = node4size;
    for (int i = 0; i < count_; i++) {
        leaf4entry e;
        entry(i, &e);
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

int leaf4view::entry(int i, leaf4entry* out) const {
    if (out == nullptr) return e4parmNull;
    if (i < 0 || i >= count_) return e4parm;
    const leaf4widths& w = widths_;
    const int at = kLeafData + i * w.entryBytes;
    const uint64_t low = load32(at);
    out->record = uint32_t(low) & w.recordMask;
    if (w.entryBytes <= 4) {
        out->dup = int((low >> w.recordBits) & w.dupMask);
        out->trail = int((low >> (w.recordBits + w.dupBits)) & w.trailMask);
    } else {
        const uint64_t counts = load32(at + 2);
        out->dup = int((counts >> (w.recordBits - 16)) & w.dupMask);
        out->trail = int((counts >> (w.recordBits + w.dupBits - 16)) & w.trailMask);
    }
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
    if (keyIndex_ > i) {
        keyIndex_ = -1;
        keyStart_ = node4size;
    }
    while (keyIndex_ < i) {
        leaf4entry e;
        entry(++keyIndex_, &e);
        const int stored = keyLength_ - e.dup - e.trail;
        keyStart_ -= stored;
        std::memcpy(key_.data() + e.dup, node_ + keyStart_, size_t(stored));
        std::memset(key_.data() + e.dup + stored, pad_, size_t(e.trail));
    }
    *out = key_.data();
    return 0;
}

int leaf4view::setEntry(int i, const leaf4entry& e) {
    if (i < 0 || i >= count_) return e4parm;
    if (e.record > widths_.recordMask || e.dup < 0 || e.trail < 0 || e.dup > widths_.dupMask ||
        e.trail > widths_.trailMask || e.dup + e.trail > keyLength_)
        return e4parm;
    encode(i, e);
    keyIndex_ = -1;
    keyStart_ = node4size;
    return 0;
}

int leaf4view::widen() {
    if (free_ < count_) return node4noRoom;
    if (widths_.recordBits + 8 > 32) return e4parm;
    std::array<leaf4entry, kLeafArea> entries;
    for (int i = 0; i < count_; i++) entry(i, &entries[size_t(i)]);
    widths_.recordBits += 8;
    widths_.entryBytes += 1;
    widths_.recordMask = lowBits(widths_.recordBits);
    for (int i = 0; i < count_; i++) encode(i, entries[size_t(i)]);
    free_ -= count_;
    writeHeader();
    return 0;
}

int leaf4view::append(const uint8_t* newKey, uint32_t record, int trail) {
    if (newKey == nullptr) return e4parmNull;
    const int k = keyLength_;
    if (trail < 0 || trail > leaf4trailCount(newKey, k, pad_)) return e4parm;
    // A foreign leaf may have narrower counts: fewer pads left out is still the same key.
    trail = std::min(trail, int(widths_.trailMask));

    int dup = 0;
    if (count_ > 0) {
        const uint8_t* previous = nullptr;
        leaf4entry last;
        key(count_ - 1, &previous);
        entry(count_ - 1, &last);
        while (dup < k && previous[dup] == newKey[dup]) dup++;
        // Readers that rebuild a key only from stored bytes never see the previous key's
        // trailing pads, so a shared prefix must not reach into them.
        dup = std::min({dup, k - last.trail, k - trail, int(widths_.dupMask)});
    }
    const int stored = k - dup - trail;

    int widenings = 0;
    for (int r = widths_.recordBits; record > lowBits(r); r += 8) {
        if (r + 8 > 32) return e4parm;
        widenings++;
    }
    const int need = widths_.entryBytes + widenings + stored + widenings * count_;
    if (need > free_) return node4noRoom;
    for (int n = 0; n < widenings; n++) widen();

    const int start = node4size - stored_ - stored;
    std::memcpy(node_ + start, newKey + dup, size_t(stored));
    encode(count_, leaf4entry{record, dup, trail});
    count_++;
    stored_ += stored;
    free_ -= widths_.entryBytes + stored;
    writeHeader();
    // The appended key is the one a following append compares with.
    std::memcpy(key_.data(), newKey, size_t(k));
    keyIndex_ = count_ - 1;
    keyStart_ = start;
    return 0;
}
