// Index files of tables: creating, opening, sharing, closing and rebuilding, with keys
// computed from records by the tags' expressions.
#include "xbase/table/index4.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <random>

#include "index_image.h"
#include "table_helpers.h"
#include "temp_dir.h"
#include "tree_file.h"
#include "xbase/core/util4.h"
#include "xbase/table/env4release.h"
#include "xbase/table/lock4.h"
#include "xbase/values/key4.h"

namespace {

class IndexTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(env4init(&env_, env4version), 0);
        env_.lockAttempts = 1;
    }
    void TearDown() override { (void)env4release(&env_); }

    // A table with LAST (C 20), CITY (C 15) and AMOUNT (N 10.2), opened exclusive.
    table4* makeTable(const char* name = "people") {
        static const field4def fields[] = {{"LAST", 'C', 20, 0, 0},
                                           {"CITY", 'C', 15, 0, 0},
                                           {"AMOUNT", 'N', 10, 2, 0},
                                           {nullptr, 0, 0, 0, 0}};
        env_.accessMode = 1;
        return table4create(&env_, dir_.file(name).c_str(), fields, nullptr);
    }

    // A table of LAST (C 20) with the tag NAME on it, opened shared.
    table4* makeSharedNameTable(const char* name) {
        static const field4def fields[] = {{"LAST", 'C', 20, 0, 0}, {nullptr, 0, 0, 0, 0}};
        static const tag4def tags[] = {{"NAME", "LAST", nullptr, 0, 0},
                                       {nullptr, nullptr, nullptr, 0, 0}};
        env_.accessMode = 0;
        return table4create(&env_, dir_.file(name).c_str(), fields, tags);
    }

    void append(table4* t, const std::string& last, const std::string& city, double amount) {
        std::string record = blankRecord(t);
        putField(t, record, "LAST", last);
        putField(t, record, "CITY", city);
        char text[11];
        (void)c4dtoa(amount, text, 10, 2);
        putField(t, record, "AMOUNT", std::string(text, 10));
        ASSERT_EQ(appendRaw(t, record), 0);
    }

    env4 env_{};
    TempDir dir_;
};

const tag4def kNameCity[] = {{"NAME", "UPPER(LAST)", nullptr, 0, 0},
                             {"CITY", "CITY", nullptr, 0, 0},
                             {nullptr, nullptr, nullptr, 0, 0}};

TEST_F(IndexTest, EmptyTableGivesTheFormatsSmallestFileByteForByte) {
    table4* t = makeTable();
    ASSERT_NE(t, nullptr);
    index4* index = index4create(t, nullptr, kNameCity);
    ASSERT_NE(index, nullptr) << env_.errorCode;
    const std::string path = index->indexFile->file.name;
    ASSERT_EQ(table4close(t), 0);

    const IndexImage expected = buildIndexImage(nameCityTags(), 0);
    const std::string bytes = readWhole(path);
    ASSERT_EQ(bytes.size(), 4608u);
    EXPECT_TRUE(bytes == std::string(expected.bytes.begin(), expected.bytes.end()));
    EXPECT_EQ(expected.directoryRoot, 3072u);
    EXPECT_EQ(expected.roots, (std::vector<uint32_t>{3584, 4096}));

    // The production flag brings the index back with its table, tags in name order.
    t = table4open(&env_, dir_.file("people").c_str());
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->indexes.nLink, 1);
    auto* opened = static_cast<index4*>(list4first(&t->indexes));
    EXPECT_EQ(index4isProduction(opened->indexFile), 1);
    std::vector<std::string> names;
    for (auto* tf = static_cast<tag4file*>(list4first(&opened->indexFile->tags)); tf != nullptr;
         tf = static_cast<tag4file*>(list4next(&opened->indexFile->tags, tf)))
        names.push_back(tf->alias);
    EXPECT_EQ(names, (std::vector<std::string>{"CITY", "NAME"}));
    EXPECT_EQ(table4close(t), 0);
    EXPECT_EQ(runIndexDump(path, "", "char"), "CITY\nNAME\n");
}

