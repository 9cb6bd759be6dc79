#pragma once

// The 512-byte nodes of an index tag's B+ tree, seen through views that never read or
// write outside the node's bytes. A view checks the node when it is attached, so that a
// node read from a damaged or foreign file is refused with a code rather than decoded into
// nonsense: -310 for a header that is not a node of that kind, -910 for arithmetic that
// does not add up. A node checked once and changed only through views since may be
// attached again without the check. The views own nothing; the caller keeps the 512 bytes
// alive.
//
// Branch entries hold the full key, then the record number and the child offset (both
// big-endian). Leaf entries are bit fields (record number, duplicate count, trailing
// count) at the front of the data area, with the stored key bytes packed at the back.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "xbase/bytes4.h"

inline constexpr int node4size = 512;
inline constexpr int node4headerSize = 12;  // the common header; branch entries follow
inline constexpr int leaf4dataOffset = 24;  // a leaf's entries, after its widths
inline constexpr int node4noRoom = 1;       // outcome of an append or widening: the node is full
inline constexpr int node4none = -1;        // sibling offset of a node at the end of its level

// Node attributes.
inline constexpr uint16_t node4branch = 0;
inline constexpr uint16_t node4rootBranch = 1;
inline constexpr uint16_t node4leaf = 2;
inline constexpr uint16_t node4rootLeaf = 3;

struct node4header {
    uint16_t attribute = 0;
    uint16_t count = 0;
    int32_t left = node4none;
    int32_t right = node4none;
};

// The common 12-byte header. Reading accepts any bytes; node4headerCheck says whether the
// attribute is one of the four (0, or -310).
inline node4header node4headerRead(const uint8_t* node);
void node4headerWrite(uint8_t* node, const node4header& header);
[[nodiscard]] int node4headerCheck(const node4header& header);
inline bool node4isLeaf(uint16_t attribute) {
    return attribute == node4leaf || attribute == node4rootLeaf;
}

// A free node keeps the offset of the next free node in its first 4 bytes (0 ends the list).
[[nodiscard]] uint32_t node4freeNext(const uint8_t* node);
void node4setFreeNext(uint8_t* node, uint32_t next);

// How many entries a branch of this key length holds: floor(500 / (K + 8)).
[[nodiscard]] int branch4capacity(int keyLength);

// A branch node (attribute 0 or 1).
class branch4view {
  public:
    // Formats an empty branch: the attribute, count 0, no siblings, zeroed entries.
    static void format(uint8_t* node, uint16_t attribute);

    // 0, -930 for a key length outside 1 to 240, -310 for a node that is not a branch,
    // -910 for more entries than the node holds.
    [[nodiscard]] int attach(uint8_t* node, int keyLength);

    int count() const { return count_; }
    int capacity() const { return capacity_; }
    const uint8_t* key(int i) const { return entry(i); }  // K bytes; i must be below count()
    uint32_t record(int i) const { return bytes4get32be(entry(i) + keyLength_); }
    uint32_t child(int i) const { return bytes4get32be(entry(i) + keyLength_ + 4); }

    // Rewrites entry i (below count()), or appends one: 0, node4noRoom when full, -930.
    [[nodiscard]] int set(int i, const uint8_t* key, uint32_t record, uint32_t child);
    [[nodiscard]] int append(const uint8_t* key, uint32_t record, uint32_t child);

  private:
    uint8_t* entry(int i) const { return node_ + node4headerSize + i * (keyLength_ + 8); }
    uint8_t* node_ = nullptr;
    int keyLength_ = 0;
    int count_ = 0;
    int capacity_ = 0;
};

// The bit widths of a leaf's entries.
struct leaf4widths {
    int recordBits = 0;  // R
    int dupBits = 0;     // D
    int trailBits = 0;   // T
    int entryBytes = 0;  // E: R + D + T rounded up to whole bytes
    uint32_t recordMask = 0;
    uint8_t dupMask = 0;
    uint8_t trailMask = 0;
};

// How a leaf came to be: written by a rebuild, or started empty by key maintenance (which
// leaves room for the record number to grow before the entry needs another byte).
enum class leaf4start { rebuilt, empty };

