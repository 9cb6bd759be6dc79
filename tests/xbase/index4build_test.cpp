// Rebuilding a file from sorted keys: the same entries as key-by-key maintenance, laid out
// exactly as the format's rebuild lays them out.
#include "xbase/index4build.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "tree_file.h"
#include "xbase/key4.h"
#include "xbase/sort4.h"

namespace {

using KeySets = std::map<std::string, std::vector<TreeEntry>>;

int32_t fromSets(tag4file* tag, sort4* sort, void* context) {
    const auto& sets = *static_cast<const KeySets*>(context);
    auto it = sets.find(tag->alias);
    if (it == sets.end()) return 0;
    for (const TreeEntry& e : it->second) {
        const int32_t rc = sort4put(sort, int32_t(e.second), e.first.data(), nullptr);
        if (rc != 0) return rc;
    }
    return 0;
}

int16_t keepFirst(tag4file*, void*) {
    return tag4uniqueKeep;
}

int16_t codeInForce = 0;
int16_t currentCode(tag4file*, void*) {
    return codeInForce;
}

std::vector<IndexImageTag> sampleTags() {
    std::vector<IndexImageTag> tags(3);
    tags[0].name = "NAME";
    tags[0].keyLength = 38;
    tags[1].name = "CODE";
    tags[1].keyLength = 5;
    tags[2].name = "AMOUNT";
    tags[2].keyLength = 8;
    tags[2].pad = 0;
    return tags;
}

KeySets sampleKeys(uint32_t records, std::mt19937& rng) {
    KeySets sets;
    for (uint32_t r = 1; r <= records; r++) {
        std::string name =
            std::string(rng() % 3, 'M') + char('A' + rng() % 26) + std::to_string(rng() % 500);
        sets["NAME"].emplace_back(padKey(name, 38), r);
        sets["CODE"].emplace_back(padKey(std::string(1 + rng() % 4, char('A' + rng() % 3)), 5), r);
        uint8_t key[8];
        key4fromDouble(key, double(int(rng() % 2001) - 1000) / 4);
        sets["AMOUNT"].emplace_back(keyText(key, 8), r);
    }
    return sets;
}

std::vector<TreeEntry> sorted(std::vector<TreeEntry> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(IndexBuild, RebuildEqualsMaintenanceAndTheFormatsLayout) {
    std::mt19937 rng(11);
    const uint32_t records = 6000;
    const KeySets keys = sampleKeys(records, rng);

    // Key by key.
    TreeFile maintained(sampleTags(), records, 1, {"AMOUNT"});
    for (const auto& [name, entries] : keys)
        for (const TreeEntry& e : entries)
            ASSERT_EQ(
                tag4addKey(maintained.tag(name.c_str()), e.first.data(), int32_t(e.second), 0), 0);
    ASSERT_EQ(problemsOf(maintained.check()), "");

    // Rebuilt from a sort.
    TreeFile rebuilt(sampleTags(), records, 1, {"AMOUNT"});
    ASSERT_EQ(index4build(rebuilt.file, fromSets, nullptr, const_cast<KeySets*>(&keys)), 0);
    const index4checkReport report = rebuilt.check();
    ASSERT_EQ(problemsOf(report), "");
    for (const auto& [name, entries] : keys) {
        SCOPED_TRACE(name);
        const std::vector<TreeEntry> expected = sorted(entries);
        EXPECT_EQ(walk(maintained.tag(name.c_str())), expected);
        EXPECT_EQ(walk(rebuilt.tag(name.c_str())), expected);
        EXPECT_EQ(walk(rebuilt.tag(name.c_str()), true), expected);
        EXPECT_EQ(indexDumpDifference(rebuilt.path, *reportTag(report, name), name == "AMOUNT"),
                  "");
    }

    // Byte for byte the layout of a rebuild (tags in their file order: the names' order).
    std::vector<IndexImageTag> images = sampleTags();
    std::sort(images.begin(), images.end(),
              [](const IndexImageTag& a, const IndexImageTag& b) { return a.name < b.name; });
    for (IndexImageTag& t : images)
        for (const TreeEntry& e : keys.at(t.name)) t.entries.push_back({e.first, e.second});
    EXPECT_TRUE(
        readWhole(rebuilt.path) ==
        std::string(reinterpret_cast<const char*>(buildIndexImage(images, records).bytes.data()),
                    buildIndexImage(images, records).bytes.size()));

    // Maintenance goes on over a rebuilt file.
    tag4file* code = rebuilt.tag("CODE");
    ASSERT_EQ(tag4addKey(code, "AAAAA", int32_t(records + 1), 0), 0);
    ASSERT_EQ(tag4removeKey(code, keys.at("CODE")[0].first.data(), 1), 0);
    ASSERT_EQ(problemsOf(rebuilt.check()), "");
}

TEST(IndexBuild, UniqueCodesDuringARebuild) {
    std::vector<IndexImageTag> tags(1);
    tags[0].name = "U";
    tags[0].keyLength = 4;
    tags[0].options |= tag4optUnique;
    KeySets keys;
    keys["U"] = {{"BBBB", 3}, {"AAAA", 5}, {"BBBB", 1}, {"CCCC", 2}};
    {
        TreeFile f(tags, 5);
        ASSERT_EQ(index4build(f.file, fromSets, keepFirst, &keys), 0);
        EXPECT_EQ(walk(f.tag("U")),
                  (std::vector<TreeEntry>{{"AAAA", 5}, {"BBBB", 1}, {"CCCC", 2}}));
        EXPECT_EQ(problemsOf(f.check()), "");
    }
    struct Case {
        int16_t code;
        int32_t result;
    };
    for (const Case c : {Case{tag4uniqueRefuse, 20}, Case{tag4candidateRefuse, 20},
                         Case{tag4uniqueError, e4unique}}) {
        TreeFile f(tags, 5);
        codeInForce = c.code;
        EXPECT_EQ(index4build(f.file, fromSets, currentCode, &keys), c.result);
        error4setCode(&f.env, 0);
    }
}

TEST(IndexBuild, EmptyTagsAndManyTags) {
    std::vector<IndexImageTag> tags;
    for (int i = 0; i < 40; i++) {
        IndexImageTag t;
        t.name = "T" + std::to_string(100 + i);
        t.keyLength = 1 + i * 6;
        tags.push_back(t);
    }
    TreeFile f(tags, 0);
    KeySets none;
    ASSERT_EQ(index4build(f.file, fromSets, nullptr, &none), 0);
    const index4checkReport report = f.check();
    ASSERT_EQ(problemsOf(report), "");
    ASSERT_EQ(report.tags.size(), 40u);
    f.reopen();
    EXPECT_EQ(tag4top(f.tag("T139")), 3);
}

}  // namespace