TEST_F(IndexTest, RebuildEqualsMaintenanceAndReadsInIndexDump) {
    table4* t = makeTable();
    ASSERT_NE(t, nullptr);
    std::mt19937 rng(3);
    const char* cities[] = {"Oslo", "Lima", "Rome", "Bern", "Linz"};
    const int count = 3000;
    for (int i = 0; i < count; i++)
        append(t, "Name" + std::to_string(rng() % 400), cities[rng() % 5],
               double(int(rng() % 2000) - 1000) / 4);
    static const tag4def tags[] = {{"NAME", "UPPER(LAST)", nullptr, 0, 0},
                                   {"AMOUNT", "AMOUNT", nullptr, 0, 0},
                                   {"LINZ", "LAST", "CITY = 'Linz'", 0, 0},
                                   {"CITYDOWN", "CITY", nullptr, 0, 10},
                                   {nullptr, nullptr, nullptr, 0, 0}};
    index4* built = index4create(t, dir_.file("built").c_str(), tags);
    ASSERT_NE(built, nullptr) << env_.errorCode;

    // The same tags, kept key by key as the records are added.
    static const tag4def empty[] = {{"NAME", "UPPER(LAST)", nullptr, 0, 0},
                                    {"AMOUNT", "AMOUNT", nullptr, 0, 0},
                                    {"LINZ", "LAST", "CITY = 'Linz'", 0, 0},
                                    {"CITYDOWN", "CITY", nullptr, 0, 10},
                                    {nullptr, nullptr, nullptr, 0, 0}};
    table4* scratch = table4create(&env_, dir_.file("scratch").c_str(),
                                   std::vector<field4def>{{"LAST", 'C', 20, 0, 0},
                                                          {"CITY", 'C', 15, 0, 0},
                                                          {"AMOUNT", 'N', 10, 2, 0},
                                                          {nullptr, 0, 0, 0, 0}}
                                       .data(),
                                   nullptr);
    ASSERT_NE(scratch, nullptr);
    index4* kept = index4create(scratch, dir_.file("kept").c_str(), empty);
    ASSERT_NE(kept, nullptr) << env_.errorCode;
    ASSERT_EQ(table4lockAll(scratch), 0);
    for (int32_t r = 1; r <= count; r++) {
        ASSERT_EQ(
            file4read(&t->dataFile->file, t->dataFile->headerLen + (r - 1) * t->dataFile->recordLen,
                      scratch->record, t->dataFile->recordLen),
            t->dataFile->recordLen);
        for (auto* tag = static_cast<tag4*>(list4first(&kept->tags)); tag != nullptr;
             tag = static_cast<tag4*>(list4next(&kept->tags, tag)))
            ASSERT_EQ(tag4addRecord(tag, r), 0) << tag->tagFile->alias << " " << r;
    }
    ASSERT_EQ(index4flush(kept->indexFile), 0);
    ASSERT_EQ(index4flush(built->indexFile), 0);

    index4checkOptions options;
    options.pads["AMOUNT"] = 0;
    for (index4* index : {built, kept}) {
        index4checkReport report;
        ASSERT_EQ(index4checkFile(index->indexFile->file.name, &report, options), 0);
        ASSERT_EQ(problemsOf(report), "") << index->indexFile->file.name;
        for (const index4checkTag& tag : report.tags)
            EXPECT_EQ(indexDumpDifference(index->indexFile->file.name, tag, tag.name == "AMOUNT"),
                      "");
    }
    for (const char* name : {"NAME", "AMOUNT", "LINZ", "CITYDOWN"}) {
        SCOPED_TRACE(name);
        const std::vector<TreeEntry> a = walk(index4fileTag(built->indexFile, name));
        EXPECT_EQ(a, walk(index4fileTag(kept->indexFile, name)));
        EXPECT_GT(a.size(), std::string(name) == "LINZ" ? 300u : size_t(count - 1));
    }
    // The descending tag reads backwards.
    tag4file* down = index4fileTag(built->indexFile, "CITYDOWN");
    ASSERT_EQ(tag4top(down), 0);
    EXPECT_EQ(keyText(tag4key(down), 15), padKey("Rome", 15));
    ASSERT_EQ(table4close(scratch), 0);
    ASSERT_EQ(table4close(t), 0);
}

