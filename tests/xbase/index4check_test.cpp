#include "xbase/index4check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <sstream>

#include "index_image.h"
#include "xbase/key4.h"
#include "xbase/node4.h"

namespace {

std::vector<index4checkEntry> sortedEntries(std::vector<index4checkEntry> entries) {
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.key != b.key ? a.key < b.key : a.record < b.record;
    });
    return entries;
}

// Character keys with long shared prefixes, inner blanks, trailing pads and many repeats.
IndexImageTag characterTag(const std::string& name, int keyLength, int count, uint32_t records,
                           std::mt19937& rng) {
    IndexImageTag tag;
    tag.name = name;
    tag.keyLength = keyLength;
    tag.expression = "UPPER(" + name + ")";
    const std::string alphabet = "AAAB CDE";
    const uint32_t step = std::max(1u, records / uint32_t(count));
    const std::string common = std::string(size_t(keyLength / 2), 'P');
    for (int i = 0; i < count; i++) {
        std::string text = rng() % 2 ? common : "";
        const int extra = 1 + int(rng() % uint32_t(std::max(1, keyLength / 3)));
        for (int j = 0; j < extra; j++) text += alphabet[rng() % alphabet.size()];
        text[0] = char('A' + rng() % 3);  // never all blanks
        // One key per record, as a data file has.
        tag.entries.push_back(
            {padKey(text, keyLength), 1 + uint32_t(i) * step + uint32_t(rng() % step)});
    }
    return tag;
}

// Numeric keys: quarters from -500 to 500, many repeated, with 0 and -0.0 among them.
IndexImageTag numericTag(const std::string& name, int count, uint32_t records, std::mt19937& rng) {
    IndexImageTag tag;
    tag.name = name;
    tag.keyLength = 8;
    tag.pad = 0;
    tag.expression = "AMOUNT";
    for (int i = 0; i < count; i++) {
        double v = double(int(rng() % 4001) - 2000) / 4;
        if (i % 50 == 0) v = -0.0;
        uint8_t key[8];
        key4fromDouble(key, v);
        const uint32_t step = std::max(1u, records / uint32_t(count));
        tag.entries.push_back({std::string(reinterpret_cast<char*>(key), 8),
                               1 + uint32_t(i) * step + uint32_t(rng() % step)});
    }
    return tag;
}

std::string problemsOf(const index4checkReport& report) {
    std::string all;
    for (const std::string& p : report.problems) all += p + "\n";
    return all;
}

index4checkOptions numericPad() {
    index4checkOptions options;
    options.pads["NUM"] = 0;
    return options;
}

TEST(IndexImage, BuildsSoundMultiLevelTags) {
    std::mt19937 rng(1);
    const uint32_t records = 5000;
    const std::vector<IndexImageTag> tags = {
        characterTag("K5", 5, 3000, records, rng), characterTag("K38", 38, 3000, records, rng),
        characterTag("K240", 240, 800, records, rng), numericTag("NUM", 3000, records, rng)};
    const IndexImage image = buildIndexImage(tags, records);

    index4checkReport report;
    ASSERT_EQ(index4checkImage(image.bytes.data(), image.bytes.size(), &report, numericPad()), 0);
    EXPECT_EQ(problemsOf(report), "");
    ASSERT_EQ(report.tags.size(), tags.size());
    // The directory lists the tags by name; the report follows it.
    EXPECT_EQ(report.tags[0].name, "K240");
    EXPECT_EQ(report.tags[3].name, "NUM");
    for (const index4checkTag& t : report.tags) {
        const auto given = std::find_if(tags.begin(), tags.end(),
                                        [&](const IndexImageTag& g) { return g.name == t.name; });
        ASSERT_NE(given, tags.end());
        EXPECT_EQ(t.entries, sortedEntries(given->entries)) << t.name;
        EXPECT_GE(t.levels, 3) << t.name;
        EXPECT_EQ(t.header.expression, given->expression);
    }
    EXPECT_EQ(report.freeNodes, 0u);

    // Without being told, the checker finds the numeric tag's pad from its branches.
    index4checkReport inferred;
    ASSERT_EQ(index4checkImage(image.bytes.data(), image.bytes.size(), &inferred), 0);
    EXPECT_EQ(problemsOf(inferred), "");
    EXPECT_EQ(inferred.tags[3].pad, 0);
    EXPECT_EQ(inferred.tags[2].pad, ' ');
}

