#include <algorithm>
#include <cstring>
#include <utility>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/file/file4.h"
#include "xbase/index/index4file.h"
#include "xbase/index/index4header.h"
#include "xbase/index/tag4.h"
#include "xbase/index/tag4internal.h"

// Key maintenance. Most changes insert into or remove from one leaf in place (node4.h).
// Otherwise a change decodes the node it touches into whole entries, edits them,
// and encodes them again the way a rebuild writes a leaf (each duplicate count capped so
// that it never reaches into the previous key's trailing pads), so that every leaf the
// library writes reads the same in any reader. When the entries no longer fit one node
// they are spread over the node and new right siblings; an emptied node is unlinked and
// freed. Either way the level above is rewritten in turn while its entries change.

namespace {

// Chunk boundaries for `n` entries: [0, n] when they fit one node, else two parts split
// near `preferred`, else as many nodes as packing from the front needs.
template <typename Fits>
std::vector<int> partition(int n, int preferred, Fits fits) {
    if (fits(0, n)) return {0, n};
    preferred = std::clamp(preferred, 1, std::max(1, n - 1));
    for (int d = 0; d < n; d++) {
        for (int m : {preferred - d, preferred + d}) {
            if (m < 1 || m > n - 1 || (d == 0 && m != preferred)) continue;
            if (fits(0, m) && fits(m, n)) return {0, m, n};
        }
    }
    std::vector<int> bounds = {0};
    int start = 0;
    while (start < n) {
        int end = start + 1;
        while (end < n && fits(start, end + 1)) end++;
        bounds.push_back(end);
        start = end;
    }
    return bounds;
}

// Where a node that no longer fits splits into two: `usual` (about half way), or, for the
// last node of its level when the entry that made it overflow lies above that, just before
// that entry. A tag filled in key order (appends) so leaves its nodes full instead of half
// empty for good.
int splitPoint(const uint8_t* node, int usual, int changed) {
    return node4headerRead(node).right == node4none && changed > usual ? changed : usual;
}

bool readWidths(tag4file* t, const uint8_t* node, leaf4widths* out) {
    leaf4view leaf;
    leaf.attachTrusted(const_cast<uint8_t*>(node), t->keyLength, t->pad);
    *out = leaf.widths();
    return true;
}

// Writes entries [from, to) into `node` as a leaf or branch with `header`.
int32_t encodeChunk(tag4file* t, uint8_t* node, const node4header& header,
                    const leaf4widths& widths, const tag4entries& e, int from, int to) {
    if (node4isLeaf(header.attribute)) return tag4encodeLeaf(t, node, header, widths, e, from, to);
    return tag4encodeBranch(t, node, header, e, from, to);
}

void addUp(tag4entries* up, const tag4entries& e, int last, uint32_t child) {
    up->insert(up->count(), e.key(last), e.records[size_t(last)], 0, child);
}

// Writes chunk i of `e` to offsets[i], the nodes linked left to right between `left` and
// `right` (whose left offset is rewritten), and lists each chunk's last entry in `up`.
// offsets[0] may be `first`, a block the caller holds.
int32_t writeChunks(tag4file* t, const tag4entries& e, const std::vector<int>& bounds,
                    const std::vector<int32_t>& offsets, uint16_t attribute, int32_t left,
                    int32_t right, const leaf4widths& widths, block4* first, tag4entries* up) {
    const size_t chunks = offsets.size();
    for (size_t i = 0; i < chunks; i++) {
        block4* b = first;
        if (i > 0 || first == nullptr) {
            const int32_t rc = tag4blockGet(t, offsets[i], true, &b);
            if (rc != 0) return rc < 0 ? rc : tag4corrupt(t, E4LOC(92201));
        }
        node4header h;
        h.attribute = attribute;
        h.left = i == 0 ? left : offsets[i - 1];
        h.right = i + 1 == chunks ? right : offsets[i + 1];
        const int32_t rc = encodeChunk(t, b->data, h, widths, e, bounds[i], bounds[i + 1]);
        b->changed = 1;
        if (b != first) tag4blockUnpin(b);
        if (rc != 0) return rc < 0 ? rc : error4raise(t->env, e4info, E4LOC(92202));
        addUp(up, e, bounds[i + 1] - 1, uint32_t(offsets[i]));
    }
    if (right != node4none) {
        block4* r = nullptr;
        int32_t rc = tag4blockGet(t, right, false, &r);
        if (rc != 0) return rc < 0 ? rc : tag4corrupt(t, E4LOC(92203));
        node4header h = node4headerRead(r->data);
        h.left = offsets.back();
        node4headerWrite(r->data, h);
        r->changed = 1;
        tag4blockUnpin(r);
    }
    return 0;
}

// Takes `count` nodes for a change.
int32_t extendMany(tag4file* t, size_t count, std::vector<int32_t>* out) {
    for (size_t i = 0; i < count; i++) {
        const int32_t at = index4extend(t->indexFile);
        if (at < 0) return at;
        out->push_back(at);
    }
    return 0;
}

// Unlinks a node from its level (the neighbours' offsets are rewritten) and frees it.
int32_t dropNode(tag4file* t, block4* b) {
    const node4header h = node4headerRead(b->data);
    const int32_t offset = b->fileOffset;
    for (int side = 0; side < 2; side++) {
        const int32_t neighbour = side == 0 ? h.left : h.right;
        if (neighbour == node4none) continue;
        block4* n = nullptr;
        const int32_t rc = tag4blockGet(t, neighbour, false, &n);
        if (rc != 0) return rc < 0 ? rc : tag4corrupt(t, E4LOC(92210));
        node4header nh = node4headerRead(n->data);
        if (side == 0)
            nh.right = h.right;
        else
            nh.left = h.left;
        node4headerWrite(n->data, nh);
        n->changed = 1;
        tag4blockUnpin(n);
    }
    return index4freeNode(t->indexFile, offset);
}

// The root took more than one node: it becomes a branch over them (a new level), splitting
// again while the entries exceed a branch. A shared file keeps the root where it is, so
// that other processes holding its offset still find the root there.
int32_t growRoot(tag4file* t, block4* root, const tag4entries& e, const std::vector<int>& bounds,
                 const leaf4widths& widths) {
    const bool keepInPlace = t->indexFile->file.accessMode == 0;
    const bool leaf = node4isLeaf(node4headerRead(root->data).attribute);
    const size_t chunks = bounds.size() - 1;
    std::vector<int32_t> offsets;
    if (!keepInPlace) offsets.push_back(root->fileOffset);
    if (int32_t rc = extendMany(t, chunks - offsets.size(), &offsets)) return rc;
    tag4entries up;
    up.clear(t->keyLength);
    int32_t rc = writeChunks(t, e, bounds, offsets, leaf ? node4leaf : node4branch, node4none,
                             node4none, widths, keepInPlace ? nullptr : root, &up);
    if (rc != 0) return rc;
    const int capacity = branch4capacity(t->keyLength);
    while (up.count() > capacity) {
        tag4entries level = up;
        std::vector<int> b = partition(level.count(), (level.count() + 1) / 2,
                                       [&](int from, int to) { return to - from <= capacity; });
        std::vector<int32_t> o;
        if ((rc = extendMany(t, b.size() - 1, &o)) != 0) return rc;
        up.clear(t->keyLength);
        rc = writeChunks(t, level, b, o, node4branch, node4none, node4none, widths, nullptr, &up);
        if (rc != 0) return rc;
    }
    block4* top = root;
    if (!keepInPlace) {
        const int32_t at = index4extend(t->indexFile);
        if (at < 0) return at;
        if ((rc = tag4blockGet(t, at, true, &top)) != 0)
            return rc < 0 ? rc : tag4corrupt(t, E4LOC(92220));
        t->tree->root = uint32_t(at);
        t->tree->rootChanged = 1;
    }
    node4header h;
    h.attribute = node4rootBranch;
    rc = tag4encodeBranch(t, top->data, h, up, 0, up.count());
    top->changed = 1;
    if (top != root) tag4blockUnpin(top);
    return rc;
}

// The last entry of a node before a change, to tell whether the parent must follow.
struct LastEntry {
    std::vector<uint8_t> key;
    uint32_t record = 0;
    void take(const tag4entries& e) {
        if (e.count() == 0) {
            key.clear();
            return;
        }
        key.assign(e.key(e.count() - 1), e.key(e.count() - 1) + e.keyLength);
        record = e.records.back();
    }
    bool same(const tag4entries& e) const {
        const int last = e.count() - 1;
        return !key.empty() && last >= 0 && record == e.records[size_t(last)] &&
               std::memcmp(key.data(), e.key(last), key.size()) == 0;
    }
};

// Decodes path[level] into t->tree->work.node and remembers its last entry.
int32_t decodeLevel(tag4file* t, int level, LastEntry* last) {
    tag4entries& e = t->tree->work.node;
    if (tag4decode(t, t->tree->path[level]->data, &e) != 0) return tag4corrupt(t, E4LOC(92229));
    last->take(e);
    return 0;
}

int32_t rewriteLevel(tag4file* t, int level, int preferred, const LastEntry& last);

// Passes the first entry of t->tree->work.node (the new contents of the branch path[level]) to
// the end of its left sibling, or its last entry to the front of its right sibling, when
// that sibling under the same parent has room; then rewrites the parent. 1 when no sibling
// could take it (nothing changed), else 0 or an error.
int32_t passToSibling(tag4file* t, int level) {
    tag4entries& e = t->tree->work.node;
    block4* b = t->tree->path[level];
    block4* parent = t->tree->path[level - 1];
    const int K = t->keyLength;
    tag4entries up;
    if (tag4decode(t, parent->data, &up) != 0) return 1;
    const int c = parent->cursor;
    for (int side : {-1, 1}) {
        const int s = c + side;
        if (s < 0 || s >= up.count()) continue;
        block4* sibling = nullptr;
        if (tag4blockGet(t, int32_t(up.children[size_t(s)]), false, &sibling) != 0) continue;
        tag4entries other;
        const node4header sh = node4headerRead(sibling->data);
        if (sh.attribute != node4branch || tag4decode(t, sibling->data, &other) != 0 ||
            other.count() >= branch4capacity(K)) {
            tag4blockUnpin(sibling);
            continue;
        }
        if (side < 0) {
            other.insert(other.count(), e.key(0), e.records[0], 0, e.children[0]);
            e.erase(0);
        } else {
            const int n = e.count() - 1;
            other.insert(0, e.key(n), e.records[size_t(n)], 0, e.children[size_t(n)]);
            e.erase(n);
        }
        int32_t rc = tag4encodeBranch(t, sibling->data, sh, other, 0, other.count());
        sibling->changed = 1;
        tag4blockUnpin(sibling);
        if (rc == 0) rc = tag4encodeBranch(t, b->data, node4headerRead(b->data), e, 0, e.count());
        b->changed = 1;
        if (rc != 0) return rc;
        // The parent's entries for both nodes take their new last entries.
        LastEntry parentLast;
        parentLast.take(up);
        for (const auto& [at, from] : {std::pair<int, const tag4entries*>{c, &e},
                                       std::pair<int, const tag4entries*>{s, &other}}) {
            const int n = from->count() - 1;
            std::memcpy(up.keys.data() + size_t(at) * size_t(K), from->key(n), size_t(K));
            up.records[size_t(at)] = from->records[size_t(n)];
        }
        e = up;
        return rewriteLevel(t, level - 1, (e.count() + 1) / 2, parentLast);
    }
    return 1;
}

// Writes t->tree->work.node as the new contents of path[level] (whose last entry was `last`)
// and carries the change up. `preferred` is where a split into two should fall.
int32_t rewriteLevel(tag4file* t, int level, int preferred, const LastEntry& last) {
    tag4entries& e = t->tree->work.node;
    block4* b = t->tree->path[level];
    const node4header h = node4headerRead(b->data);
    const bool leaf = node4isLeaf(h.attribute);
    const int K = t->keyLength;

    if (e.count() == 0) {
        if (level == 0) {
            // The tag is empty again: one empty root leaf.
            leaf4widths w;
            int32_t rc = tag4widths(t, leaf4start::empty, &w);
            if (rc < 0) return rc;
            leaf4view::format(b->data, node4rootLeaf, w);
            b->changed = 1;
            return 0;
        }
        int32_t rc = dropNode(t, b);
        if (rc < 0) return rc;
        LastEntry parentLast;
        if ((rc = decodeLevel(t, level - 1, &parentLast)) != 0) return rc;
        e.erase(t->tree->path[level - 1]->cursor);
        return rewriteLevel(t, level - 1, (e.count() + 1) / 2, parentLast);
    }

    leaf4widths widths;
    if (leaf) {
        if (!readWidths(t, b->data, &widths)) return tag4corrupt(t, E4LOC(92231));
        // The first key of an empty tag starts the leaf's widths afresh.
        if (level == 0 && h.count == 0) {
            const int32_t rc = tag4widths(t, leaf4start::empty, &widths);
            if (rc < 0) return rc;
        }
    }
    const int capacity = branch4capacity(K);
    std::vector<uint8_t>& scratch = t->tree->work.scratch;
    scratch.resize(node4size);
    bool scratchWhole = false;
    const std::vector<int> bounds = partition(e.count(), preferred, [&](int from, int to) {
        if (!leaf) return to - from <= capacity;
        const bool fits = tag4encodeLeaf(t, scratch.data(), h, widths, e, from, to) == 0;
        scratchWhole = fits && from == 0 && to == e.count();
        return fits;
    });
    const size_t chunks = bounds.size() - 1;

    if (chunks == 1) {
        if (leaf && scratchWhole)
            std::memcpy(b->data, scratch.data(), node4size);
        else if (int32_t rc = encodeChunk(t, b->data, h, widths, e, 0, e.count()); rc != 0)
            return rc < 0 ? rc : error4raise(t->env, e4info, E4LOC(92232));
        b->changed = 1;
        if (level == 0 || last.same(e)) return 0;
        // The node's last entry changed: so does its entry in the parent.
        const int n = e.count() - 1;
        std::vector<uint8_t> key(e.key(n), e.key(n) + K);
        const uint32_t record = e.records[size_t(n)];
        LastEntry parentLast;
        if (int32_t rc = decodeLevel(t, level - 1, &parentLast); rc != 0) return rc;
        const int c = t->tree->path[level - 1]->cursor;
        std::memcpy(e.keys.data() + size_t(c) * size_t(K), key.data(), size_t(K));
        e.records[size_t(c)] = record;
        return rewriteLevel(t, level - 1, (e.count() + 1) / 2, parentLast);
    }

    if (level == 0) return growRoot(t, b, e, bounds, widths);
    if (!leaf && capacity == 2 && e.count() == 3) {
        // Branches of two entries fill up fast and split into a node of one: an entry is
        // passed to a sibling with room first, so that the tree stays shallow.
        const int32_t rc = passToSibling(t, level);
        if (rc != 1) return rc;
    }

    std::vector<int32_t> offsets = {b->fileOffset};
    int32_t rc = extendMany(t, chunks - 1, &offsets);
    if (rc != 0) return rc;
    tag4entries up;
    up.clear(K);
    rc = writeChunks(t, e, bounds, offsets, h.attribute, h.left, h.right, widths, b, &up);
    if (rc != 0) return rc;
    // The parent's entry for the node gives way to one entry per node.
    LastEntry parentLast;
    if ((rc = decodeLevel(t, level - 1, &parentLast)) != 0) return rc;
    const int c = t->tree->path[level - 1]->cursor;
    e.erase(c);
    for (int i = 0; i < up.count(); i++)
        e.insert(c + i, up.key(i), up.records[size_t(i)], 0, up.children[size_t(i)]);
    const int at = splitPoint(t->tree->path[level - 1]->data, (e.count() + 1) / 2, c + 1);
    return rewriteLevel(t, level - 1, at, parentLast);
}

int32_t checkChange(tag4file* t, const void* key, int32_t record, error4span<4> location) {
    if (t == nullptr) return error4raise(nullptr, e4parmNull, location.at<0>());
    if (error4pending(t->env)) return e4codeBase;
    if (key == nullptr) return error4raise(t->env, e4parmNull, location.at<1>());
    if (record < 1) return error4raise(t->env, e4parm, location.at<2>());
    if (t->indexFile->file.isReadOnly)
        return error4raiseText(t->env, e4write, location.at<3>(), t->indexFile->file.name);
    return 0;
}

// The trailing count a new key is stored with.
uint8_t trailOf(tag4file* t, const uint8_t* key) {
    if (t->noTrail) return 0;
    return uint8_t(leaf4trailCount(key, t->keyLength, t->pad));
}

// The leaf's last entry changed to (key, record): the parent's entry for the leaf takes
// it, and so on upwards while the changed entry is the last of its node. 0, or -910 when
// a parent cannot take it (the tree would no longer lead to the key).
int32_t followLast(tag4file* t, const uint8_t* key, uint32_t record, int from = -1) {
    for (int level = from >= 0 ? from : t->tree->depth - 2; level >= 0; level--) {
        block4* b = t->tree->path[level];
        branch4view view;
        if (view.attach(b->data, t->keyLength) != 0 || b->cursor >= view.count() ||
            view.set(b->cursor, key, record, view.child(b->cursor)) != 0)
            return error4raise(t->env, e4info, E4LOC(92235));
        b->changed = 1;
        if (b->cursor != view.count() - 1) return 0;
    }
    return 0;
}

// Keys added in order (record numbers, new value numbers) go past the last entry of the last
// leaf: when the key sorts above the entry the last append left there, and that leaf still
// holds the bytes that append left, the path goes down the right edge to the end of the leaf
// and the leaf is not searched. 1 with the path and `place` set, 0 when a search must find
// the place, or an error.
int32_t appendPlace(tag4file* t, const uint8_t* key, uint32_t record, leaf4place* place) {
    const tag4appendHint& h = t->tree->append;
    const int K = t->keyLength;
    if (h.leaf < 0) return 0;
    const int c = std::memcmp(key, h.key, size_t(K));
    if (c < 0 || (c == 0 && record <= h.record)) return 0;
    const int32_t rc = tag4goEof(t);
    if (rc < 0) return rc;
    block4* b = t->tree->depth > 0 ? t->tree->path[t->tree->depth - 1] : nullptr;
    if (b == nullptr || b->fileOffset != h.leaf || std::memcmp(b->data, h.node, node4size) != 0) {
        tag4pathClear(t);
        return 0;
    }
    leaf4view leaf;
    leaf.attachTrusted(b->data, K, t->pad);
    int matched = 0;
    while (matched < K && key[matched] == h.key[matched]) matched++;
    *place = leaf4place{leaf.count(), matched, h.trail, node4size - leaf.storedBytes()};
    return 1;
}

// After an insert in place at `place`: when it went past the last entry of the last leaf, the
// leaf as it is now, for appendPlace.
void noteAppend(tag4file* t, const uint8_t* key, uint32_t record, const leaf4place& place) {
    tag4appendHint& h = t->tree->append;
    h.leaf = -1;
    const block4* b = t->tree->path[t->tree->depth - 1];
    leaf4view leaf;
    leaf.attachTrusted(const_cast<uint8_t*>(b->data), t->keyLength, t->pad);
    leaf4entry last;
    if (leaf.count() != place.at + 1 || node4headerRead(b->data).right != node4none ||
        leaf.entry(place.at, &last) != 0)
        return;
    std::memcpy(h.key, key, size_t(t->keyLength));
    std::memcpy(h.node, b->data, node4size);
    h.record = record;
    h.trail = last.trail;
    h.leaf = b->fileOffset;
}

// Most changes touch one leaf only: the key goes into (or leaves) the leaf in place. These
// give 1 when done, 0 having changed nothing when the node must be split, dropped or
// started afresh (the whole-node path does that), or an error.
int32_t insertInLeaf(tag4file* t, const uint8_t* key, uint32_t record, const leaf4place& place) {
    block4* b = t->tree->path[t->tree->depth - 1];
    leaf4view leaf;
    leaf.attachTrusted(b->data, t->keyLength, t->pad);
    const int n = leaf.count();
    if (n == 0 || place.at != b->cursor) return 0;
    const int p = place.at;
    if (leaf.insertAt(place, key, record, trailOf(t, key)) != 0) return 0;
    b->changed = 1;
    if (p == n) return followLast(t, key, record) < 0 ? e4info : 1;
    return 1;
}

int32_t removeInLeaf(tag4file* t) {
    block4* b = t->tree->path[t->tree->depth - 1];
    leaf4view leaf;
    leaf.attachTrusted(b->data, t->keyLength, t->pad);
    const int n = leaf.count();
    const int p = b->cursor;
    if (n < 2 || p >= n || leaf.remove(p) != 0) return 0;
    b->changed = 1;
    if (p == n - 1) {
        const leaf4iter last(leaf, n - 2);
        if (followLast(t, last.key(), last.entry().record) < 0) return e4info;
    }
    return 1;
}

// A branch with room takes a split child's halves in place: the entry for the child becomes
// the left half's, the right half's goes in after it, and the ancestors' entries follow when
// the branch's last entry changed. 1 when the branch has no room or does not hold the child
// at its cursor (nothing has changed then: the whole-node path does it).
int32_t parentTakesHalves(tag4file* t, int level, const uint8_t* leftKey, uint32_t leftRecord,
                          const uint8_t* rightKey, uint32_t rightRecord, uint32_t rightChild) {
    block4* b = t->tree->path[level];
    const int K = t->keyLength;
    branch4view view;
    if (view.attach(b->data, K) != 0) return 1;
    const int n = view.count(), c = b->cursor;
    if (c < 0 || c >= n || n >= view.capacity()) return 1;
    const uint32_t leftChild = view.child(c);
    if (leftChild != uint32_t(t->tree->path[level + 1]->fileOffset)) return 1;
    const bool lastMoved = c == n - 1 && (view.record(c) != rightRecord ||
                                          std::memcmp(view.key(c), rightKey, size_t(K)) != 0);
    const size_t width = size_t(K) + 8;
    uint8_t* at = b->data + node4headerSize + size_t(c + 1) * width;
    std::memmove(at + width, at, size_t(n - c - 1) * width);
    node4header h = node4headerRead(b->data);
    h.count = uint16_t(n + 1);
    node4headerWrite(b->data, h);
    if (view.attach(b->data, K) != 0 || view.set(c, leftKey, leftRecord, leftChild) != 0 ||
        view.set(c + 1, rightKey, rightRecord, rightChild) != 0)
        return error4raise(t->env, e4info, E4LOC(92236));
    b->changed = 1;
    if (!lastMoved || level == 0) return 0;
    return followLast(t, rightKey, rightRecord, level - 1) < 0 ? e4info : 0;
}

// A full leaf below the root splits without decoding its entries, as the whole-node path
// splits it: its last half moves to a new right sibling, the key goes into the half that
// holds its position, and the parent takes an entry for each half. 1 when the halves do
// not hold what they must (nothing has changed then).
int32_t splitLeaf(tag4file* t, const uint8_t* key, uint32_t record) {
    const int level = t->tree->depth - 1;
    if (level == 0) return 1;
    block4* b = t->tree->path[level];
    const int K = t->keyLength;
    uint8_t left[node4size], right[node4size];
    std::memcpy(left, b->data, node4size);
    leaf4view lv, rv;
    lv.attachTrusted(left, K, t->pad);
    const int n = lv.count();
    if (n < 2) return 1;
    const int p = std::min(int(b->cursor), n);
    const int keep = splitPoint(left, n - n / 2, p);
    leaf4view::format(right, node4leaf, lv.widths());
    rv.attachTrusted(right, K, t->pad);
    for (leaf4iter it(lv, keep); !it.done(); it.next())
        if (rv.append(it.key(), it.entry().record, it.entry().trail) != 0) return 1;
    (void)lv.truncate(keep);
    const uint8_t trail = trailOf(t, key);
    if ((p < keep ? lv.insert(p, key, record, trail) : rv.insert(p - keep, key, record, trail)) !=
        0)
        return 1;

    // The right neighbour is held before anything changes: its left offset moves.
    const int32_t oldRight = node4headerRead(left).right;
    block4* neighbour = nullptr;
    int32_t rc = 0;
    if (oldRight != node4none && (rc = tag4blockGet(t, oldRight, false, &neighbour)) != 0)
        return rc < 0 ? rc : tag4corrupt(t, E4LOC(92233));
    const int32_t offset = index4extend(t->indexFile);
    block4* added = nullptr;
    if (offset < 0)
        rc = offset;
    else if ((rc = tag4blockGet(t, offset, true, &added)) > 0)
        rc = tag4corrupt(t, E4LOC(92234));
    if (rc != 0) {
        tag4blockUnpin(neighbour);
        return rc;
    }
    node4header h = node4headerRead(left);
    h.right = offset;
    node4headerWrite(left, h);
    h = node4headerRead(right);
    h.left = b->fileOffset;
    h.right = oldRight;
    node4headerWrite(right, h);
    std::memcpy(b->data, left, node4size);
    std::memcpy(added->data, right, node4size);
    b->changed = added->changed = 1;
    tag4blockUnpin(added);
    if (neighbour != nullptr) {
        h = node4headerRead(neighbour->data);
        h.left = offset;
        node4headerWrite(neighbour->data, h);
        neighbour->changed = 1;
        tag4blockUnpin(neighbour);
    }

    // The parent's entry for the leaf gives way to one entry per half.
    const leaf4iter leftLast(lv, lv.count() - 1), rightLast(rv, rv.count() - 1);
    if ((rc = parentTakesHalves(t, level - 1, leftLast.key(), leftLast.entry().record,
                                rightLast.key(), rightLast.entry().record, uint32_t(offset))) != 1)
        return rc;
    LastEntry parentLast;
    if ((rc = decodeLevel(t, level - 1, &parentLast)) != 0) return rc;
    tag4entries& e = t->tree->work.node;
    const int c = t->tree->path[level - 1]->cursor;
    e.erase(c);
    e.insert(c, leftLast.key(), leftLast.entry().record, 0, uint32_t(b->fileOffset));
    e.insert(c + 1, rightLast.key(), rightLast.entry().record, 0, uint32_t(offset));
    return rewriteLevel(t, level - 1, (e.count() + 1) / 2, parentLast);
}

}  // namespace

