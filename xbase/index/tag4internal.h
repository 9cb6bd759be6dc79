#pragma once
// Inside the tag unit: what tag4.cpp and tag4edit.cpp share, the nodes a tag holds among
// them. Callers outside use tag4.h.
#include <cstdint>
#include <vector>

#include "xbase/index/tag4.h"

// Outcome of a read check: the node disagrees with what led to it. A reader without the
// lock takes it for another process's change in progress and starts again.
inline constexpr int32_t tag4suspect = 1;

// Entries of one node, decoded: full keys, record numbers, and per kind the trailing
// counts (leaves) or child offsets (branches).
struct tag4entries {
    int keyLength = 0;
    std::vector<uint8_t> keys;
    std::vector<uint32_t> records;
    std::vector<uint8_t> trails;
    std::vector<uint32_t> children;
    int count() const { return int(records.size()); }
    const uint8_t* key(int i) const { return keys.data() + size_t(i) * size_t(keyLength); }
    void clear(int k) {
        keyLength = k;
        keys.clear();
        records.clear();
        trails.clear();
        children.clear();
    }
    void insert(int at, const uint8_t* key, uint32_t record, uint8_t trail, uint32_t child);
    void erase(int at);
};

// The in-memory copy of one node.
struct block4 {
    tag4file* tag;
    int8_t changed;      // must be written before it is dropped
    int8_t inPath;       // on the tag's path: never evicted
    int32_t fileOffset;  // -1 when it holds no node
    int32_t cursor;      // entry index; count means past the last entry
    block4* hashNext;    // in the tag's bucket of fileOffset
    block4* older;       // in the tag's use order
    block4* newer;
    uint8_t data[node4size];
};

struct tag4work {
    tag4entries node;               // the node being rewritten
    tag4entries up;                 // what goes into the level above
    std::vector<uint8_t> scratch;   // a node that a trial encoding fills
    std::vector<uint8_t> savedKey;  // the entry a skip stood on before leaving a leaf
    uint32_t savedRecord = 0;
    std::vector<uint8_t> keyOut;  // what tag4key hands out
    // The key keyAtCursor rebuilt last: entry `index` of a leaf that held the bytes `node`,
    // and where that entry's stored bytes begin. It serves the same entry, or the next one
    // with a decode of that entry alone, while a leaf holds these very bytes.
    struct {
        int index = -1;
        int start = 0;
        uint8_t node[node4size] = {};
        uint8_t key[256] = {};
    } cursorKey;
    // The last entry of the node read and checked last, when it has entries.
    bool checkedLast = false;
    uint8_t lastKey[256];
    uint32_t lastRecord = 0;
};

// The last leaf of the tree as the last append into it left it: its offset (-1: none) and
// bytes, and the entry then last in it (its trailing count as stored). A key above that
// entry goes past it, without a search, while the last leaf still holds these very bytes.
struct tag4appendHint {
    int32_t leaf = -1;
    uint32_t record = 0;
    int trail = 0;
    uint8_t key[256];
    uint8_t node[node4size];
};

// What a tag holds of its tree (tag4file::tree).
struct tag4tree {
    uint32_t root = 0;  // 0: read from the header at the next descent
    int8_t rootChanged = 0;
    // The path from the root (path[0]) to the current leaf, and every node held.
    block4* path[tag4maxDepth] = {};
    int32_t depth = 0;  // 0: no current position
    block4* blocks[tag4cacheBlocks] = {};
    int32_t blockCount = 0;
    block4* hash[tag4hashSize] = {};  // blocks holding a node, by its offset
    block4* oldest = nullptr;         // every block by last use; those holding nothing oldest
    block4* newest = nullptr;
    tag4work work;
    tag4appendHint append;
    int32_t probeHeight = 0;  // levels tag4probe last met (0: unknown)
};

// True when node read checks are errors rather than signs of another writer: this
// process holds the index lock, or the file is not shared.
bool tag4trusted(const tag4file* tag);
// -310 with the tag's name.
[[nodiscard]] int32_t tag4corrupt(tag4file* tag, int32_t location);

// The block holding the node at `offset`: one held already, or one read from the file and
// checked whole (*read, when given, is set then); a block that is new in the file is
// formatted by the caller instead (`fresh`). 0, tag4suspect or an error. The block is
// pinned (never evicted) until tag4blockUnpin. Leaves in blocks are sound: views attach to
// them with attachTrusted.
[[nodiscard]] int32_t tag4blockGet(tag4file* tag, int32_t offset, bool fresh, block4** out,
                                   bool* read = nullptr);
void tag4blockUnpin(block4* block);
// Empties the path (the blocks stay cached).
void tag4pathClear(tag4file* tag);

// Decodes or encodes whole nodes. Encoding a leaf: 0 or node4noRoom; a branch: 0, or -910
// raised when the entries do not fit (its callers never give it more than fit).
[[nodiscard]] int32_t tag4decode(tag4file* tag, const uint8_t* node, tag4entries* out);
[[nodiscard]] int32_t tag4encodeLeaf(tag4file* tag, uint8_t* node, const node4header& header,
                                     const leaf4widths& widths, const tag4entries& in, int from,
                                     int to);
[[nodiscard]] int32_t tag4encodeBranch(tag4file* tag, uint8_t* node, const node4header& header,
                                       const tag4entries& in, int from, int to);
// Widths of the leaves of this tag: rebuilt or started empty.
[[nodiscard]] int32_t tag4widths(tag4file* tag, leaf4start start, leaf4widths* out);

// Positions the path at the first entry with (key, record) not less than the given
// (record 0: the first entry of the key). 0 exact, 2 otherwise; or an error. `place`, when
// given, receives where the search of the leaf stopped.
[[nodiscard]] int32_t tag4seekEntry(tag4file* tag, const uint8_t* key, uint32_t record,
                                    leaf4place* place = nullptr);
