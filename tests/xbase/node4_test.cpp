#include "xbase/index/node4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

namespace {

struct WidthCase {
    int keyLength;
    uint32_t records;
    leaf4start start;
    int r, d, t, e;
};

TEST(LeafWidths, FollowKeyLengthAndRecordCount) {
    const WidthCase cases[] = {
        {10, 1000, leaf4start::rebuilt, 16, 4, 4, 3},
        {40, 1000, leaf4start::rebuilt, 12, 6, 6, 3},
        {40, 1000, leaf4start::empty, 20, 6, 6, 4},
        {240, 1000, leaf4start::rebuilt, 16, 8, 8, 4},
        {1, 0, leaf4start::rebuilt, 14, 1, 1, 2},
        {5, 100000, leaf4start::rebuilt, 18, 3, 3, 3},
        {240, 0xFFFFFFFFu, leaf4start::rebuilt, 32, 8, 8, 6},
        // A leaf started empty on a huge table would pass 32 bits: it falls back a byte.
        {1, 1u << 29, leaf4start::empty, 30, 1, 1, 4},
    };
    for (const WidthCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "K " << c.keyLength << " N " << c.records);
        leaf4widths w;
        ASSERT_EQ(leaf4widthsFor(c.keyLength, c.records, c.start, &w), 0);
        EXPECT_EQ(w.recordBits, c.r);
        EXPECT_EQ(w.dupBits, c.d);
        EXPECT_EQ(w.trailBits, c.t);
        EXPECT_EQ(w.entryBytes, c.e);
        EXPECT_EQ(w.dupMask, (1u << c.d) - 1);
        EXPECT_EQ(w.trailMask, (1u << c.t) - 1);
        EXPECT_EQ(w.recordMask, c.r == 32 ? 0xFFFFFFFFu : (1u << c.r) - 1);
    }
    leaf4widths w;
    EXPECT_EQ(leaf4widthsFor(0, 10, leaf4start::rebuilt, &w), -930);
    EXPECT_EQ(leaf4widthsFor(241, 10, leaf4start::rebuilt, &w), -930);
    // One-byte keys leave no room for 31-bit record numbers in whole bytes.
    EXPECT_EQ(leaf4widthsFor(1, 1u << 30, leaf4start::rebuilt, &w), -930);
}

// A node in a buffer of exactly 512 bytes, so that the sanitizer sees any read beyond it.
std::unique_ptr<uint8_t[]> newNode() {
    return std::make_unique<uint8_t[]>(node4size);
}

struct Key {
    std::string bytes;
    uint32_t record;
};

// Sorted keys with long shared prefixes, trailing pads and equal keys.
std::vector<Key> makeKeys(int keyLength, uint8_t pad, int n, std::mt19937& rng) {
    std::vector<Key> keys;
    const std::string alphabet = "AAB" + std::string(1, char(pad)) + "C";
    for (int i = 0; i < n; i++) {
        const int length = int(rng() % uint32_t(keyLength + 1));
        std::string k;
        for (int j = 0; j < length; j++) k += alphabet[rng() % alphabet.size()];
        k.resize(size_t(keyLength), char(pad));
        // Record numbers from three ranges, so that leaves must widen as they fill.
        const uint32_t ranges[] = {1000, 100000, 1u << 25};
        keys.push_back({k, 1 + uint32_t(rng() % ranges[rng() % 3])});
    }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return a.bytes != b.bytes ? a.bytes < b.bytes : a.record < b.record;
    });
    return keys;
}