// ---- node codecs ----

int32_t tag4decode(tag4file* t, const uint8_t* node, tag4entries* out) {
    const int K = t->keyLength;
    out->clear(K);
    auto* data = const_cast<uint8_t*>(node);
    const node4header h = node4headerRead(node);
    if (node4isLeaf(h.attribute)) {
        leaf4view leaf;
        leaf.attachTrusted(data, K, t->pad);
        for (leaf4iter it(leaf); !it.done(); it.next())
            out->insert(it.index(), it.key(), it.entry().record, uint8_t(it.entry().trail), 0);
        return 0;
    }
    branch4view branch;
    if (branch.attach(data, K) != 0) return e4index;
    for (int i = 0; i < branch.count(); i++)
        out->insert(i, branch.key(i), branch.record(i), 0, branch.child(i));
    return 0;
}

int32_t tag4encodeLeaf(tag4file* t, uint8_t* node, const node4header& header,
                       const leaf4widths& widths, const tag4entries& in, int from, int to) {
    leaf4view::format(node, header.attribute, widths);
    node4header h = node4headerRead(node);
    h.left = header.left;
    h.right = header.right;
    node4headerWrite(node, h);
    leaf4view leaf;
    leaf.attachTrusted(node, t->keyLength, t->pad);
    for (int i = from; i < to; i++) {
        const int32_t rc = leaf.append(in.key(i), in.records[size_t(i)], in.trails[size_t(i)]);
        if (rc != 0) return rc;
    }
    return 0;
}