TEST_F(IndexTest, UniqueCodesAtCreation) {
    table4* t = makeTable();
    ASSERT_NE(t, nullptr);
    append(t, "Same", "A", 1);
    append(t, "Other", "B", 2);
    append(t, "Same", "C", 3);
    {
        static const tag4def refuse[] = {{"U", "LAST", nullptr, 20, 0},
                                         {nullptr, nullptr, nullptr, 0, 0}};
        EXPECT_EQ(index4create(t, dir_.file("refused").c_str(), refuse), nullptr);
        EXPECT_EQ(env_.errorCode, 20);
        EXPECT_EQ(t->indexes.nLink, 0);
        EXPECT_EQ(readWhole(dir_.file("refused.cdx")), "");  // no half-built file is left
        error4setCode(&env_, 0);
    }
    static const tag4def keep[] = {{"U", "LAST", nullptr, 25, 0},
                                   {nullptr, nullptr, nullptr, 0, 0}};
    index4* index = index4create(t, dir_.file("kept").c_str(), keep);
    ASSERT_NE(index, nullptr) << env_.errorCode;
    EXPECT_EQ(walk(index4fileTag(index->indexFile, "U")),
              (std::vector<TreeEntry>{{padKey("Other", 20), 2}, {padKey("Same", 20), 1}}));
    // Adding the key again through the handle keeps the first.
    tag4* tag = index4tag(index, "U");
    EXPECT_EQ(tag4uniqueCode(tag), 25);
    ASSERT_EQ(table4lockAll(t), 0);
    std::string record = blankRecord(t);
    putField(t, record, "LAST", "Same");
    std::memcpy(t->record, record.data(), record.size());
    EXPECT_EQ(tag4addRecord(tag, 9), 25);
    EXPECT_EQ(table4close(t), 0);
}

TEST_F(IndexTest, BadDefinitionsAreRefusedBeforeAnythingIsMade) {
    table4* t = makeTable();
    ASSERT_NE(t, nullptr);
    struct Case {
        tag4def def;
        int32_t code;
    };
    const Case cases[] = {
        {{"D", "LAST", nullptr, 0, 1}, e4tagInfo},   // descending must be 0 or 10
        {{"U", "LAST", nullptr, 7, 0}, e4tagInfo},   // no such duplicate code
        {{"E", nullptr, nullptr, 0, 0}, e4tagInfo},  // no expression
        {{"F", "NOSUCH", nullptr, 0, 0}, -1},        // the parser's error
        {{"G", "LAST", "AMOUNT", 0, 0}, e4tagInfo},  // a filter that is not logical
        {{"H", "LAST+LAST+LAST+LAST+LAST+LAST+LAST+LAST+LAST+LAST+LAST+LAST+LAST", nullptr, 0, 0},
         e4tagInfo},  // a key of 260 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.def.name);
        const tag4def defs[] = {c.def, {nullptr, nullptr, nullptr, 0, 0}};
        EXPECT_EQ(index4create(t, dir_.file("bad").c_str(), defs), nullptr);
        if (c.code != -1) {
            EXPECT_EQ(env_.errorCode, c.code);
        }
        EXPECT_LT(env_.errorCode, 0);
        error4setCode(&env_, 0);
        EXPECT_EQ(readWhole(dir_.file("bad.cdx")), "");
    }
    // Names: one limit for create and open.
    const std::string longName = dir_.file(std::string(index4nameMax + 1, 'x'));
    EXPECT_EQ(index4create(t, longName.c_str(), kNameCity), nullptr);
    EXPECT_EQ(env_.errorCode, e4name);
    error4setCode(&env_, 0);
    EXPECT_EQ(index4open(t, longName.c_str()), nullptr);
    EXPECT_EQ(env_.errorCode, e4name);
    error4setCode(&env_, 0);
    EXPECT_EQ(table4close(t), 0);
}