void expectLeafHolds(uint8_t* node, int keyLength, uint8_t pad, const std::vector<Key>& keys,
                     size_t from) {
    leaf4view view;
    std::string why;
    ASSERT_EQ(view.attach(node, keyLength, pad, &why), 0) << why;
    int previousTrail = 0;
    // A walk from the front, then a few entries reached directly (backwards).
    for (leaf4iter it(view); !it.done(); it.next()) {
        const int i = it.index();
        const leaf4entry& e = it.entry();
        const uint8_t* key = it.key();
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(key), size_t(keyLength)),
                  keys[from + size_t(i)].bytes);
        EXPECT_EQ(e.record, keys[from + size_t(i)].record);
        EXPECT_LE(e.dup + e.trail, keyLength);
        // A cursor's step reads its entry without a view: the same fields.
        leaf4entry direct;
        leaf4entryAt(node, i, &direct);
        EXPECT_EQ(std::tie(direct.record, direct.dup, direct.trail),
                  std::tie(e.record, e.dup, e.trail));
        EXPECT_EQ(leaf4recordAt(node, i), e.record);
        if (i > 0) {
            EXPECT_LE(e.dup, keyLength - previousTrail);
        }
        previousTrail = e.trail;
    }
    // An iterator started there goes on from it like one that walked from the front.
    for (int i = view.count() - 1; i >= 0; i -= 7) {
        leaf4iter at(view, i);
        for (int j = i; j < std::min(i + 3, view.count()); j++, at.next()) {
            ASSERT_EQ(at.index(), j);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(at.key()), size_t(keyLength)),
                      keys[from + size_t(j)].bytes);
            EXPECT_EQ(at.entry().record, keys[from + size_t(j)].record);
        }
    }
    EXPECT_TRUE(leaf4iter(view, view.count()).done());
}

TEST(LeafCodec, RoundTripsKeysOfEveryLengthThroughFullLeaves) {
    std::mt19937 rng(7);
    for (const int keyLength : {1, 5, 10, 38, 100, 240}) {
        for (const uint8_t pad : {uint8_t(' '), uint8_t(0)}) {
            SCOPED_TRACE(testing::Message() << "K " << keyLength << " pad " << int(pad));
            const std::vector<Key> keys = makeKeys(keyLength, pad, 3000, rng);
            leaf4widths widths;
            ASSERT_EQ(leaf4widthsFor(keyLength, 1000, leaf4start::rebuilt, &widths), 0);
            auto node = newNode();
            leaf4view::format(node.get(), node4leaf, widths);
            size_t first = 0;
            int widest = widths.entryBytes;
            int leaves = 1;
            for (size_t i = 0; i < keys.size(); i++) {
                leaf4view view;
                ASSERT_EQ(view.attach(node.get(), keyLength, pad), 0);
                const auto* k = reinterpret_cast<const uint8_t*>(keys[i].bytes.data());
                const int trail = leaf4trailCount(k, keyLength, pad);
                int rc = view.append(k, keys[i].record, trail);
                if (rc == node4noRoom) {
                    expectLeafHolds(node.get(), keyLength, pad, keys, first);
                    leaf4view::format(node.get(), node4leaf, widths);
                    first = i;
                    leaves++;
                    ASSERT_EQ(view.attach(node.get(), keyLength, pad), 0);
                    rc = view.append(k, keys[i].record, trail);
                }
                ASSERT_EQ(rc, 0);
                widest = std::max(widest, view.widths().entryBytes);
            }
            expectLeafHolds(node.get(), keyLength, pad, keys, first);
            EXPECT_GT(widest, widths.entryBytes) << "no leaf had to widen";
            EXPECT_GT(leaves, 1);
        }
    }
}

// A key of K bytes from text and pads.
std::string key(const std::string& text, int keyLength, char pad = ' ') {
    std::string k = text;
    k.resize(size_t(keyLength), pad);
    return k;
}
const uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

// A rebuilt empty leaf of key length K on a table of N records, attached with a blank pad.
struct NewLeaf {
    NewLeaf(int keyLength, uint32_t records) : node(newNode()) {
        EXPECT_EQ(leaf4widthsFor(keyLength, records, leaf4start::rebuilt, &widths), 0);
        leaf4view::format(node.get(), node4leaf, widths);
        EXPECT_EQ(view.attach(node.get(), keyLength, ' '), 0);
    }
    std::unique_ptr<uint8_t[]> node;
    leaf4widths widths;
    leaf4view view;
};