TEST(IndexImage, EmptyTableGivesTheSmallestFile) {
    const IndexImage image = buildIndexImage(nameCityTags(), 0);
    ASSERT_EQ(image.bytes.size(), 4608u);
    EXPECT_EQ(image.directoryRoot, 3072u);
    EXPECT_EQ(image.roots, (std::vector<uint32_t>{3584, 4096}));
    for (const uint32_t root : {3072u, 3584u, 4096u}) {
        const node4header h = node4headerRead(&image.bytes[root]);
        EXPECT_EQ(h.attribute, node4rootLeaf);
        EXPECT_EQ(h.left, node4none);
        EXPECT_EQ(h.right, node4none);
    }
    index4checkReport report;
    ASSERT_EQ(index4checkImage(image.bytes.data(), image.bytes.size(), &report), 0);
    EXPECT_EQ(problemsOf(report), "");
    ASSERT_EQ(report.directory.size(), 2u);
    EXPECT_EQ(report.directory[0], (index4checkEntry{"CITY      ", 2048}));
    EXPECT_EQ(report.directory[1], (index4checkEntry{"NAME      ", 1024}));
    ASSERT_EQ(report.tags.size(), 2u);
    EXPECT_TRUE(report.tags[0].entries.empty());
}

// ---- the independent reader ----

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class IndependentReader : public testing::Test {
  protected:
    TempDir dir_;
};

TEST_F(IndependentReader, WalksTheSameKeysInTheSameOrder) {
    std::mt19937 rng(2);
    const uint32_t records = 3000;
    std::vector<IndexImageTag> tags = {
        characterTag("NAME", 38, 2500, records, rng), characterTag("CODE", 5, 2500, records, rng),
        characterTag("LONG", 240, 300, records, rng), numericTag("NUM", 2500, records, rng)};
    const IndexImage image = buildIndexImage(tags, records);
    const std::string path = dir_.file("people.cdx");
    writeImage(path, image.bytes);

    index4checkReport report;
    ASSERT_EQ(index4checkFile(path.c_str(), &report, numericPad()), 0);
    ASSERT_EQ(problemsOf(report), "");

    EXPECT_EQ(lines(runIndexDump(path, "", "char")),
              (std::vector<std::string>{"CODE", "LONG", "NAME", "NUM"}));
    for (const index4checkTag& t : report.tags)
        EXPECT_EQ(indexDumpDifference(path, t, t.name == "NUM"), "");
}

TEST_F(IndependentReader, ReadsTheEmptyFile) {
    const std::string path = dir_.file("empty.cdx");
    writeImage(path, buildIndexImage(nameCityTags(), 0).bytes);
    EXPECT_EQ(lines(runIndexDump(path, "", "char")), (std::vector<std::string>{"CITY", "NAME"}));
    EXPECT_EQ(runIndexDump(path, "NAME", "char"), "");
}

// A key that shares more with its predecessor than that key stores (its trailing pads) must
// still read right in a reader that rebuilds keys from stored bytes only.
TEST_F(IndependentReader, ReadsKeysThatShareThePreviousKeysPads) {
    IndexImageTag tag;
    tag.name = "T";
    tag.keyLength = 4;
    tag.entries = {{"AB  ", 1}, {"AB X", 2}, {"AB X", 3}, {"    ", 4}, {"    ", 5}};
    const std::string path = dir_.file("pads.cdx");
    writeImage(path, buildIndexImage({tag}, 5).bytes);
    EXPECT_EQ(runIndexDump(path, "T", "char"), " 4\n 5\nAB 1\nAB X 2\nAB X 3\n");
}