int32_t tag4encodeBranch(tag4file* t, uint8_t* node, const node4header& header,
                         const tag4entries& in, int from, int to) {
    branch4view::format(node, header.attribute);
    node4header h = node4headerRead(node);
    h.left = header.left;
    h.right = header.right;
    node4headerWrite(node, h);
    branch4view branch;
    int rc = branch.attach(node, t->keyLength);
    for (int i = from; i < to && rc == 0; i++)
        rc = branch.append(in.key(i), in.records[size_t(i)], in.children[size_t(i)]);
    return rc == 0 ? 0 : error4raise(t->env, e4info, E4LOC(92241));
}

int32_t tag4widths(tag4file* t, leaf4start start, leaf4widths* out) {
    const int32_t rc = leaf4widthsFor(t->keyLength, index4recordCount(t->indexFile), start, out);
    return rc < 0 ? error4raise(t->env, e4info, E4LOC(92240)) : 0;
}

// ---- changes ----

int32_t tag4addKey(tag4file* t, const void* key, int32_t record, int16_t code) {
    if (int32_t rc = checkChange(t, key, record, E4LOC(92250))) return rc;
    const auto* k = static_cast<const uint8_t*>(key);
    const int K = t->keyLength;
    if (code != 0) {
        // Any entry with this key refuses the add, before anything changes.
        const int32_t found = tag4seekEntry(t, k, 0);
        if (found < 0) return found;
        const uint8_t* at = tag4key(t);
        if (at != nullptr && std::memcmp(at, k, size_t(K)) == 0) {
            switch (code) {
                case tag4uniqueKeep:
                    return tag4uniqueKeep;
                case tag4uniqueRefuse:
                case tag4candidateRefuse:
                    return r4unique;
                default:
                    return error4raiseText(t->env, e4unique, E4LOC(92254), t->alias,
                                           t->indexFile->file.name);
            }
        }
    }
    index4versionAdvance(t->indexFile);
    leaf4place place;
    int32_t rc = appendPlace(t, k, uint32_t(record), &place);
    if (rc == 0) rc = tag4seekEntry(t, k, uint32_t(record), &place);
    if (rc < 0) return rc;
    if ((rc = insertInLeaf(t, k, uint32_t(record), place)) != 0) {
        if (rc == 1) noteAppend(t, k, uint32_t(record), place);
        tag4pathClear(t);
        return rc < 0 ? rc : 0;
    }
    if ((rc = splitLeaf(t, k, uint32_t(record))) != 1) {
        tag4pathClear(t);
        return rc < 0 ? rc : 0;
    }
    block4* leaf = t->tree->path[t->tree->depth - 1];
    tag4entries& e = t->tree->work.node;
    LastEntry last;
    if ((rc = decodeLevel(t, t->tree->depth - 1, &last)) != 0) return rc;
    const int n = e.count();
    const int p = std::min(leaf->cursor, n);
    e.insert(p, k, uint32_t(record), trailOf(t, k), 0);
    // As a split moves the upper half of a full leaf: the new key joins the half that holds
    // its position.
    const int right = n / 2;
    const int preferred = splitPoint(leaf->data, p < n - right ? n - right + 1 : n - right, p);
    rc = rewriteLevel(t, t->tree->depth - 1, preferred, last);
    tag4pathClear(t);
    return rc < 0 ? rc : 0;
}

