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
//
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

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "xbase/core/bytes4.h"

// Where the fields lie (the tables above).
inline constexpr int node4size = 512;
inline constexpr int node4attributeAt = 0, node4countAt = 2, node4leftAt = 4, node4rightAt = 8;
inline constexpr int node4headerSize =
    node4rightAt + 4;  // the common header; branch entries follow
inline constexpr int leaf4freeAt = node4headerSize, leaf4recordMaskAt = leaf4freeAt + 2,
                     leaf4dupMaskAt = leaf4recordMaskAt + 4, leaf4trailMaskAt = leaf4dupMaskAt + 1,
                     leaf4widthsAt = leaf4trailMaskAt + 1;  // R, D, T and E, a byte each
inline constexpr int leaf4dataOffset = leaf4widthsAt + 4;   // a leaf's entries, after its widths
inline constexpr int node4freeLinkAt = 0;
inline constexpr int node4noRoom = 1;  // outcome of an append or widening: the node is full
inline constexpr int node4none = -1;   // sibling offset of a node at the end of its level

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

// A node's right sibling offset alone (bytes4slice: offsets from the node's start), as a
// rebuild sets it once the next node of the level is written.
bytes4slice node4encodeRight(int32_t right);

// A free node keeps the offset of the next free node in its first 4 bytes (0 ends the list).
[[nodiscard]] uint32_t node4freeNext(const uint8_t* node);
void node4setFreeNext(uint8_t* node, uint32_t next);
// The link alone: where it lies in the node, and its value once its bytes are read there.
bytes4slice node4freeLinkSlice();
uint32_t node4decodeFreeLink(const bytes4slice& slice);

// How many entries a branch of this key length holds: the 500 bytes after the header
// divided by K + 8, rounded down.
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

class leaf4iter;
class leaf4view;

// The fields of a leaf's entries with the widths copied out of the view: loops that also store
// bytes (which may alias anything) would otherwise load the widths again for every entry. It
// serves while the leaf's widths are unchanged.
class leaf4decoder {
  public:
    explicit leaf4decoder(const leaf4view& leaf);
    void read(int i, leaf4entry* out) const;
    // The duplicate and trailing counts of entry i, its record number left undecoded.
    void counts(int i, int* dup, int* trail) const;
    // Key bytes the entry stores (the key length less its two counts).
    int stored(int i) const;

  private:
    uint32_t load32(int offset) const;
    const uint8_t* node_;
    int keyLength_;
    int entryBytes_;
    int countsAt_;  // 0, or 2 for entries of 5 bytes or more
    int dupShift_;
    int trailShift_;
    uint32_t recordMask_;
    uint32_t dupMask_;
    uint32_t trailMask_;
};

// A leaf node (attribute 2 or 3). Its full keys are read through a leaf4iter.
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

    // attach() and ascending() in one pass over the entries, for a leaf read from the file:
    // the same checks and results (-930, -310, -910 for a leaf unsound or out of order), with
    // the last key in `last` (K bytes, when given and the leaf has entries).
    [[nodiscard]] int attachAscending(uint8_t* node, int keyLength, uint8_t pad, uint8_t* last);

    int count() const { return count_; }
    int freeBytes() const { return free_; }
    int storedBytes() const { return stored_; }
    const leaf4widths& widths() const { return widths_; }

    // The fields of entry i, decoded with the 32-bit loads of the format. -930 out of range.
    [[nodiscard]] int entry(int i, leaf4entry* out) const;

    // True when the keys ascend (memcmp order, equal keys allowed). Each key is compared
    // with the one before on the bytes it does not share with it, as it is rebuilt. `last`,
    // when given, receives the last key (K bytes) of a leaf that has entries.
    [[nodiscard]] bool ascending(uint8_t* last = nullptr);

    // The first entry whose key is not less than `search` over `length` bytes (at most the
    // key length); with `byRecord`, keys equal over the whole key length compare by record
    // number against `record` as well. Sets *at to it (count() when there is none) and
    // returns 0 when it equals the search, else 2. Keys are compared on their stored bytes
    // as the scan goes, without rebuilding them. `place`, when given, receives where the
    // scan stopped, for insertAt().
    [[nodiscard]] int search(const uint8_t* search, int length, bool byRecord, uint32_t record,
                             int* at, leaf4place* place = nullptr) const;

    // A search for one key in a leaf read from the file and not checked whole: the widths
    // and count, and every entry the scan passes, are checked as the scan decodes them (no
    // read ever leaves the node); entries after the one found are not looked at, nor is the
    // key order. A damaged leaf may so give a wrong record number, never a wrong read: for
    // callers that verify what the record holds. 0 with *record when the first entry not
    // less than the search over `length` bytes equals it, 2 when it differs or none is left,
    // -930 (key length outside 1 to 240), -310 (not a leaf), -910 (unsound as far as seen).
    [[nodiscard]] static int probe(uint8_t* node, int keyLength, uint8_t pad, const uint8_t* search,
                                   int length, uint32_t* record);

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
    friend class leaf4iter;
    friend class leaf4decoder;
    uint32_t load32(int offset) const;
    // The full key of entry i (below the count) in key_, rebuilt from the nearest key
    // rebuilt before when i is not below it.
    const uint8_t* rebuildKey(int i);
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
    // The checks of validate() on the header's widths and count alone.
    [[nodiscard]] int validateWidths(std::string* why) const;
    // The entries of validate() and the order of ascending(), in one pass.
    [[nodiscard]] bool soundAndAscending(uint8_t* last);

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