// A nullable key of 240 characters would need 241 bytes: refused when the tag is made.
TEST_F(IndexTest, NullableKeyTooLongIsRefusedAtCreation) {
    env_.compatibility = 30;
    static const field4def fields[] = {{"TEXT", 'C', 240, 0, field4nullable},
                                       {"SHORT", 'C', 10, 0, field4nullable},
                                       {nullptr, 0, 0, 0, 0}};
    env_.accessMode = 1;
    table4* t = table4create(&env_, dir_.file("nulls").c_str(), fields, nullptr);
    ASSERT_NE(t, nullptr);
    static const tag4def tooLong[] = {{"TEXT", "TEXT", nullptr, 0, 0},
                                      {nullptr, nullptr, nullptr, 0, 0}};
    EXPECT_EQ(index4create(t, dir_.file("long").c_str(), tooLong), nullptr);
    EXPECT_EQ(env_.errorCode, e4tagInfo);
    error4setCode(&env_, 0);
    // A candidate tag has no null prefix: 240 bytes fit, and a null key is refused.
    static const tag4def candidate[] = {{"TEXT", "TEXT", nullptr, 15, 0},
                                        {"SHORT", "SHORT", nullptr, 0, 0},
                                        {nullptr, nullptr, nullptr, 0, 0}};
    index4* index = index4create(t, dir_.file("cand").c_str(), candidate);
    ASSERT_NE(index, nullptr) << env_.errorCode;
    EXPECT_EQ(index4fileTag(index->indexFile, "TEXT")->keyLength, 240);
    EXPECT_EQ(index4fileTag(index->indexFile, "SHORT")->keyLength, 11);
    ASSERT_EQ(table4lockAll(t), 0);
    std::string record = blankRecord(t);
    putNull(t, record, "TEXT");
    std::memcpy(t->record, record.data(), record.size());
    EXPECT_EQ(tag4addRecord(index4tag(index, "TEXT"), 1), 20);
    EXPECT_EQ(tag4addRecord(index4tag(index, "SHORT"), 1), 0);
    EXPECT_EQ(table4close(t), 0);
}

// The table's locks cover the index files on its list: a file the list refuses (here a
// list made to look full) would be written without them, so the open fails instead and
// leaves nothing behind.
TEST_F(IndexTest, AnIndexFileTheTableCannotListIsNotOpened) {
    table4* t = makeTable();
    ASSERT_NE(t, nullptr);
    const std::string path = dir_.file("extra");
    index4* index = index4create(t, path.c_str(), kNameCity);
    ASSERT_NE(index, nullptr);
    ASSERT_EQ(index4close(index), 0);

    list4& files = t->dataFile->indexFiles;
    ASSERT_EQ(files.nLink, 0);
    files.nLink = UINT16_MAX;
    EXPECT_EQ(index4open(t, path.c_str()), nullptr);
    files.nLink = 0;
    EXPECT_EQ(error4setCode(&env_, 0), e4info);
    EXPECT_EQ(t->indexes.nLink, 0);

    index = index4open(t, path.c_str());
    ASSERT_NE(index, nullptr);
    EXPECT_TRUE(list4contains(&files, index->indexFile));
    EXPECT_EQ(table4close(t), 0);
}

TEST_F(IndexTest, HandlesShareOneOpenFile) {
    static const field4def fields[] = {{"LAST", 'C', 20, 0, 0}, {nullptr, 0, 0, 0, 0}};
    env_.accessMode = 0;
    env_.singleOpen = 0;
    table4* first = table4create(&env_, dir_.file("shared").c_str(), fields, kNameCity + 0);
    EXPECT_EQ(first, nullptr);  // CITY is not a field of this table
    error4setCode(&env_, 0);
    EXPECT_EQ(readWhole(dir_.file("shared.dbf")), "");  // nothing is left of it
    static const tag4def byName[] = {{"NAME", "UPPER(LAST)", nullptr, 0, 0},
                                     {nullptr, nullptr, nullptr, 0, 0}};
    first = table4create(&env_, dir_.file("shared").c_str(), fields, byName);
    ASSERT_NE(first, nullptr) << env_.errorCode << " at " << env_.errorLocation;
    table4* second = table4open(&env_, dir_.file("shared").c_str());
    ASSERT_NE(second, nullptr);
    auto* a = static_cast<index4*>(list4first(&first->indexes));
    auto* b = static_cast<index4*>(list4first(&second->indexes));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->indexFile, b->indexFile);
    EXPECT_EQ(a->indexFile->useCount, 2);
    EXPECT_EQ(index4open(first, nullptr), nullptr);  // the same handle twice
    EXPECT_EQ(env_.errorCode, e4instance);
    error4setCode(&env_, 0);
    index4file* file = a->indexFile;
    EXPECT_EQ(table4close(first), 0);
    EXPECT_EQ(file->useCount, 1);
    EXPECT_EQ(tag4top(index4fileTag(file, "NAME")), 3);
    EXPECT_EQ(table4close(second), 0);
}