// ---- damage ----

// A sound file with one tag of three levels, and the offsets a mutation needs.
struct Sample {
    IndexImage image;
    uint32_t root = 0, branch = 0, leaf = 0, nextLeaf = 0, directoryLeaf = 0, header = 1024;
    int keyLength = 10;

    Sample() {
        std::mt19937 rng(3);
        image = buildIndexImage({characterTag("TAG", keyLength, 5000, 20000, rng)}, 20000);
        root = image.roots[0];
        directoryLeaf = image.directoryRoot;
        branch = childOf(root, 0);
        leaf = childOf(branch, 0);
        nextLeaf = childOf(branch, 1);
    }
    uint32_t childOf(uint32_t node, int i) {
        branch4view view;
        EXPECT_EQ(view.attach(&image.bytes[node], keyLength), 0);
        return view.child(i);
    }
    uint8_t* at(uint32_t offset) { return &image.bytes[offset]; }
    void appendUnit(uint32_t next) {
        const size_t at = image.bytes.size();
        image.bytes.resize(at + node4size, 0);
        node4setFreeNext(&image.bytes[at], next);
    }
    uint32_t end() const { return uint32_t(image.bytes.size()); }
    void setFreeHead(uint32_t head) { node4setFreeNext(at(4), head); }
    void setHeader(uint32_t node, std::function<void(node4header&)> change) {
        node4header h = node4headerRead(at(node));
        change(h);
        node4headerWrite(at(node), h);
    }
    void setBranchChild(uint32_t node, int i, uint32_t child) {
        branch4view view;
        ASSERT_EQ(view.attach(at(node), keyLength), 0);
        ASSERT_EQ(view.set(i, view.key(i), view.record(i), child), 0);
    }
};