// A leaf changed in place by inserts, removals at any position and cutting off its second
// half: after every change it
// checks whole, holds what a sorted model says, is byte for byte the leaf that appending
// the same entries to a fresh node of the same widths writes (so the duplicate counts stay
// those of the rebuild's rule and every vacated byte is zero), and searches in it find what
// comparing whole keys finds. Keys hold bytes below the blank pad, where the successor of an
// inserted key can share less than before, and some keep their pads stored, so that a
// duplicate count may be below the shared prefix.
TEST(LeafCodec, InsertAndRemoveInPlaceEqualAFreshEncoding) {
    std::mt19937 rng(11);
    for (const int keyLength : {1, 5, 38, 240}) {
        for (const uint8_t pad : {uint8_t(' '), uint8_t(0)}) {
            SCOPED_TRACE(testing::Message() << "K " << keyLength << " pad " << int(pad));
            leaf4widths widths;
            ASSERT_EQ(leaf4widthsFor(keyLength, 1000, leaf4start::empty, &widths), 0);
            auto node = newNode();
            leaf4view::format(node.get(), node4leaf, widths);
            struct Entry {
                std::string key;
                uint32_t record;
                int trail;
            };
            std::vector<Entry> model;
            const std::string alphabet = std::string("AAB\x01C") + char(pad) + char(pad);
            bool filling = true;
            int refusals = 0;
            for (int step = 0; step < 1500; step++) {
                leaf4view view;
                ASSERT_EQ(view.attach(node.get(), keyLength, pad), 0);
                if (model.empty()) filling = true;
                if (filling) {
                    std::string k;
                    const int length = int(rng() % uint32_t(keyLength + 1));
                    for (int j = 0; j < length; j++) k += alphabet[rng() % alphabet.size()];
                    k.resize(size_t(keyLength), char(pad));
                    const uint32_t ranges[] = {1000, 100000, 1u << 25};
                    const uint32_t record = 1 + uint32_t(rng() % ranges[rng() % 3]);
                    const auto* kb = reinterpret_cast<const uint8_t*>(k.data());
                    // Some keys keep their trailing pads stored, as a tag with a filter does.
                    const int trail = rng() % 4 == 0 ? 0 : leaf4trailCount(kb, keyLength, pad);
                    const auto at = std::lower_bound(
                        model.begin(), model.end(), std::make_pair(k, record),
                        [](const Entry& e, const std::pair<std::string, uint32_t>& v) {
                            return e.key != v.first ? e.key < v.first : e.record < v.second;
                        });
                    const int i = int(at - model.begin());
                    std::vector<uint8_t> before(node.get(), node.get() + node4size);
                    // At an index, or at the place a search found.
                    int rc = 0;
                    if (step % 2 == 0) {
                        rc = view.insert(i, kb, record, trail);
                    } else {
                        leaf4place place;
                        int found = -1;
                        (void)view.search(kb, keyLength, true, record, &found, &place);
                        ASSERT_EQ(found, i);
                        rc = view.insertAt(place, kb, record, trail);
                    }
                    if (rc == node4noRoom) {
                        EXPECT_EQ(std::vector<uint8_t>(node.get(), node.get() + node4size), before);
                        refusals++;
                        filling = false;
                        continue;
                    }
                    ASSERT_EQ(rc, 0);
                    model.insert(at, Entry{k, record, std::min(trail, int(widths.trailMask))});
                } else if (rng() % 16 == 0) {
                    // The first half stays, as in a split.
                    const size_t keep = model.size() - model.size() / 2;
                    ASSERT_EQ(view.truncate(int(keep)), 0);
                    model.resize(keep);
                    filling = true;
                } else {
                    const int i = int(rng() % model.size());
                    ASSERT_EQ(view.remove(i), 0);
                    model.erase(model.begin() + i);
                    if (model.size() < 3) filling = true;
                }

                // The edited view itself reaches any entry directly.
                if (!model.empty()) {
                    const size_t j = rng() % model.size();
                    const leaf4iter direct(view, int(j));
                    ASSERT_EQ(
                        std::string(reinterpret_cast<const char*>(direct.key()), size_t(keyLength)),
                        model[j].key)
                        << "step " << step;
                }
                leaf4view again;
                std::string why;
                ASSERT_EQ(again.attach(node.get(), keyLength, pad, &why), 0) << why;
                ASSERT_TRUE(again.ascending());
                ASSERT_EQ(again.count(), int(model.size()));
                auto fresh = newNode();
                leaf4view::format(fresh.get(), node4leaf, again.widths());
                leaf4view written;
                ASSERT_EQ(written.attach(fresh.get(), keyLength, pad), 0);
                for (leaf4iter it(again); !it.done(); it.next()) {
                    const size_t j = size_t(it.index());
                    ASSERT_EQ(
                        std::string(reinterpret_cast<const char*>(it.key()), size_t(keyLength)),
                        model[j].key);
                    ASSERT_EQ(it.entry().record, model[j].record);
                    ASSERT_EQ(written.append(bytes(model[j].key), model[j].record, model[j].trail),
                              0);
                }
                ASSERT_EQ(std::memcmp(node.get(), fresh.get(), node4size), 0) << "step " << step;

                // Searches of keys present and absent, over part or all of the key, with and
                // without record numbers, find what a plain comparison of whole keys finds.
                for (int probe = 0; probe < 4 && !model.empty(); probe++) {
                    const Entry& near = model[rng() % model.size()];
                    std::string k = near.key;
                    if (rng() % 2 == 0) k[rng() % k.size()] = alphabet[rng() % alphabet.size()];
                    const bool byRecord = rng() % 2 == 0;
                    const int length = byRecord ? keyLength : 1 + int(rng() % uint32_t(keyLength));
                    const uint32_t record = near.record + uint32_t(rng() % 3) - 1;
                    size_t expected = 0;
                    int c = 1;
                    for (; expected < model.size(); expected++) {
                        c = std::memcmp(model[expected].key.data(), k.data(), size_t(length));
                        if (c == 0 && byRecord) {
                            const uint32_t r = model[expected].record;
                            c = r < record ? -1 : r > record ? 1 : 0;
                        }
                        if (c >= 0) break;
                    }
                    int at = -1;
                    EXPECT_EQ(again.search(bytes(k), length, byRecord, record, &at),
                              c == 0 ? 0 : 2);
                    EXPECT_EQ(at, int(expected)) << "step " << step;
                }
            }
            EXPECT_GT(refusals, 2);
        }
    }
    // Out of range.
    NewLeaf leaf(10, 1000);
    EXPECT_EQ(leaf.view.insert(1, bytes(key("A", 10)), 1, 9), -930);
    EXPECT_EQ(leaf.view.remove(0), -930);
    EXPECT_EQ(leaf.view.truncate(1), -930);
}