TEST_F(IndexTest, ReindexRebuildsAfterChanges) {
    table4* t = makeTable();
    ASSERT_NE(t, nullptr);
    static const tag4def tags[] = {{"NAME", "UPPER(LAST)", nullptr, 0, 0},
                                   {nullptr, nullptr, nullptr, 0, 0}};
    index4* index = index4create(t, nullptr, tags);
    ASSERT_NE(index, nullptr);
    for (int i = 0; i < 500; i++) append(t, "n" + std::to_string(i % 37), "X", i);
    EXPECT_EQ(walk(index4fileTag(index->indexFile, "NAME")).size(), 0u);
    ASSERT_EQ(index4reindex(index), 0);
    const std::vector<TreeEntry> all = walk(index4fileTag(index->indexFile, "NAME"));
    ASSERT_EQ(all.size(), 500u);
    EXPECT_EQ(all.front(), TreeEntry(padKey("N0", 20), 1));
    EXPECT_EQ(t->recNum, -1);
    ASSERT_EQ(index4flush(index->indexFile), 0);
    index4checkReport report;
    ASSERT_EQ(index4checkFile(index->indexFile->file.name, &report), 0);
    EXPECT_EQ(problemsOf(report), "");
    EXPECT_EQ(table4close(t), 0);
}