TEST(IndexCheck, ReportsEveryKindOfDamage) {
    {
        Sample sound;
        ASSERT_GE(sound.image.levels[0], 3);
        index4checkReport report;
        (void)index4checkImage(sound.image.bytes.data(), sound.image.bytes.size(), &report);
        ASSERT_EQ(problemsOf(report), "");
    }
    struct Case {
        const char* name;
        std::function<void(Sample&)> damage;
        const char* problem;
    };
    const Case cases[] = {
        {"branch key", [](Sample& s) { s.at(s.root + 12)[0] ^= 1; },
         "is not the last entry of child"},
        {"branch record",
         [](Sample& s) {
             branch4view v;
             ASSERT_EQ(v.attach(s.at(s.branch), 10), 0);
             ASSERT_EQ(v.set(0, v.key(0), v.record(0) + 1, v.child(0)), 0);
         },
         "is not the last entry of child"},
        {"right sibling",
         [](Sample& s) {
             s.setHeader(s.leaf, [&](node4header& h) { h.right = int32_t(s.branch); });
         },
         "has right sibling"},
        {"left sibling",
         [](Sample& s) { s.setHeader(s.nextLeaf, [](node4header& h) { h.left = -1; }); },
         "has left sibling"},
        {"root with a sibling",
         [](Sample& s) { s.setHeader(s.root, [](node4header& h) { h.right = 1024; }); },
         "level 0: node"},
        {"leaf free bytes", [](Sample& s) { s.at(s.leaf + 12)[0]++; }, "free bytes"},
        {"keys out of order", [](Sample& s) { s.at(s.leaf)[511] = 'Z'; }, "is not after"},
        {"child outside the file", [](Sample& s) { s.setBranchChild(s.root, 0, 0x7FFFFE00); },
         "is not a node of the file"},
        {"child inside the headers", [](Sample& s) { s.setBranchChild(s.root, 0, 1024); },
         "offset 1024 belongs to the header of tag TAG and to tag TAG"},
        {"child shared", [](Sample& s) { s.setBranchChild(s.branch, 1, s.leaf); },
         "reached more than once"},
        {"cycle back to the root", [](Sample& s) { s.setBranchChild(s.branch, 0, s.root); },
         "reached more than once"},
        {"non-root marked root",
         [](Sample& s) {
             s.setHeader(s.leaf, [](node4header& h) { h.attribute = node4rootLeaf; });
         },
         "but is not the root"},
        {"empty leaf",
         [](Sample& s) {
             leaf4widths w;
             (void)leaf4widthsFor(10, 20000, leaf4start::rebuilt, &w);
             const node4header h = node4headerRead(s.at(s.leaf));
             leaf4view::format(s.at(s.leaf), node4leaf, w);
             node4headerWrite(s.at(s.leaf),
                              h.left == 0 ? h : node4header{node4leaf, 0, h.left, h.right});
         },
         "is empty"},
        {"unknown attribute", [](Sample& s) { s.at(s.leaf)[0] = 7; }, "has attribute 7"},
        {"free list cycle",
         [](Sample& s) {
             const uint32_t a = s.end();
             s.appendUnit(a + node4size);
             s.appendUnit(a);
             s.setFreeHead(a);
         },
         "comes round again"},
        {"free node in a tree", [](Sample& s) { s.setFreeHead(s.leaf); },
         "belongs to tag TAG and to the free list"},
        {"free list leaving the file", [](Sample& s) { s.setFreeHead(0x10000000); },
         "free list: offset"},
        {"unit of nothing", [](Sample& s) { s.appendUnit(0); },
         "belong to no header, tree or free list"},
        {"cut short", [](Sample& s) { s.image.bytes.resize(s.image.bytes.size() - 100); },
         "is not a multiple of 512"},
        {"directory pointing outside",
         [](Sample& s) {
             leaf4view v;
             ASSERT_EQ(v.attach(s.at(s.directoryLeaf), 10, ' '), 0);
             ASSERT_EQ(v.setEntry(0, leaf4entry{512, 0, 7}), 0);
         },
         "is not a header of the file"},
        {"tag header signature", [](Sample& s) { s.at(s.header)[15] = 2; },
         "is not readable (-310)"},
        {"tag key length", [](Sample& s) { s.at(s.header)[13] = 1; }, "is not readable (-310)"},
        {"directory header", [](Sample& s) { s.at(0)[14] = 0; },
         "directory header: not a readable header"},
        {"tiny file", [](Sample& s) { s.image.bytes.resize(100); },
         "fewer than a directory header"},
    };
    for (const Case& c : cases) {
        Sample s;
        c.damage(s);
        index4checkReport report;
        ASSERT_EQ(index4checkImage(s.image.bytes.data(), s.image.bytes.size(), &report), 0);
        const std::string all = problemsOf(report);
        EXPECT_NE(all.find(c.problem), std::string::npos) << c.name << ":\n" << all;
    }
}

TEST(IndexCheck, UniqueTagsRefuseRepeatedKeys) {
    IndexImageTag tag;
    tag.name = "U";
    tag.options |= tag4optUnique;
    tag.entries = {{padKey("A", 10), 1}, {padKey("B", 10), 2}, {padKey("B", 10), 3}};
    const IndexImage image = buildIndexImage({tag}, 3);
    index4checkReport report;
    (void)index4checkImage(image.bytes.data(), image.bytes.size(), &report);
    EXPECT_NE(problemsOf(report).find("repeated in a unique tag"), std::string::npos);
}