TEST(LeafCodec, DuplicateCountStopsAtThePreviousKeysPads) {
    NewLeaf leaf(6, 100);
    leaf4view& view = leaf.view;
    // "AB" and four pads, then "AB" + blank + "X": the shared prefix is 3, but only 2 of
    // those bytes are stored in the first key.
    const std::string first = key("AB", 6), second = key("AB X", 6), third = key("AB X", 6);
    ASSERT_EQ(view.append(bytes(first), 1, 4), 0);
    ASSERT_EQ(view.append(bytes(second), 2, 2), 0);
    ASSERT_EQ(view.append(bytes(third), 3, 0), 0);  // trailing pads kept stored
    leaf4entry e;
    ASSERT_EQ(view.entry(1, &e), 0);
    EXPECT_EQ(e.dup, 2);
    EXPECT_EQ(e.trail, 2);
    ASSERT_EQ(view.entry(2, &e), 0);
    EXPECT_EQ(e.dup, 4);  // equal keys, but the previous key's two pads are not stored
    EXPECT_EQ(e.trail, 0);
    EXPECT_EQ(view.freeBytes(), 488 - 3 * leaf.widths.entryBytes - (2 + 2 + 2));
    // A trailing count that covers bytes which are not pad is refused.
    EXPECT_EQ(view.append(bytes(key("ABC", 6)), 4, 4), -930);
}

