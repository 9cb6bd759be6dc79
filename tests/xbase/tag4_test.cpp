// Tag navigation and key maintenance on files whose tags are driven with raw keys.
#include "xbase/index/tag4.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tree_file.h"
#include "xbase/core/bytes4.h"
#include "xbase/index/tag4internal.h"
#include "xbase/values/key4.h"

namespace {

IndexImageTag charTag(const std::string& name, int keyLength = 10, uint8_t options = 0) {
    IndexImageTag t;
    t.name = name;
    t.keyLength = keyLength;
    t.options = uint8_t(tag4optCompact | tag4optCompound | options);
    return t;
}

IndexImageTag numTag(const std::string& name, bool descending = false) {
    IndexImageTag t;
    t.name = name;
    t.keyLength = 8;
    t.pad = 0;
    t.descending = descending;
    return t;
}

std::string num(double v) {
    uint8_t key[8];
    key4fromDouble(key, v);
    return keyText(key, 8);
}

void add(tag4file* tag, const std::string& key, int32_t record, int16_t code = 0) {
    ASSERT_EQ(tag4addKey(tag, key.data(), record, code), 0) << record;
}

std::string currentKey(tag4file* tag) {
    const uint8_t* key = tag4key(tag);
    return key == nullptr ? "<none>" : keyText(key, tag->keyLength);
}

TEST(TagSeek, CharacterKeysExactPartialAndPastTheEnd) {
    TreeFile f({charTag("NAME")}, 100);
    tag4file* tag = f.tag("NAME");
    int32_t record = 1;
    for (const char* name : {"JONES", "SMITH", "SMITHERS", "ADAMS", "SMITH", "BAKER"})
        add(tag, padKey(name, 10), record++);
    struct Case {
        std::string key;
        int32_t result;
        std::string at;  // key left current ("<none>": past the end)
        int32_t record;
    };
    const Case cases[] = {
        {padKey("SMITH", 10), 0, padKey("SMITH", 10), 2},  // first of equal keys
        {"SMITH", 0, padKey("SMITH", 10), 2},              // partial: first key beginning so
        {"SMITHE", 0, padKey("SMITHERS", 10), 3},
        {"SMITHA", 2, padKey("SMITHERS", 10), 3},  // after "SMITH" and its blanks
        {"SMITHZ", 2, "<none>", -1},
        {"ZZZ", 2, "<none>", -1},
        {"A", 0, padKey("ADAMS", 10), 4},
        {"", 0, padKey("ADAMS", 10), 4},
        {padKey("", 10), 2, padKey("ADAMS", 10), 4},  // all pads: no such key
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(tag4seek(tag, c.key.data(), int32_t(c.key.size())), c.result);
        if (c.at == "<none>") {
            EXPECT_EQ(tag4eof(tag), 1);
            EXPECT_EQ(tag4key(tag), nullptr);
        } else {
            EXPECT_EQ(currentKey(tag), c.at);
        }
        EXPECT_EQ(tag4recordNumber(tag), c.record);
    }
}

TEST(TagSeek, NumericAndDescendingTags) {
    TreeFile f({numTag("UP"), numTag("DOWN", true)}, 100, 1, {"UP", "DOWN"});
    tag4file* up = f.tag("UP");
    tag4file* down = f.tag("DOWN");
    int32_t record = 1;
    for (double v : {1.0, 2.0, 3.0}) {
        add(up, num(v), record);
        add(down, num(v), record++);
    }
    struct Case {
        double value;
        int32_t upResult, upRecord, downResult, downRecord;
    };
    const Case cases[] = {
        {2.0, 0, 2, 0, 2},  {2.5, 2, 3, 2, 2},   {0.5, 2, 1, 3, -1},
        {3.5, 2, -1, 2, 3}, {-0.0, 2, 1, 3, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string key = num(c.value);
        EXPECT_EQ(tag4seek(up, key.data(), 8), c.upResult);
        EXPECT_EQ(tag4recordNumber(up), c.upRecord);
        EXPECT_EQ(tag4seek(down, key.data(), 8), c.downResult);
        EXPECT_EQ(tag4recordNumber(down), c.downRecord);
    }
    // A numeric tag takes whole keys only; a longer length is cut.
    EXPECT_EQ(tag4seek(up, num(1).data(), 4), e4parm);
    error4setCode(&f.env, 0);
    EXPECT_EQ(tag4seek(up, (num(1) + "xx").data(), 10), 0);
    // -0.0 and 0.0 are one key.
    add(up, num(-0.0), 4);
    EXPECT_EQ(tag4seek(up, num(0.0).data(), 8), 0);
    EXPECT_EQ(tag4recordNumber(up), 4);
    // The descending tag reads 3, 2, 1.
    EXPECT_EQ(tag4top(down), 0);
    EXPECT_EQ(tag4recordNumber(down), 3);
    EXPECT_EQ(tag4skipInOrder(down, 1), 1);
    EXPECT_EQ(tag4recordNumber(down), 2);
    EXPECT_EQ(tag4skipInOrder(down, 5), 1);
    EXPECT_EQ(tag4recordNumber(down), 1);
    EXPECT_EQ(tag4bottom(down), 0);
    EXPECT_EQ(tag4recordNumber(down), 1);
}

TEST(TagSeek, DescendingSeekWithKeysOfAllOnes) {
    TreeFile f({charTag("D", 2)}, 10);
    tag4file* tag = f.tag("D");
    tag->descending = 1;
    add(tag, "A\xFF", 1);
    add(tag, "B\x01", 2);
    add(tag, "\xFF\xFF", 3);
    EXPECT_EQ(tag4seek(tag, "A\xFF", 2), 0);
    EXPECT_EQ(tag4recordNumber(tag), 1);
    EXPECT_EQ(tag4seek(tag, "A", 1), 0);  // raised to "B", one back
    EXPECT_EQ(tag4recordNumber(tag), 1);
    EXPECT_EQ(tag4seek(tag, "\xFF\xFF", 2), 0);
    EXPECT_EQ(tag4recordNumber(tag), 3);
    EXPECT_EQ(tag4seek(tag, "\xFF", 1), 0);
    EXPECT_EQ(tag4recordNumber(tag), 3);
}

TEST(TagWalk, SkipPositionAndEnds) {
    TreeFile f({charTag("K", 10)}, 2000);
    tag4file* tag = f.tag("K");
    EXPECT_EQ(tag4recordNumber(tag), -2);  // no position yet
    EXPECT_EQ(tag4skip(tag, 1), e4index);
    error4setCode(&f.env, 0);
    EXPECT_EQ(tag4top(tag), 3);
    EXPECT_EQ(tag4recordNumber(tag), 0);  // an empty tag
    for (int32_t r = 1; r <= 1000; r++) add(tag, padKey("K" + std::to_string(100000 + r), 10), r);
    ASSERT_EQ(tag4top(tag), 0);
    EXPECT_EQ(tag4position(tag), 0.0);
    EXPECT_EQ(tag4skip(tag, -1), 0);
    EXPECT_EQ(tag4recordNumber(tag), 1);
    EXPECT_EQ(tag4skip(tag, 998), 998);
    EXPECT_EQ(tag4recordNumber(tag), 999);
    EXPECT_EQ(tag4skip(tag, 5), 1);  // from the second-last entry
    EXPECT_EQ(tag4recordNumber(tag), 1000);
    EXPECT_EQ(tag4position(tag), 1.0);
    EXPECT_EQ(tag4skip(tag, -2000), -999);
    EXPECT_EQ(tag4recordNumber(tag), 1);
    EXPECT_EQ(tag4goEof(tag), 0);
    EXPECT_EQ(tag4eof(tag), 1);
    EXPECT_EQ(tag4recordNumber(tag), -1);
    EXPECT_EQ(tag4skip(tag, -1), -1);  // from past the end, the last entry is one step
    EXPECT_EQ(tag4recordNumber(tag), 1000);
    // Fractions follow the tree's shape, so they are near the entry's rank, not on it.
    int32_t previous = 0;
    for (double fraction : {0.0, 0.25, 0.5, 0.9, 1.0}) {
        ASSERT_EQ(tag4setPosition(tag, fraction), 0);
        const int32_t record = tag4recordNumber(tag);
        EXPECT_GT(record, previous);
        EXPECT_NEAR(record, 1 + fraction * 999, 60) << fraction;
        EXPECT_NEAR(tag4position(tag), fraction, 0.02) << fraction;
        previous = record;
    }
    EXPECT_EQ(tag4setPosition(tag, 1.5), e4parm);
    error4setCode(&f.env, 0);
}

// Keys read step by step, through whole leaves and across them, and again after a change in
// place of the leaf stood on: each is the key stored at that place now.
TEST(TagWalk, KeysAtEachStepFollowTheLeaf) {
    TreeFile f({charTag("K", 10)}, 2000);
    tag4file* tag = f.tag("K");
    for (int32_t r = 1; r <= 600; r++)
        add(tag, padKey("K" + std::to_string(100000 + 3 * r), 10), r);
    ASSERT_EQ(tag4seek(tag, "K100150", 7), 0);
    for (int32_t r = 50; r <= 600; r++) {
        ASSERT_EQ(currentKey(tag), padKey("K" + std::to_string(100000 + 3 * r), 10)) << r;
        if (r < 600) {
            ASSERT_EQ(tag4skip(tag, 1), 1);
        }
    }
    for (int32_t r = 600; r > 590; r--) {
        ASSERT_EQ(currentKey(tag), padKey("K" + std::to_string(100000 + 3 * r), 10)) << r;
        ASSERT_EQ(tag4skip(tag, -1), -1);
    }
    // Same place, other bytes: the leaf changed under a key read from it before.
    ASSERT_EQ(tag4seek(tag, "K100006", 7), 0);
    EXPECT_EQ(currentKey(tag), padKey("K100006", 10));
    add(tag, padKey("K100005", 10), 1001);
    ASSERT_EQ(tag4seek(tag, "K100005", 7), 0);
    EXPECT_EQ(currentKey(tag), padKey("K100005", 10));
    ASSERT_EQ(tag4skip(tag, 1), 1);
    EXPECT_EQ(currentKey(tag), padKey("K100006", 10));
    ASSERT_EQ(tag4removeKey(tag, padKey("K100009", 10).data(), 3), 0);
    ASSERT_EQ(tag4seek(tag, "K100006", 7), 0);
    ASSERT_EQ(tag4skip(tag, 1), 1);
    EXPECT_EQ(currentKey(tag), padKey("K100012", 10));
}

TEST(TagSeek, KeyAndRecordModes) {
    TreeFile f({charTag("K", 4), charTag("U", 4, tag4optUnique)}, 100);
    tag4file* tag = f.tag("K");
    for (int32_t r : {5, 9, 12}) add(tag, "SAME", r);
    add(tag, "ZZZZ", 3);
    struct Case {
        const char* key;
        int32_t record, mode, result, at;
    };
    const Case cases[] = {
        {"SAME", 9, 0, 0, 9}, {"SAME", 9, 1, 1, 9}, {"SAME", 7, 0, 1, 9},  {"SAME", 13, 0, 1, 3},
        {"SAMF", 1, 0, 2, 3}, {"AAAA", 1, 0, 2, 5}, {"ZZZZ", 4, 0, 1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + std::to_string(c.record));
        EXPECT_EQ(tag4seekKeyRecord(tag, c.key, c.record, c.mode), c.result);
        EXPECT_EQ(tag4recordNumber(tag), c.at);
    }
    // A unique tag holding the key for another record: 1.
    tag4file* unique = f.tag("U");
    add(unique, "ONLY", 4);
    EXPECT_EQ(tag4seekKeyRecord(unique, "ONLY", 8, 0), 1);
}

// Refused adds: the code decides, and the file stays byte for byte as it was.
TEST(TagMaintenance, UniqueAndCandidateCodes) {
    struct Case {
        uint8_t options;
        int16_t code;
        int32_t result;  // of adding an existing key for another record
    };
    const Case cases[] = {
        {tag4optUnique, tag4uniqueKeep, 25},
        {tag4optUnique, tag4uniqueRefuse, 20},
        {tag4optUnique, tag4uniqueError, e4unique},
        {tag4optCandidate, tag4candidateRefuse, 20},
        {tag4optCandidate, tag4candidateError, e4unique},
        {tag4optUnique, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        TreeFile f({charTag("U", 10, c.options)}, 100);
        tag4file* tag = f.tag("U");
        for (int32_t r = 1; r <= 300; r++) add(tag, padKey("KEY" + std::to_string(r), 10), r);
        ASSERT_EQ(problemsOf(f.check()), "");
        const std::string before = readWhole(f.path);
        EXPECT_EQ(tag4addKey(tag, padKey("KEY77", 10).data(), 400, c.code), c.result);
        if (c.result < 0) {
            EXPECT_EQ(f.env.errorCode, e4unique);
            error4setCode(&f.env, 0);
        }
        ASSERT_EQ(index4update(f.file), 0);
        if (c.result != 0) {
            EXPECT_EQ(readWhole(f.path), before);
        }
    }
}

TEST(TagMaintenance, EmptiedTagReusesItsNodes) {
    TreeFile f({charTag("K", 38)}, 5000);
    tag4file* tag = f.tag("K");
    auto fill = [&] {
        for (int32_t r = 1; r <= 3000; r++)
            add(tag, padKey("KEY" + std::to_string((r * 7919) % 3001), 38), r);
    };
    fill();
    ASSERT_EQ(problemsOf(f.check()), "");
    const size_t grown = readWhole(f.path).size();
    for (int32_t r = 1; r <= 3000; r++) {
        const std::string key = padKey("KEY" + std::to_string((r * 7919) % 3001), 38);
        ASSERT_EQ(tag4removeKey(tag, key.data(), r), 0) << r;
    }
    const index4checkReport empty = f.check();
    ASSERT_EQ(problemsOf(empty), "");
    EXPECT_GT(empty.freeNodes, 20u);
    ASSERT_EQ(tag4top(tag), 3);
    EXPECT_EQ(node4headerRead(tag->tree->path[0]->data).attribute, node4rootLeaf);
    EXPECT_EQ(tag4recordNumber(tag), 0);
    fill();
    ASSERT_EQ(problemsOf(f.check()), "");
    EXPECT_EQ(readWhole(f.path).size(), grown);
    // Removing what is not there is 5 and changes nothing.
    EXPECT_EQ(tag4removeKey(tag, padKey("NONE", 38).data(), 1), r4entry);
    EXPECT_EQ(tag4removeKey(tag, padKey("KEY1", 38).data(), 4999), r4entry);
}

// A split root keeps its offset in a shared file (others hold it), and moves in an
// exclusive one.
TEST(TagMaintenance, RootSplitKeepsTheRootOffsetWhenShared) {
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        TreeFile f({charTag("K", 10)}, 1000, mode);
        ASSERT_EQ(index4lock(f.file, 1), 0);
        tag4file* tag = f.tag("K");
        const uint32_t root = f.check().tags[0].header.root;
        for (int32_t r = 1; r <= 200; r++) add(tag, padKey("A" + std::to_string(1000 + r), 10), r);
        const index4checkReport report = f.check();
        ASSERT_EQ(problemsOf(report), "");
        EXPECT_EQ(report.tags[0].levels, 2);
        EXPECT_EQ(report.tags[0].header.root == root, mode == 0);
        ASSERT_EQ(index4unlock(f.file, 1), 0);
    }
}

// Forgetting a tag's nodes writes them first; when that fails, the root offset a split
// moved stays with them, so that the next write-back still records it.
TEST(TagMaintenance, AMovedRootThatFailedToBeWrittenIsKept) {
    TreeFile f({charTag("K", 10)}, 1000);
    tag4file* tag = f.tag("K");
    for (int32_t r = 1; r <= 200; r++) add(tag, padKey("A" + std::to_string(1000 + r), 10), r);
    const uint32_t moved = tag4root(tag);
    file4failWrite(file4kindIndex, 1);
    EXPECT_EQ(tag4forget(tag), e4write);
    file4failWrite(0, 0);
    error4setCode(&f.env, 0);
    EXPECT_EQ(tag4root(tag), moved);
    const index4checkReport report = f.check();
    ASSERT_EQ(problemsOf(report), "");
    EXPECT_EQ(report.tags[0].header.root, moved);
    EXPECT_EQ(tag4forget(tag), 0);
    EXPECT_EQ(tag4root(tag), 0u);  // read from the header at the next descent
    ASSERT_EQ(tag4top(tag), 0);
    EXPECT_EQ(tag4root(tag), moved);
}

// Leaf widths: a leaf started empty leaves room for record numbers to grow, a larger one
// widens the leaf in place.
TEST(TagMaintenance, RecordNumbersWidenLeaves) {
    TreeFile f({charTag("K", 40)}, 1000);
    tag4file* tag = f.tag("K");
    add(tag, padKey("A", 40), 1);
    ASSERT_EQ(tag4top(tag), 0);
    leaf4view leaf;
    ASSERT_EQ(leaf.attach(tag->tree->path[0]->data, 40, ' '), 0);
    EXPECT_EQ(leaf.widths().recordBits, 20);
    EXPECT_EQ(leaf.widths().entryBytes, 4);
    add(tag, padKey("B", 40), 70000000);
    ASSERT_EQ(tag4top(tag), 0);
    ASSERT_EQ(leaf.attach(tag->tree->path[0]->data, 40, ' '), 0);
    EXPECT_EQ(leaf.widths().recordBits, 28);
    EXPECT_EQ(walk(tag),
              (std::vector<TreeEntry>{{padKey("A", 40), 1}, {padKey("B", 40), 70000000}}));
}

// Keys sharing bytes with the previous key's trailing pads are stored so that a reader
// rebuilding keys from stored bytes only reads them right.
TEST(TagMaintenance, WrittenLeavesReadTheSameInAnIndependentReader) {
    TreeFile f({charTag("T", 4)}, 10);
    tag4file* tag = f.tag("T");
    add(tag, "AB X", 2);
    add(tag, "AB  ", 1);  // inserted before: its successor is encoded again
    add(tag, "    ", 4);
    add(tag, "AB X", 3);
    add(tag, "    ", 5);
    ASSERT_EQ(tag4removeKey(tag, "AB  ", 1), 0);
    add(tag, "AB  ", 1);
    const index4checkReport report = f.check();
    ASSERT_EQ(problemsOf(report), "");
    EXPECT_EQ(runIndexDump(f.path, "T", "char"), " 4\n 5\nAB 1\nAB X 2\nAB X 3\n");
}

// Keys added in key order (appends) fill the nodes they pass: the tag ends up with
// about half the nodes of the same keys added in reverse order, which split every node
// in halves, and the tree holds the same entries.
TEST(TagMaintenance, KeysAddedInOrderLeaveFullNodes) {
    const int32_t n = 4000;
    int32_t nodes[2] = {};
    std::vector<TreeEntry> entries[2];
    for (int reverse : {0, 1}) {
        SCOPED_TRACE(reverse);
        TreeFile f({charTag("K", 12)}, uint32_t(n));
        tag4file* tag = f.tag("K");
        for (int32_t i = 1; i <= n; i++) {
            const int32_t r = reverse ? n + 1 - i : i;
            add(tag, padKey("K" + std::to_string(100000 + r), 12), r);
        }
        const index4checkReport report = f.check();
        ASSERT_EQ(problemsOf(report), "");
        EXPECT_GE(report.tags[0].levels, 3);
        nodes[reverse] = f.file->fileLength / node4size;
        entries[reverse] = walk(tag);
    }
    EXPECT_EQ(entries[0], entries[1]);
    EXPECT_EQ(entries[0].size(), size_t(n));
    EXPECT_LT(nodes[0] * 3, nodes[1] * 2) << nodes[0] << " against " << nodes[1];
}

// A probe gives the record a seek of the same key stands on, through nodes the tag holds and
// nodes it reads afresh, and leaves the tag where it stood; what it cannot answer is 2.
TEST(TagProbe, FindsWhatTheSeekFinds) {
    const int32_t n = 4000;
    TreeFile f({charTag("K", 12)}, uint32_t(n));
    tag4file* tag = f.tag("K");
    for (int32_t r = 1; r <= n; r++) add(tag, padKey("K" + std::to_string(100000 + 2 * r), 12), r);
    ASSERT_EQ(f.check().tags[0].levels >= 3, true);
    ASSERT_EQ(tag4releaseNodes(tag), 0);
    for (bool held : {false, true}) {
        SCOPED_TRACE(held);
        for (int32_t r = 1; r <= n; r += 97) {
            const std::string key = padKey("K" + std::to_string(100000 + 2 * r), 12);
            int32_t record = 0;
            if (held) {
                ASSERT_EQ(tag4seek(tag, key.data(), 12), 0);
            }
            ASSERT_EQ(tag4probe(tag, key.data(), 12, &record), 0) << key;
            EXPECT_EQ(record, r) << key;
            if (!held) {
                ASSERT_EQ(tag4releaseNodes(tag), 0);
            }
        }
    }
    ASSERT_EQ(tag4seek(tag, padKey("K100010", 12).data(), 12), 0);
    const char* absent[] = {"K100011", "K9", "A", "K1000000"};
    for (const char* a : absent) {
        int32_t record = -5;
        EXPECT_EQ(tag4probe(tag, padKey(a, 12).data(), 12, &record), 2) << a;
        EXPECT_EQ(record, -5) << a;
    }
    int32_t record = 0;
    EXPECT_EQ(tag4probe(tag, "K10001", 6, &record), 0);  // a key beginning so
    EXPECT_EQ(record, 5);
    EXPECT_EQ(tag4recordNumber(tag), 5);  // where the seek left it
    EXPECT_EQ(currentKey(tag), padKey("K100010", 12));
    TreeFile g({numTag("D", true)}, 10);
    tag4file* descending = g.tag("D");
    add(descending, num(1.5), 1);
    EXPECT_EQ(tag4probe(descending, num(1.5).data(), 8, &record), 2);
}

TEST(TagMaintenance, ChangesNeedAWritableFileAndGoodArguments) {
    TreeFile f({charTag("K", 10)}, 10);
    tag4file* tag = f.tag("K");
    EXPECT_EQ(tag4addKey(tag, padKey("A", 10).data(), 0, 0), e4parm);
    error4setCode(&f.env, 0);
    EXPECT_EQ(tag4addKey(tag, nullptr, 1, 0), e4parmNull);
    EXPECT_EQ(tag4addKey(tag, padKey("A", 10).data(), 1, 0), e4codeBase);  // pending error
    error4setCode(&f.env, 0);
    EXPECT_EQ(tag4seek(nullptr, "A", 1), e4parmNull);
}

TEST(FreeList, PushPopAndRefusals) {
    TreeFile f({charTag("K", 10)}, 10);
    index4file* file = f.file;
    EXPECT_EQ(file->freeHead, 0u);
    EXPECT_EQ(index4extend(file), e4index);  // no change started
    error4setCode(&f.env, 0);
    index4versionAdvance(file);
    const int32_t a = index4extend(file);
    const int32_t b = index4extend(file);
    EXPECT_EQ(b, a + 512);
    ASSERT_EQ(index4freeNode(file, b), 0);
    ASSERT_EQ(index4freeNode(file, a), 0);
    EXPECT_EQ(file->freeHead, uint32_t(a));
    const std::string bytes = readWhole(f.path);
    ASSERT_GE(bytes.size(), size_t(b + 512));
    EXPECT_EQ(bytes4get32le(reinterpret_cast<const uint8_t*>(bytes.data()) + a), uint32_t(b));
    EXPECT_EQ(index4extend(file), a);
    EXPECT_EQ(index4extend(file), b);
    EXPECT_EQ(index4extend(file), b + 512);
    EXPECT_EQ(index4freeNode(file, -512), e4parm);
    error4setCode(&f.env, 0);
    // A free list that leads into the tree is refused, not followed.
    file->freeHead = tag4root(f.tag("K"));
    EXPECT_EQ(index4extend(file), e4index);
    error4setCode(&f.env, 0);
    file->freeHead = 0;
}

}  // namespace