// The widths of a new leaf of a tag with this key length on a data file of `records`
// records (for the tag directory, the number of tags x 1024). 0 or -930.
[[nodiscard]] int leaf4widthsFor(int keyLength, uint32_t records, leaf4start start,
                                 leaf4widths* out);

// The number of significant bits of a value (0 for 0).
[[nodiscard]] int leaf4bits(uint32_t value);

struct leaf4entry {
    uint32_t record = 0;
    int dup = 0;    // leading bytes shared with the previous key of the node
    int trail = 0;  // pad bytes at the end of the key that are not stored
};

// Where a leaf search stopped, with what an insert there needs.
struct leaf4place {
    int at = 0;             // the entry found; the count when there is none
    int matched = 0;        // leading bytes the entry before shares with the search key
    int previousTrail = 0;  // trailing count of the entry before
    int top = node4size;    // node offset where the stored bytes of entry `at` end
};

// Trailing pad bytes of a key (K for a key that is all pad).
[[nodiscard]] int leaf4trailCount(const uint8_t* key, int keyLength, uint8_t pad);

// A leaf node (attribute 2 or 3). Keys are rebuilt into a buffer of the view, incrementally
// when they are asked for in increasing order.
class leaf4view {
  public:
    // Formats an empty leaf with these widths: free 488, zeroed data area, no siblings.
    static void format(uint8_t* node, uint16_t attribute, const leaf4widths& widths);

    // Attaches and checks the whole leaf: attribute, widths and masks, entry count, every
    // entry's counts (dup + trail <= K, the first dup 0), the stored key bytes against the
    // entries, and free bytes = 488 - count x E - stored bytes exactly. 0, -930 (key length
    // outside 1 to 240), -310 (not a leaf), -910 (anything else). Nothing else may be called
    // on a view whose attach failed. `why`, when given, receives what failed in words.
    [[nodiscard]] int attach(uint8_t* node, int keyLength, uint8_t pad, std::string* why = nullptr);

    // Attaches to a leaf that passed attach() when it was read (or was formatted here) and
    // has been changed only through views since, without checking it again: the key
    // maintenance of a tag does this on every step and must not pay for a whole check. A
    // build with QV_CHECK_NODES checks all the same and aborts on a fault.
    void attachTrusted(uint8_t* node, int keyLength, uint8_t pad);

    int count() const { return count_; }
    int freeBytes() const { return free_; }
    int storedBytes() const { return stored_; }
    const leaf4widths& widths() const { return widths_; }

    // The fields of entry i, decoded with the 32-bit loads of the format. -930 out of range.
    [[nodiscard]] int entry(int i, leaf4entry* out) const;

    // The full key of entry i; valid until the next call on the view. -930 out of range.
    [[nodiscard]] int key(int i, const uint8_t** out);

    // True when the keys ascend (memcmp order, equal keys allowed). Each key is compared
    // with the one before on the bytes it does not share with it, as it is rebuilt; the
    // last key stays rebuilt, so that key(count() - 1) costs nothing afterwards.
    [[nodiscard]] bool ascending();

    // The first entry whose key is not less than `search` over `length` bytes (at most the
    // key length); with `byRecord`, keys equal over the whole key length compare by record
    // number against `record` as well. Sets *at to it (count() when there is none) and
    // returns 0 when it equals the search, else 2. Keys are compared on their stored bytes
    // as the scan goes, without rebuilding them. `place`, when given, receives where the
    // scan stopped, for insertAt().
    [[nodiscard]] int search(const uint8_t* search, int length, bool byRecord, uint32_t record,
                             int* at, leaf4place* place = nullptr) const;

    // Appends a key after the last entry, as a rebuild writes it: the duplicate count is the
    // prefix shared with the previous key, capped so that it never reaches into that key's
    // trailing pad bytes and dup + trail <= K. `trail` is at most the key's trailing pads
    // (0 keeps them stored). Widens the leaf first when the record number needs it. 0,
    // node4noRoom (nothing changed), -930 (a trail that is not pad, a record number that
    // cannot fit any width).
    [[nodiscard]] int append(const uint8_t* newKey, uint32_t record, int trail);