// The order check of a leaf compares each key with the one before on the bytes they do
// not share, stored or pad: it agrees with comparing whole keys.
TEST(LeafCodec, AscendingAgreesWithWholeKeys) {
    struct Case {
        const char* first;
        const char* second;
        int trail;  // of the second key: 0 keeps its pads stored
    };
    const Case cases[] = {
        {"AB", "AB", 4},      {"AB", "AB", 0},         {"AB", "ABC", 3},        {"ABC", "AB", 4},
        {"AB \x01", "AB", 4}, {"AB", "AB \x01", 0},    {"AB", "AB\x01", 0},     {"A", "B", 5},
        {"B", "A", 5},        {"ABCDEF", "ABCDEE", 0}, {"ABCDEE", "ABCDEF", 0}, {"", "", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " / " << c.second);
        NewLeaf leaf(6, 100);
        const std::string a = key(c.first, 6), b = key(c.second, 6);
        ASSERT_EQ(leaf.view.append(bytes(a), 1, leaf4trailCount(bytes(a), 6, ' ')), 0);
        ASSERT_EQ(leaf.view.append(bytes(b), 2, c.trail), 0);
        leaf4view again;
        ASSERT_EQ(again.attach(leaf.node.get(), 6, ' '), 0);
        uint8_t last[6] = {};
        EXPECT_EQ(again.ascending(last), a <= b);
        if (a <= b) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(last), 6), b);
        }
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(leaf4iter(again, 1).key()), 6), b);
        // The one-pass check of a leaf read from a file gives the same verdict and last key.
        leaf4view read;
        uint8_t readLast[6] = {};
        EXPECT_EQ(read.attachAscending(leaf.node.get(), 6, ' ', readLast), a <= b ? 0 : -910);
        if (a <= b) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(readLast), 6), b);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(leaf4iter(read, 1).key()), 6), b);
        }
    }
}

TEST(LeafCodec, WidensInPlaceForALargeRecordNumber) {
    NewLeaf leaf(10, 1000);
    leaf4view& view = leaf.view;
    ASSERT_EQ(leaf.widths.recordBits, 16);
    for (uint32_t r = 1; r <= 20; r++)
        ASSERT_EQ(view.append(bytes(key("K" + std::to_string(100 + r), 10)), r, 6), 0);
    const int freeBefore = view.freeBytes();

    ASSERT_EQ(view.append(bytes(key("K999", 10)), 70000, 6), 0);
    EXPECT_EQ(view.widths().recordBits, 24);
    EXPECT_EQ(view.widths().entryBytes, 4);
    EXPECT_EQ(view.widths().recordMask, 0xFFFFFFu);
    // 20 entries grew a byte each, and the new entry took 4 bytes and one stored byte
    // (it shares "K" with the previous key).
    EXPECT_EQ(view.freeBytes(), freeBefore - 20 - 4 - 3);

    leaf4view again;
    ASSERT_EQ(again.attach(leaf.node.get(), 10, ' '), 0);
    leaf4entry e;
    ASSERT_EQ(again.entry(20, &e), 0);
    EXPECT_EQ(e.record, 70000u);
    ASSERT_EQ(again.entry(0, &e), 0);
    EXPECT_EQ(e.record, 1u);
}