int32_t tag4removeKey(tag4file* t, const void* key, int32_t record) {
    if (int32_t rc = checkChange(t, key, record, E4LOC(92260))) return rc;
    const auto* k = static_cast<const uint8_t*>(key);
    const int K = t->keyLength;
    int32_t rc = tag4seekEntry(t, k, uint32_t(record));
    if (rc < 0) return rc;
    if (rc != 0) {
        // A file written elsewhere may hold equal keys out of record order: look at every
        // entry of the key.
        if ((rc = tag4seekEntry(t, k, 0)) < 0) return rc;
        for (;;) {
            const uint8_t* at = tag4key(t);
            if (at == nullptr || std::memcmp(at, k, size_t(K)) != 0) return r4entry;
            if (tag4recordNumber(t) == record) break;
            rc = tag4skip(t, 1);
            if (rc < 0) return rc;
            if (rc == 0) return r4entry;
        }
    }
    index4versionAdvance(t->indexFile);
    if ((rc = removeInLeaf(t)) != 0) {
        tag4pathClear(t);
        return rc < 0 ? rc : 0;
    }
    tag4entries& e = t->tree->work.node;
    LastEntry last;
    if ((rc = decodeLevel(t, t->tree->depth - 1, &last)) != 0) return rc;
    e.erase(t->tree->path[t->tree->depth - 1]->cursor);
    rc = rewriteLevel(t, t->tree->depth - 1, (e.count() + 1) / 2, last);
    tag4pathClear(t);
    return rc < 0 ? rc : 0;
}