// Two processes rebuild big indexes at once with sorts that spill to temporary files in the
// same folder: each file must come out whole and in order.
TEST_F(IndexTest, RebuildsInTwoProcessesKeepTheirSpillsApart) {
    const int count = 12000;
    for (const char* name : {"one", "two"}) {
        table4* t = makeTable(name);
        ASSERT_NE(t, nullptr);
        std::mt19937 rng(name[0]);
        for (int i = 0; i < count; i++) append(t, "K" + std::to_string(rng() % 5000), "C", i);
        ASSERT_EQ(table4close(t), 0);
    }
    setenv("TEMP", dir_.path().c_str(), 1);
    static const tag4def tags[] = {{"NAME", "LAST", nullptr, 0, 0},
                                   {nullptr, nullptr, nullptr, 0, 0}};
    std::vector<pid_t> children;
    for (const char* name : {"one", "two"}) {
        const pid_t pid = fork();
        if (pid == 0) {
            env4 env;
            (void)env4init(&env, env4version);
            env.accessMode = 1;
            env.memSizeSortPool = 4096;  // a run every thousand keys or so
            table4* t = table4open(&env, dir_.file(name).c_str());
            const bool ok =
                t != nullptr && index4create(t, nullptr, tags) != nullptr && table4close(t) == 0;
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    unsetenv("TEMP");
    for (const char* name : {"one", "two"}) {
        SCOPED_TRACE(name);
        index4checkReport report;
        ASSERT_EQ(index4checkFile(dir_.file(std::string(name) + ".cdx").c_str(), &report), 0);
        ASSERT_EQ(problemsOf(report), "");
        ASSERT_EQ(report.tags.size(), 1u);
        const std::vector<index4checkEntry>& entries = report.tags[0].entries;
        ASSERT_EQ(entries.size(), size_t(count));
        // Every record once, with the key its record holds.
        std::mt19937 rng(name[0]);
        std::vector<std::string> expected;
        for (int i = 0; i < count; i++)
            expected.push_back(padKey("K" + std::to_string(rng() % 5000), 20));
        std::vector<bool> seen(count + 1);
        for (const index4checkEntry& e : entries) {
            ASSERT_TRUE(e.record >= 1 && e.record <= uint32_t(count) && !seen[e.record]);
            seen[e.record] = true;
            EXPECT_EQ(e.key, expected[e.record - 1]);
        }
    }
    // No run file is left behind.
    for (const std::string& entry : dir_.entries())
        EXPECT_TRUE(entry == "one.dbf" || entry == "two.dbf" || entry == "one.cdx" ||
                    entry == "two.cdx")
            << entry;
}

}  // namespace

namespace {

// Another process's change makes the selected tag stand again where it stood.
TEST_F(IndexTest, RefreshKeepsTheSelectedTagsPlace) {
    table4* t = makeSharedNameTable("moving");
    ASSERT_NE(t, nullptr) << env_.errorCode;
    auto* index = static_cast<index4*>(list4first(&t->indexes));
    tag4file* name = index4fileTag(index->indexFile, "NAME");
    ASSERT_EQ(index4lock(index->indexFile, t->lockOwner), 0);
    for (int32_t r = 1; r <= 400; r++)
        ASSERT_EQ(tag4addKey(name, padKey("N" + std::to_string(1000 + r), 20).data(), r, 0), 0);
    ASSERT_EQ(index4unlock(index->indexFile, t->lockOwner), 0);
    t->selectedTag = index4tag(index, "NAME");
    ASSERT_EQ(tag4seek(name, "N1200", 5), 0);

    // Another process adds keys before it.
    const pid_t pid = fork();
    if (pid == 0) {
        env4 env;
        (void)env4init(&env, env4version);
        index4file* f = index4fileOpen(&env, nullptr, index->indexFile->file.name, nullptr);
        bool ok = f != nullptr && index4lock(f, 1) == 0;
        for (int32_t r = 401; ok && r <= 800; r++)
            ok = tag4addKey(index4fileTag(f, "NAME"), padKey("A" + std::to_string(r), 20).data(), r,
                            0) == 0;
        ok = ok && index4fileClose(f) == 0;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(index4refresh(index), 0);
    EXPECT_EQ(tag4recordNumber(name), 200);
    EXPECT_EQ(keyText(tag4key(name), 20), padKey("N1200", 20));
    EXPECT_EQ(walk(name).size(), 800u);
    EXPECT_EQ(table4close(t), 0);
}

// A reader's held view: once checked it is trusted without reading the counter, and every way
// out of the hold (its end, a recheck, the end of this process's own lock) reads it again.
TEST_F(IndexTest, AHeldViewSeesAnotherProcesssChangeOnceTheHoldEnds) {
    table4* t = makeSharedNameTable("held");
    ASSERT_NE(t, nullptr) << env_.errorCode;
    index4file* f = static_cast<index4*>(list4first(&t->indexes))->indexFile;
    int32_t next = 1;
    // Another process adds a key under the lock.
    auto otherWrites = [&] {
        const int32_t r = next++;
        const pid_t pid = fork();
        if (pid == 0) {
            env4 env;
            (void)env4init(&env, env4version);
            index4file* o = index4fileOpen(&env, nullptr, f->file.name, nullptr);
            const bool ok =
                o != nullptr && index4lock(o, 1) == 0 &&
                tag4addKey(index4fileTag(o, "NAME"), padKey("K", 20).data(), r, 0) == 0 &&
                index4fileClose(o) == 0;
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    };

    index4viewHold(f, 1);
    EXPECT_EQ(index4versionCheck(f, 1), 0);  // checked: the view is current
    otherWrites();
    EXPECT_EQ(index4versionCheck(f, 1), 0);  // trusted while held
    index4viewRecheck(f);
    EXPECT_EQ(index4versionCheck(f, 0), 1);  // a move not adopted is still seen
    EXPECT_EQ(index4versionCheck(f, 1), 1);
    EXPECT_EQ(index4versionCheck(f, 1), 0);

    otherWrites();
    index4viewHold(f, 0);
    EXPECT_EQ(index4versionCheck(f, 1), 1);

    index4viewHold(f, 1);
    EXPECT_EQ(index4versionCheck(f, 1), 0);
    ASSERT_EQ(index4lock(f, t->lockOwner), 0);
    ASSERT_EQ(index4unlock(f, t->lockOwner), 0);
    otherWrites();
    EXPECT_EQ(index4versionCheck(f, 1), 1);  // the lock's end ended what the view knew
    index4viewHold(f, 0);
    EXPECT_EQ(table4close(t), 0);
}

}  // namespace