TEST(LeafCodec, RefusesWhatDoesNotFitAndLeavesTheNodeAlone) {
    NewLeaf leaf(10, 1000);
    leaf4view& view = leaf.view;
    uint32_t r = 1;
    std::string next;
    for (;; r++) {
        next = key("K" + std::to_string(r * 7919), 10);
        if (view.append(bytes(next), r, 0) != 0) break;
    }
    ASSERT_GT(view.count(), view.freeBytes());
    std::vector<uint8_t> before(leaf.node.get(), leaf.node.get() + node4size);
    // Full: neither the key that did not fit nor a key with nothing to store but a record
    // number that needs widening changes a byte.
    EXPECT_EQ(view.append(bytes(next), r, 0), node4noRoom);
    EXPECT_EQ(view.append(bytes(key("", 10)), 70000, 10), node4noRoom);
    EXPECT_EQ(view.widen(), node4noRoom);
    EXPECT_EQ(std::vector<uint8_t>(leaf.node.get(), leaf.node.get() + node4size), before);
}

TEST(LeafCodec, RecordNumbersBeyondThirtyTwoBitsOfWidthAreRefused) {
    NewLeaf leaf(1, 1000);
    leaf4view& view = leaf.view;
    ASSERT_EQ(leaf.widths.recordBits, 14);
    ASSERT_EQ(view.append(bytes("A"), 1u << 29, 0), 0);  // widened twice, to R 30
    EXPECT_EQ(view.widths().recordBits, 30);
    EXPECT_EQ(view.append(bytes("B"), 1u << 31, 0), -930);
    EXPECT_EQ(view.widen(), -930);
}

// Leaf headers that must be refused: each case damages a valid leaf of five keys.
// A leaf of five keys of 10 bytes, records 1 to 5 in key order.
std::unique_ptr<uint8_t[]> fruitLeaf() {
    auto node = newNode();
    leaf4widths widths;
    EXPECT_EQ(leaf4widthsFor(10, 1000, leaf4start::rebuilt, &widths), 0);
    leaf4view::format(node.get(), node4leaf, widths);
    leaf4view view;
    EXPECT_EQ(view.attach(node.get(), 10, ' '), 0);
    uint32_t r = 1;
    for (const char* k : {"APPLE", "APRICOT", "BANANA", "BANANAS", "CHERRY"})
        EXPECT_EQ(view.append(bytes(key(k, 10)), r++, 0), 0);
    return node;
}

// Damage done to the fruit leaf: what the whole check says, and what a probe past every entry
// says (2 where the damage lies in what a probe does not look at).
struct LeafDamage {
    const char* name;
    void (*damage)(uint8_t*);
    int code;
    int probed;
};
const LeafDamage kLeafDamages[] = {
    {"branch attribute", [](uint8_t* n) { n[0] = 0; }, -310, -310},
    {"unknown attribute", [](uint8_t* n) { n[0] = 9; }, -310, -310},
    {"free bytes off by one", [](uint8_t* n) { n[12]++; }, -910, 2},
    {"count beyond the stored bytes", [](uint8_t* n) { n[2] = 100; }, -910, -910},
    {"count beyond the node",
     [](uint8_t* n) {
         n[2] = 0xFF;
         n[3] = 0x7F;
     },
     -910, -910},
    {"no record bits",
     [](uint8_t* n) {
         n[20] = 0;
         n[14] = 0;
         n[15] = 0;
     },
     -910, -910},
    {"record mask unlike R", [](uint8_t* n) { n[14] = 0x0F; }, -910, -910},
    {"duplicate bits above 8", [](uint8_t* n) { n[21] = 9; }, -910, -910},
    {"zero entry bytes", [](uint8_t* n) { n[23] = 0; }, -910, -910},
    {"widths over the entry", [](uint8_t* n) { n[23] = 2; }, -910, -910},
    {"five-byte entries with R 16",
     [](uint8_t* n) {
         n[21] = n[22] = 8;
         n[18] = n[19] = 0xFF;
         n[23] = 5;
     },
     -910, -910},
    {"first entry with a duplicate count", [](uint8_t* n) { n[24 + 2] |= 0x10; }, -910, 2},
    {"counts over the key length", [](uint8_t* n) { n[24 + 6 + 2] = 0xFF; }, -910, -910},
};