// A leaf whose second key shares a byte of the first key's trailing pads: the keys are
// right for a reader that keeps the pads, wrong for one that rebuilds from stored bytes.
TEST(IndexCheck, ReportsDuplicateCountsReachingIntoPads) {
    IndexImageTag tag;
    tag.name = "T";
    tag.keyLength = 4;
    tag.entries = {{"AB  ", 1}, {"AB X", 2}};
    IndexImage image = buildIndexImage({tag}, 2);
    uint8_t* leaf = &image.bytes[image.roots[0]];
    leaf4view view;
    ASSERT_EQ(view.attach(leaf, 4, ' '), 0);
    leaf4entry e;
    ASSERT_EQ(view.entry(1, &e), 0);
    ASSERT_EQ(e.dup, 2);  // stored " X" below "AB"
    ASSERT_EQ(view.setEntry(1, leaf4entry{2, 3, 0}), 0);
    leaf[508] = 0;  // " X" becomes "X": one byte freed
    leaf[12]++;
    index4checkReport report;
    (void)index4checkImage(image.bytes.data(), image.bytes.size(), &report);
    ASSERT_EQ(report.problems.size(), 1u) << problemsOf(report);
    EXPECT_NE(report.problems[0].find("trailing pad bytes"), std::string::npos);
    EXPECT_EQ(report.tags[0].entries[1].key, "AB X");
}

// A tree deeper than any real one: a chain of one-entry branches.
TEST(IndexCheck, BoundsTheDepth) {
    IndexImageTag tag;
    tag.name = "DEEP";
    tag.entries = {{padKey("A", 10), 1}};
    IndexImage image = buildIndexImage({tag}, 1);
    const uint32_t leaf = image.roots[0];
    image.bytes[leaf] = node4leaf;
    uint32_t child = leaf;
    for (int level = 0; level < 50; level++) {
        const auto at = uint32_t(image.bytes.size());
        image.bytes.resize(at + node4size);
        branch4view::format(&image.bytes[at], node4branch);
        branch4view view;
        ASSERT_EQ(view.attach(&image.bytes[at], 10), 0);
        ASSERT_EQ(view.append(reinterpret_cast<const uint8_t*>(padKey("A", 10).data()), 1, child),
                  0);
        child = at;
    }
    image.bytes[child] = node4rootBranch;
    tag4header header;
    ASSERT_EQ(tag4headerDecode(&image.bytes[1024], &header), 0);
    header.root = child;
    ASSERT_EQ(tag4headerEncode(header, &image.bytes[1024]), 0);
    index4checkReport report;
    (void)index4checkImage(image.bytes.data(), image.bytes.size(), &report);
    EXPECT_NE(problemsOf(report).find("deeper than 40 levels"), std::string::npos);
}

TEST(IndexCheck, FileErrors) {
    index4checkReport report;
    EXPECT_EQ(index4checkFile("/nonexistent/x.cdx", &report), -60);
    EXPECT_EQ(index4checkFile(nullptr, &report), -935);
    EXPECT_EQ(index4checkImage(nullptr, 10, &report), -935);
    TempDir dir;
    EXPECT_EQ(index4checkFile(dir.path().c_str(), &report), -70);
}

// Random damage never crashes the checker or makes it loop; it always answers.
void damageRun(int rounds, uint32_t seed) {
    Sample sample;
    std::mt19937 rng(seed);
    const size_t size = sample.image.bytes.size();
    for (int round = 0; round < rounds; round++) {
        std::vector<uint8_t> bytes = sample.image.bytes;
        const int changes = 1 + int(rng() % 8);
        for (int c = 0; c < changes; c++) {
            // Mostly headers of nodes and tags, where damage does the most.
            size_t at = rng() % size;
            if (rng() % 2) at = (at & ~size_t(511)) + rng() % 24;
            if (rng() % 8 == 0) at = 1024 + rng() % 16;
            bytes[at] = uint8_t(rng());
        }
        if (rng() % 16 == 0) bytes.resize(rng() % size);
        index4checkReport report;
        ASSERT_EQ(index4checkImage(bytes.data(), bytes.size(), &report), 0);
        EXPECT_LE(report.problems.size(), 101u);
    }
}

TEST(IndexCheck, SurvivesRandomDamage) {
    damageRun(300, 5);
}
TEST(IndexCheck, LONG_SurvivesRandomDamage) {
    damageRun(20000, 6);
}

}  // namespace