// Walks the entries of a leaf in stored order, rebuilding each full key from the one
// before it. The key belongs to the iterator and stays as it is until the iterator moves;
// the iterator serves while the leaf is not changed (and its view lives).
class leaf4iter {
  public:
    // On entry `from` (at least 0); done() at once when the leaf has no such entry.
    explicit leaf4iter(const leaf4view& leaf, int from = 0);
    bool done() const { return index_ >= leaf_->count_; }
    int index() const { return index_; }
    // The K bytes of the entry's key and its fields; only while !done().
    const uint8_t* key() const { return key_.data(); }
    const leaf4entry& entry() const { return entry_; }
    // Node offset where the entry's stored key bytes begin.
    int start() const { return start_; }
    void next();

  private:
    void load();  // decodes entry index_ and rebuilds its key over the one before
    const leaf4view* leaf_;
    int index_ = -1;
    int start_ = node4size;  // where the stored bytes of entry index_ begin
    leaf4entry entry_;
    // Left unset: the constructor writes the key's K bytes before anything reads them.
    std::array<uint8_t, 256> key_;
};

// The readers of every step of a search or a walk, inline.

inline leaf4decoder::leaf4decoder(const leaf4view& leaf)
    : node_(leaf.node_),
      keyLength_(leaf.keyLength_),
      entryBytes_(leaf.widths_.entryBytes),
      countsAt_(leaf.widths_.entryBytes <= 4 ? 0 : 2),
      dupShift_(leaf.widths_.recordBits - 8 * countsAt_),
      trailShift_(leaf.widths_.recordBits + leaf.widths_.dupBits - 8 * countsAt_),
      recordMask_(leaf.widths_.recordMask),
      dupMask_(leaf.widths_.dupMask),
      trailMask_(leaf.widths_.trailMask) {}

// A 32-bit little-endian load that reads zeros past the node's end: the last entry of a
// full leaf with short entries would otherwise reach beyond the 512 bytes.
inline uint32_t leaf4load32(const uint8_t* node, int offset) {
    if (offset + 4 <= node4size) return bytes4get32le(node + offset);
    uint8_t b[4] = {};
    std::memcpy(b, node + offset, size_t(node4size - offset));
    return bytes4get32le(b);
}

// Entry i of a leaf held in memory (checked when it was read), 0 <= i < count, as
// leaf4view::entry reads it: for a cursor's step, which needs no view of the whole leaf.
inline void leaf4entryAt(const uint8_t* node, int i, leaf4entry* out) {
    const int recordBits = node[leaf4widthsAt], dupBits = node[leaf4widthsAt + 1];
    const int entryBytes = node[leaf4widthsAt + 3];
    const uint32_t dupMask = node[leaf4dupMaskAt], trailMask = node[leaf4trailMaskAt];
    const int at = leaf4dataOffset + i * entryBytes;
    const uint64_t low = leaf4load32(node, at);
    out->record = uint32_t(low) & bytes4get32le(node + leaf4recordMaskAt);
    if (entryBytes <= 4) {
        out->dup = int((low >> recordBits) & dupMask);
        out->trail = int((low >> (recordBits + dupBits)) & trailMask);
    } else {
        const uint64_t counts = leaf4load32(node, at + 2);
        out->dup = int((counts >> (recordBits - 16)) & dupMask);
        out->trail = int((counts >> (recordBits + dupBits - 16)) & trailMask);
    }
}

// The record number of that entry alone.
inline uint32_t leaf4recordAt(const uint8_t* node, int i) {
    const int entryBytes = node[leaf4widthsAt + 3];
    return leaf4load32(node, leaf4dataOffset + i * entryBytes) &
           bytes4get32le(node + leaf4recordMaskAt);
}

inline uint32_t leaf4decoder::load32(int offset) const {
    return leaf4load32(node_, offset);
}

inline void leaf4decoder::read(int i, leaf4entry* out) const {
    const int at = leaf4dataOffset + i * entryBytes_;
    const uint32_t low = load32(at);
    const uint32_t counts = countsAt_ == 0 ? low : load32(at + countsAt_);
    out->record = low & recordMask_;
    out->dup = int((counts >> dupShift_) & dupMask_);
    out->trail = int((counts >> trailShift_) & trailMask_);
}

inline void leaf4decoder::counts(int i, int* dup, int* trail) const {
    const uint32_t counts = load32(leaf4dataOffset + i * entryBytes_ + countsAt_);
    *dup = int((counts >> dupShift_) & dupMask_);
    *trail = int((counts >> trailShift_) & trailMask_);
}

inline int leaf4decoder::stored(int i) const {
    const int at = leaf4dataOffset + i * entryBytes_ + countsAt_;
    const uint32_t counts = load32(at);
    return keyLength_ - int((counts >> dupShift_) & dupMask_) -
           int((counts >> trailShift_) & trailMask_);
}

inline node4header node4headerRead(const uint8_t* node) {
    node4header h;
    h.attribute = bytes4get16le(node + node4attributeAt);
    h.count = bytes4get16le(node + node4countAt);
    h.left = int32_t(bytes4get32le(node + node4leftAt));
    h.right = int32_t(bytes4get32le(node + node4rightAt));
    return h;
}

inline uint32_t leaf4view::load32(int offset) const {
    return leaf4load32(node_, offset);
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