TEST(LeafCodec, AttachRefusesDamagedLeaves) {
    auto valid = fruitLeaf();
    for (const LeafDamage& c : kLeafDamages) {
        auto node = newNode();
        std::memcpy(node.get(), valid.get(), node4size);
        c.damage(node.get());
        leaf4view view;
        std::string why;
        EXPECT_EQ(view.attach(node.get(), 10, ' ', &why), c.code) << c.name;
        if (c.code == -910) {
            EXPECT_FALSE(why.empty()) << c.name;
        }
        leaf4view read;
        uint8_t last[10];
        EXPECT_EQ(read.attachAscending(node.get(), 10, ' ', last), c.code) << c.name;
    }
    leaf4view view;
    EXPECT_EQ(view.attach(valid.get(), 0, ' '), -930);
    EXPECT_EQ(view.attach(valid.get(), 256, ' '), -930);
    EXPECT_EQ(view.attachAscending(valid.get(), 256, ' ', nullptr), -930);
    uint8_t last[10];
    ASSERT_EQ(view.attachAscending(valid.get(), 10, ' ', last), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(last), 10), key("CHERRY", 10));
}

// A probe finds what a search finds in a sound leaf; in a damaged one it reads nothing outside
// the node and refuses the damage it passes over (the free bytes it never looks at).
TEST(LeafCodec, ProbeSearchesWithoutTheWholeCheck) {
    auto valid = fruitLeaf();
    struct Find {
        std::string search;
        int length;
        int result;
        uint32_t record;
    };
    const Find finds[] = {
        {key("APPLE", 10), 10, 0, 1},
        {key("BANANA", 10), 10, 0, 3},
        {key("CHERRY", 10), 10, 0, 5},
        {"BANANAS", 7, 0, 4},
        {"AP", 2, 0, 1},
        {"BAN", 3, 0, 3},
        {key("APRICOTS", 10), 10, 2, 0},
        {key("AVOCADO", 10), 10, 2, 0},
        {key("ZEBRA", 10), 10, 2, 0},
        {key("", 10), 10, 2, 0},
    };
    for (const Find& f : finds) {
        uint32_t record = 0;
        EXPECT_EQ(leaf4view::probe(valid.get(), 10, ' ', bytes(f.search), f.length, &record),
                  f.result)
            << f.search;
        if (f.result == 0) {
            EXPECT_EQ(record, f.record) << f.search;
        }
    }
    for (const LeafDamage& d : kLeafDamages) {
        auto node = newNode();
        std::memcpy(node.get(), valid.get(), node4size);
        d.damage(node.get());
        uint32_t record = 0;
        EXPECT_EQ(leaf4view::probe(node.get(), 10, ' ', bytes(key("ZEBRA", 10)), 10, &record),
                  d.probed)
            << d.name;
        for (const Find& f : finds)
            (void)leaf4view::probe(node.get(), 10, ' ', bytes(f.search), f.length, &record);
    }
    uint32_t record = 0;
    EXPECT_EQ(leaf4view::probe(valid.get(), 0, ' ', bytes(key("A", 10)), 10, &record), -930);
}