    // Inserts a key before entry i (i = count() appends), in place: the stored key bytes
    // behind it move, and only the new entry and its successor are encoded again (the
    // successor's duplicate count is now taken against the new key). Duplicate counts
    // follow the rule of append(). Widens the leaf first when the record number needs it.
    // 0, node4noRoom (nothing changed), -930 (i out of range, a trail that is not pad, a
    // record number that cannot fit any width).
    [[nodiscard]] int insert(int i, const uint8_t* newKey, uint32_t record, int trail);
    // As insert(), at the place a search for this same key over the whole key length found
    // (the view unchanged since), without rebuilding the key before it.
    [[nodiscard]] int insertAt(const leaf4place& place, const uint8_t* newKey, uint32_t record,
                               int trail);

    // Removes entry i in place: its successor stores again the bytes it took from it, the
    // key bytes behind close up, and the vacated bytes are zeroed. 0, node4noRoom when the
    // successor would no longer fit (only in leaves written by others; nothing changed),
    // -930 for i out of range.
    [[nodiscard]] int remove(int i);

    // Drops the entries from `keep` on; their slots and stored bytes are zeroed. 0, or -930
    // for `keep` outside 0 to count().
    [[nodiscard]] int truncate(int keep);

    // Re-encodes every entry with R + 8 bits of record number and one more byte. 0,
    // node4noRoom when the free bytes are fewer than the entries, -930 when R would pass 32.
    [[nodiscard]] int widen();

    // Rewrites the fields of entry i in place (key bytes are the caller's business, and the
    // rebuilt-key buffer is forgotten). -930 when out of range or a field does not fit.
    [[nodiscard]] int setEntry(int i, const leaf4entry& entry);

  private:
    uint32_t load32(int offset) const;
    void readHeader(uint8_t* node, int keyLength, uint8_t pad);
    void writeHeader();
    void forgetKey();
    // The insert, once the place is known; the successor's shared bytes are taken from
    // `successorPrefix` (the key before it, or any key that shares as many bytes with it).
    [[nodiscard]] int insertPlaced(const leaf4place& place, const uint8_t* successorPrefix,
                                   const uint8_t* newKey, uint32_t record, int trail);
    // Widenings a record number needs (0 or more); -930 when no width holds it.
    int wideningsFor(uint32_t record) const;
    // The duplicate count of a key after `previous`, capped as append() caps it.
    int dupAfter(const uint8_t* previous, int previousTrail, const uint8_t* next, int trail) const;
    void encode(int i, const leaf4entry& entry);
    [[nodiscard]] int validate(std::string* why);

    uint8_t* node_ = nullptr;
    int keyLength_ = 0;
    uint8_t pad_ = 0;
    int count_ = 0;
    int free_ = 0;
    int stored_ = 0;
    leaf4widths widths_;
    // Rebuilt key: index (-1 none), and the node offset where its stored bytes begin.
    int keyIndex_ = -1;
    int keyStart_ = node4size;
    std::array<uint8_t, 256> key_{};
};

// The readers of every step of a search or a walk, inline; the byte layout is described in
// node4.cpp.

inline node4header node4headerRead(const uint8_t* node) {
    node4header h;
    h.attribute = bytes4get16le(node);
    h.count = bytes4get16le(node + 2);
    h.left = int32_t(bytes4get32le(node + 4));
    h.right = int32_t(bytes4get32le(node + 8));
    return h;
}

// A 32-bit little-endian load that reads zeros past the node's end: the last entry of a
// full leaf with short entries would otherwise reach beyond the 512 bytes.
inline uint32_t leaf4view::load32(int offset) const {
    if (offset + 4 <= node4size) return bytes4get32le(node_ + offset);
    uint8_t b[4] = {};
    std::memcpy(b, node_ + offset, size_t(node4size - offset));
    return bytes4get32le(b);
}

inline int leaf4view::entry(int i, leaf4entry* out) const {
    if (out == nullptr) return -935;
    if (i < 0 || i >= count_) return -930;
    const leaf4widths& w = widths_;
    const int at = leaf4dataOffset + i * w.entryBytes;
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