// A foreign leaf of 2-byte entries filling the whole data area: the 32-bit loads of the
// last entries would reach beyond the node.
TEST(LeafCodec, FullLeafOfShortEntriesDecodesWithinTheNode) {
    auto node = newNode();
    leaf4widths narrow{8, 4, 4, 2, 0xFF, 0x0F, 0x0F};
    leaf4view::format(node.get(), node4rootLeaf, narrow);
    leaf4view view;
    ASSERT_EQ(view.attach(node.get(), 10, ' '), 0);
    const std::string blank = key("", 10);
    for (uint32_t r = 1; r <= 244; r++) ASSERT_EQ(view.append(bytes(blank), r, 10), 0);
    EXPECT_EQ(view.freeBytes(), 0);
    leaf4view again;
    ASSERT_EQ(again.attach(node.get(), 10, ' '), 0);
    leaf4entry e;
    ASSERT_EQ(again.entry(243, &e), 0);
    EXPECT_EQ(e.record, 244u);
    EXPECT_EQ(e.trail, 10);
    leaf4entry direct;
    leaf4entryAt(node.get(), 243, &direct);
    EXPECT_EQ(std::tie(direct.record, direct.dup, direct.trail),
              std::tie(e.record, e.dup, e.trail));
    EXPECT_EQ(again.entry(244, &e), -930);
}

TEST(BranchCodec, HoldsFullKeysAndBigEndianLinks) {
    EXPECT_EQ(branch4capacity(10), 27);
    EXPECT_EQ(branch4capacity(240), 2);
    EXPECT_EQ(branch4capacity(1), 55);
    auto node = newNode();
    branch4view::format(node.get(), node4rootBranch);
    branch4view view;
    ASSERT_EQ(view.attach(node.get(), 240), 0);
    const std::string a = key("A", 240), b = key("B", 240);
    ASSERT_EQ(view.append(bytes(a), 0x01020304, 0x00000600), 0);
    ASSERT_EQ(view.append(bytes(b), 7, 0x00000A00), 0);
    EXPECT_EQ(view.append(bytes(b), 8, 0x00000C00), node4noRoom);
    // Record number and child follow the key, most significant byte first.
    const uint8_t expected[8] = {1, 2, 3, 4, 0, 0, 6, 0};
    EXPECT_EQ(std::memcmp(node.get() + 12 + 240, expected, 8), 0);

    branch4view again;
    ASSERT_EQ(again.attach(node.get(), 240), 0);
    EXPECT_EQ(again.count(), 2);
    EXPECT_EQ(again.record(0), 0x01020304u);
    EXPECT_EQ(again.child(1), 0xA00u);
    EXPECT_EQ(std::memcmp(again.key(1), b.data(), 240), 0);

    node[2] = 3;  // more entries than 500 bytes hold
    EXPECT_EQ(again.attach(node.get(), 240), -910);
    node[0] = node4leaf;
    EXPECT_EQ(again.attach(node.get(), 240), -310);
}

TEST(NodeHeader, RoundTripsSiblingsAndFreeLinks) {
    auto node = newNode();
    node4headerWrite(node.get(), node4header{node4leaf, 3, node4none, 0x1200});
    const uint8_t expected[12] = {2, 0, 3, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x12, 0, 0};
    EXPECT_EQ(std::memcmp(node.get(), expected, 12), 0);
    const node4header h = node4headerRead(node.get());
    EXPECT_EQ(h.left, node4none);
    EXPECT_EQ(h.right, 0x1200);
    EXPECT_EQ(node4headerCheck(h), 0);
    EXPECT_EQ(node4headerCheck(node4header{4, 0, 0, 0}), -310);

    // The right sibling patched alone lands where the whole header has it.
    const bytes4slice right = node4encodeRight(0x1200);
    ASSERT_GT(right.size, 0);
    EXPECT_EQ(std::memcmp(right.bytes, node.get() + right.offset, size_t(right.size)), 0);

    node4setFreeNext(node.get(), 4096);
    EXPECT_EQ(node4freeNext(node.get()), 4096u);
    EXPECT_EQ(node[1], 0x10);
    bytes4slice link = node4freeLinkSlice();
    std::memcpy(link.bytes, node.get() + link.offset, size_t(link.size));
    EXPECT_EQ(node4decodeFreeLink(link), 4096u);
}

}  // namespace
