// Moving through a table: by record number, in tag order (ascending, descending,
// filtered), by key, by relative position; entries of records beyond the count
// are never loaded; tags by name.
#include "xbase/table4nav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "people_table.h"
#include "xbase/key4.h"
#include "xbase/lock4.h"
#include "xbase/tag4.h"

namespace {

struct Place {
    int32_t rc;
    int32_t recNum;
    int bof, eof;
    bool operator==(const Place&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Place& p) {
    return out << "{rc " << p.rc << ", record " << p.recNum << ", bof " << p.bof << ", eof "
               << p.eof << "}";
}

Place placeOf(table4* t, int32_t rc) {
    return Place{rc, t->recNum, t->bof, t->eof};
}

struct Move {
    const char* what;
    std::function<int32_t(table4*)> move;
    Place expected;
};

class Navigation : public PeopleTest {
  protected:
    // Ten people R01 to R10 with amounts 1 to 10, no tag selected.
    table4* tenRecords() {
        table4* t = create();
        for (int i = 1; i <= 10; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "R%02d", i);
            EXPECT_EQ(appendPerson(t, {name, double(i), std::to_string(i), ""}), 0);
        }
        return t;
    }
    void run(table4* t, const std::vector<Move>& moves) {
        for (const Move& m : moves) {
            env.errorCode = 0;
            const int32_t rc = m.move(t);
            EXPECT_EQ(placeOf(t, rc), m.expected) << m.what;
            if (rc == 0 && t->recNum >= 1) {
                // The record loaded is the one numbered (unsorted rows carry their number).
                EXPECT_EQ(personOf(t).code, std::to_string(m.expected.recNum)) << m.what;
            }
        }
    }
};

TEST_F(Navigation, RecordOrderTable) {
    table4* t = tenRecords();
    ASSERT_NE(t, nullptr);
    env.errGo = 0;
    const std::vector<Move> moves = {
        {"top", [](table4* t) { return table4goTop(t); }, {0, 1, 0, 0}},
        {"bottom", [](table4* t) { return table4goBottom(t); }, {0, 10, 0, 0}},
        {"skip past the last",
         [](table4* t) {
             (void)table4go(t, 10);
             return table4skip(t, 1);
         },
         {3, 11, 0, 1}},
        {"back from eof", [](table4* t) { return table4skip(t, -1); }, {0, 10, 0, 0}},
        {"skip before the first",
         [](table4* t) {
             (void)table4go(t, 1);
             return table4skip(t, -1);
         },
         {4, 1, 1, 0}},
        {"skip far back",
         [](table4* t) {
             (void)table4go(t, 5);
             return table4skip(t, -20);
         },
         {4, 1, 1, 0}},
        {"skip far on",
         [](table4* t) {
             (void)table4go(t, 5);
             return table4skip(t, 20);
         },
         {3, 11, 0, 1}},
        {"skip within",
         [](table4* t) {
             (void)table4go(t, 3);
             return table4skip(t, 4);
         },
         {0, 7, 0, 0}},
        {"skip 0",
         [](table4* t) {
             (void)table4go(t, 3);
             return table4skip(t, 0);
         },
         {0, 3, 0, 0}},
        {"go past the count", [](table4* t) { return table4go(t, 11); }, {5, -1, 0, 0}},
        {"go to 0", [](table4* t) { return table4go(t, 0); }, {5, -1, 0, 0}},
        {"skip without a record", [](table4* t) { return table4skip(t, 1); }, {e4info, -1, 0, 0}},
        {"eof", [](table4* t) { return table4goEof(t); }, {3, 11, 0, 1}},
        {"position 0.5", [](table4* t) { return table4setPosition(t, 0.5); }, {0, 6, 0, 0}},
        {"position 0", [](table4* t) { return table4setPosition(t, 0.0); }, {0, 1, 0, 0}},
        {"position 1", [](table4* t) { return table4setPosition(t, 1.0); }, {0, 10, 0, 0}},
        {"position past 1", [](table4* t) { return table4setPosition(t, 1.5); }, {3, 11, 0, 1}},
        {"position NaN",
         [](table4* t) { return table4setPosition(t, std::nan("")); },
         {e4parm, 11, 0, 1}},
        {"load 4 as it is", [](table4* t) { return table4loadRecord(t, 4); }, {0, 4, 0, 0}},
        {"load past the file", [](table4* t) { return table4loadRecord(t, 40); }, {5, -1, 0, 0}},
    };
    run(t, moves);

    (void)table4go(t, 4);
    EXPECT_DOUBLE_EQ(table4position(t), 3.0 / 9.0);
    (void)table4goTop(t);
    EXPECT_DOUBLE_EQ(table4position(t), 0.0);
    (void)table4goBottom(t);
    EXPECT_DOUBLE_EQ(table4position(t), 1.0);
    (void)table4goEof(t);
    EXPECT_DOUBLE_EQ(table4position(t), 1.1);

    // With errGo the missing record is an error naming the table.
    env.errGo = 1;
    errors.clear();
    EXPECT_EQ(table4go(t, 11), e4read);
    EXPECT_EQ(clearError(), e4read);
    EXPECT_EQ(t->recNum, -1);
}

TEST_F(Navigation, EmptyTableHasBothEnds) {
    table4* t = create();
    ASSERT_NE(t, nullptr);
    const std::vector<Move> moves = {
        {"top", [](table4* t) { return table4goTop(t); }, {3, 1, 1, 1}},
        {"bottom", [](table4* t) { return table4goBottom(t); }, {3, 1, 1, 1}},
        {"skip from eof", [](table4* t) { return table4skip(t, -1); }, {3, 1, 1, 1}},
        {"position", [](table4* t) { return table4setPosition(t, 0.5); }, {3, 1, 1, 1}},
    };
    run(t, moves);
    EXPECT_DOUBLE_EQ(table4position(t), 1.1);
    // Through a tag as well, where a step back from eof first goes to the bottom:
    // there is none, so it stands before the first record.
    table4selectTag(t, table4findTag(t, "NAME"));
    std::vector<Move> tagged = moves;
    tagged[2].expected.rc = r4bof;
    run(t, tagged);
    EXPECT_EQ(table4seek(t, "A"), 3);
}

class TagOrder : public Navigation {
  protected:
    // Kim, Abe, Zed, Lou, Bea (records 1 to 5).
    table4* fiveNames(bool descending = false) {
        table4* t = create();
        if (t == nullptr) return nullptr;
        const char* names[] = {"Kim", "Abe", "Zed", "Lou", "Bea"};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(appendPerson(t, {names[i], 10.0 * (i + 1), std::to_string(i + 1), ""}), 0);
        if (descending) {
            const tag4def tags[] = {{"DOWN", "UPPER(NAME)", nullptr, 0, tag4descendingCode},
                                    {nullptr, nullptr, nullptr, 0, 0}};
            EXPECT_NE(index4create(t, dir.file("down").c_str(), tags), nullptr);
            table4selectTag(t, table4findTag(t, "DOWN"));
        } else {
            table4selectTag(t, table4findTag(t, "NAME"));
        }
        return t;
    }
};

TEST_F(TagOrder, AscendingTable) {
    table4* t = fiveNames();
    ASSERT_NE(t, nullptr);
    // Abe 2, Bea 5, Kim 1, Lou 4, Zed 3.
    const std::vector<Move> moves = {
        {"top", [](table4* t) { return table4goTop(t); }, {0, 2, 0, 0}},
        {"skip 1", [](table4* t) { return table4skip(t, 1); }, {0, 5, 0, 0}},
        {"skip 2", [](table4* t) { return table4skip(t, 2); }, {0, 4, 0, 0}},
        {"skip past the end", [](table4* t) { return table4skip(t, 5); }, {3, 6, 0, 1}},
        {"forward from eof", [](table4* t) { return table4skip(t, 1); }, {3, 6, 0, 1}},
        {"back from eof", [](table4* t) { return table4skip(t, -1); }, {0, 3, 0, 0}},
        {"back from eof by 3",
         [](table4* t) {
             (void)table4goEof(t);
             return table4skip(t, -3);
         },
         {0, 1, 0, 0}},
        {"back past the start", [](table4* t) { return table4skip(t, -10); }, {4, 2, 1, 0}},
        {"bottom", [](table4* t) { return table4goBottom(t); }, {0, 3, 0, 0}},
        {"from a record gone to",
         [](table4* t) {
             (void)table4go(t, 1);
             return table4skip(t, -1);
         },
         {0, 5, 0, 0}},
        {"seek exact", [](table4* t) { return table4seek(t, "KIM"); }, {0, 1, 0, 0}},
        {"seek a prefix", [](table4* t) { return table4seek(t, "L"); }, {0, 4, 0, 0}},
        {"seek between", [](table4* t) { return table4seek(t, "KZ"); }, {2, 4, 0, 0}},
        {"seek past the end", [](table4* t) { return table4seek(t, "ZZ"); }, {3, 6, 0, 1}},
        {"seek nothing", [](table4* t) { return table4seek(t, ""); }, {0, 2, 0, 0}},
        {"seek longer than the key",
         [](table4* t) { return table4seek(t, "ZED                 TOO LONG"); },
         {0, 3, 0, 0}},
        {"middle", [](table4* t) { return table4setPosition(t, 0.5); }, {0, 1, 0, 0}},
        {"near the end", [](table4* t) { return table4setPosition(t, 0.99); }, {0, 3, 0, 0}},
    };
    run(t, moves);
    (void)table4goTop(t);
    EXPECT_DOUBLE_EQ(table4position(t), 0.0);
    (void)table4goBottom(t);
    EXPECT_DOUBLE_EQ(table4position(t), 1.0);
    // A position asked for while another handle moved the shared tag.
    table4* other = open();
    ASSERT_NE(other, nullptr);
    table4selectTag(other, table4findTag(other, "NAME"));
    (void)table4go(t, 1);
    (void)table4goTop(other);
    EXPECT_DOUBLE_EQ(table4position(t), 0.5);
    EXPECT_EQ(placeOf(t, table4skip(t, 1)), (Place{0, 4, 0, 0}));
}

TEST_F(TagOrder, DescendingTable) {
    table4* t = fiveNames(true);
    ASSERT_NE(t, nullptr);
    // Zed 3, Lou 4, Kim 1, Bea 5, Abe 2.
    const std::vector<Move> moves = {
        {"top", [](table4* t) { return table4goTop(t); }, {0, 3, 0, 0}},
        {"skip 3", [](table4* t) { return table4skip(t, 3); }, {0, 5, 0, 0}},
        {"skip past the end", [](table4* t) { return table4skip(t, 2); }, {3, 6, 0, 1}},
        {"back from eof", [](table4* t) { return table4skip(t, -1); }, {0, 2, 0, 0}},
        {"back past the start", [](table4* t) { return table4skip(t, -9); }, {4, 3, 1, 0}},
        {"bottom", [](table4* t) { return table4goBottom(t); }, {0, 2, 0, 0}},
        {"seek exact", [](table4* t) { return table4seek(t, "KIM"); }, {0, 1, 0, 0}},
        {"seek between", [](table4* t) { return table4seek(t, "KZ"); }, {2, 1, 0, 0}},
        {"seek past the end", [](table4* t) { return table4seek(t, "AA"); }, {3, 6, 0, 1}},
        {"then back", [](table4* t) { return table4skip(t, -1); }, {0, 2, 0, 0}},
    };
    run(t, moves);
    (void)table4goTop(t);
    EXPECT_DOUBLE_EQ(table4position(t), 0.0);
}

TEST_F(TagOrder, RecordsTheTagLeavesOutStandWhereTheirKeyWould) {
    table4* t = create();
    ASSERT_NE(t, nullptr);
    const tag4def tags[] = {{"RICH", "UPPER(NAME)", "AMOUNT > 15", 0, 0},
                            {nullptr, nullptr, nullptr, 0, 0}};
    for (const Person& p : {Person{"Kim", 30, "1", ""}, Person{"Abe", 5, "2", ""},
                            Person{"Zed", 20, "3", ""}, Person{"Lou", 1, "4", ""}})
        ASSERT_EQ(appendPerson(t, p), 0);
    ASSERT_NE(index4create(t, dir.file("rich").c_str(), tags), nullptr);
    table4selectTag(t, table4findTag(t, "RICH"));
    // RICH holds Kim 1 and Zed 3 only. Lou (4) stands between them, Abe (2) before both.
    ASSERT_EQ(table4go(t, 4), 0);
    EXPECT_EQ(placeOf(t, table4skip(t, 1)), (Place{0, 3, 0, 0}));
    ASSERT_EQ(table4go(t, 4), 0);
    EXPECT_EQ(placeOf(t, table4skip(t, -1)), (Place{0, 1, 0, 0}));
    ASSERT_EQ(table4go(t, 2), 0);
    EXPECT_EQ(placeOf(t, table4skip(t, 1)), (Place{0, 1, 0, 0}));
    ASSERT_EQ(table4go(t, 2), 0);
    EXPECT_EQ(placeOf(t, table4skip(t, -1)), (Place{4, 1, 1, 0}));
}

// Index entries for records past the count, as an append that a crash cut
// short between its keys and its record leaves them.
TEST_F(TagOrder, EntriesBeyondTheCountAreNeverLoaded) {
    table4* t = fiveNames();
    ASSERT_NE(t, nullptr);
    tag4file* name = table4findTag(t, "NAME")->tagFile;
    for (const auto& [key, record] : std::vector<std::pair<std::string, int32_t>>{
             {"AAA", 6}, {"KIM", 7}, {"KIM", 8}, {"ZZZ", 9}}) {
        std::string k = key;
        k.resize(name->keyLength, ' ');
        ASSERT_EQ(tag4addKey(name, k.data(), record, 0), 0);
    }
    const std::vector<Move> moves = {
        {"top", [](table4* t) { return table4goTop(t); }, {0, 2, 0, 0}},
        {"bottom", [](table4* t) { return table4goBottom(t); }, {0, 3, 0, 0}},
        {"over the ghosts",
         [](table4* t) {
             (void)table4go(t, 1);
             return table4skip(t, 1);
         },
         {0, 4, 0, 0}},
        {"back over them", [](table4* t) { return table4skip(t, -1); }, {0, 1, 0, 0}},
        {"to the end",
         [](table4* t) {
             (void)table4go(t, 3);
             return table4skip(t, 1);
         },
         {3, 6, 0, 1}},
        {"back to the start",
         [](table4* t) {
             (void)table4go(t, 2);
             return table4skip(t, -1);
         },
         {4, 2, 1, 0}},
        {"seek a ghost's key", [](table4* t) { return table4seek(t, "AAA"); }, {2, 2, 0, 0}},
        {"seek past the last real key",
         [](table4* t) { return table4seek(t, "ZZ"); },
         {3, 6, 0, 1}},
        {"seek a shared key", [](table4* t) { return table4seek(t, "KIM"); }, {0, 1, 0, 0}},
    };
    run(t, moves);
    std::vector<int32_t> walked;
    for (int32_t rc = table4goTop(t); rc == 0; rc = table4skip(t, 1)) walked.push_back(t->recNum);
    EXPECT_EQ(walked, (std::vector<int32_t>{2, 5, 1, 4, 3}));
}

TEST_F(TagOrder, SeeksOfEachKeyType) {
    table4* t = fiveNames();
    ASSERT_NE(t, nullptr);
    table4selectTag(t, table4findTag(t, "AMOUNT"));
    EXPECT_EQ(placeOf(t, table4seek(t, "30")), (Place{0, 3, 0, 0}));
    EXPECT_EQ(placeOf(t, table4seek(t, " 30.00")), (Place{0, 3, 0, 0}));
    EXPECT_EQ(placeOf(t, table4seek(t, "31")), (Place{2, 4, 0, 0}));
    EXPECT_EQ(placeOf(t, table4seek(t, "-1")), (Place{2, 1, 0, 0}));
    EXPECT_EQ(placeOf(t, table4seek(t, "51")), (Place{3, 6, 0, 1}));
    EXPECT_EQ(table4seek(t, ""), e4parm);
    clearError();
    // The unique character tag, by its own name.
    table4selectTag(t, table4findTag(t, "code"));
    EXPECT_EQ(placeOf(t, table4seekN(t, "4xyz", 1)), (Place{0, 4, 0, 0}));
    // Without a tag at all: 80, and nothing moves.
    table4* plain = table4create(&env, dir.file("plain").c_str(), kPeopleFields, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(table4seek(plain, "A"), r4noTag);
    EXPECT_EQ(plain->recNum, -1);
}

// The text of a field, which lives in the work area that key evaluation reuses, seeks
// what it said, even when the write-back of a changed record evaluates keys first.
TEST_F(TagOrder, SeekForAFieldsTextSurvivesTheWriteBack) {
    table4* t = fiveNames();
    ASSERT_NE(t, nullptr);
    table4selectTag(t, table4findTag(t, "CODE"));
    ASSERT_EQ(table4go(t, 4), 0);
    field4* code = table4fieldByName(t, "CODE");
    ASSERT_EQ(field4assign(table4fieldByName(t, "NAME"), "Moe"), 0);
    EXPECT_EQ(placeOf(t, table4seek(t, field4string(code))), (Place{0, 4, 0, 0}));
    EXPECT_EQ(personOf(t).name, "Moe");
}

TEST_F(TagOrder, SeekUnderTheGeneralCollation) {
    env.collation = 1;
    table4* t = create();
    ASSERT_NE(t, nullptr);
    int code = 0;
    for (const char* name : {"b", "A", "a", "B", "\xC9tienne", "Eve"})
        ASSERT_EQ(appendPerson(t, {name, 1, std::to_string(++code), ""}), 0);
    table4selectTag(t, table4findTag(t, "NAME"));
    ASSERT_EQ(table4seek(t, "e"), 0);
    EXPECT_EQ(personOf(t).name, "\xC9tienne");
    ASSERT_EQ(table4skip(t, 1), 0);
    EXPECT_EQ(personOf(t).name, "Eve");
    EXPECT_EQ(table4seek(t, "A long text cut to the key"), 2);
}

TEST_F(Navigation, TagsByNameAndIndexByPath) {
    table4* t = create();
    ASSERT_NE(t, nullptr);
    tag4* name = table4findTag(t, "name ");
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name->tagFile->alias, "NAME");
    tag4* amount = table4findTag(t, "AMOUNT");
    EXPECT_EQ(table4seekTag(t), amount);  // the first tag of the first index, by name
    EXPECT_EQ(table4selectedTag(t), nullptr);
    tag4* code = table4findTag(t, "Code");
    EXPECT_EQ(table4selectTag(t, code), code);
    EXPECT_EQ(table4selectedTag(t), code);
    EXPECT_EQ(table4seekTag(t), code);
    EXPECT_EQ(table4selectTag(t, nullptr), nullptr);
    EXPECT_EQ(table4seekTag(t), amount);

    errors.clear();
    EXPECT_EQ(table4findTag(t, "NOPE"), nullptr);
    EXPECT_EQ(clearError(), e4tagName);
    env.errTagName = 0;
    EXPECT_EQ(table4findTag(t, "NOPE"), nullptr);
    EXPECT_EQ(env.errorCode, 0);

    table4* other = open();
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(table4selectTag(t, table4findTag(other, "NAME")), nullptr);
    EXPECT_EQ(clearError(), e4parm);

    index4* production = static_cast<index4*>(list4first(&t->indexes));
    EXPECT_EQ(table4index(t, dir.file("people").c_str()), production);
    EXPECT_EQ(table4index(t, dir.file("people.cdx").c_str()), production);
    EXPECT_EQ(table4index(t, dir.file("other").c_str()), nullptr);
}

// Another process changed a record's key bytes without its index (or the index
// is behind): a handle without the file lock passes over the entry; one that
// holds it trusts the index.
TEST_F(TagOrder, SeekChecksTheRecordUnlessTheFileIsLocked) {
    table4* t = create("people", 1);
    ASSERT_NE(t, nullptr);
    for (const char* name : {"Kim", "Lou", "Max"})
        ASSERT_EQ(appendPerson(t, {name, 1, name, ""}), 0);
    ASSERT_EQ(table4close(t), 0);
    t = open("people", 0);
    ASSERT_NE(t, nullptr);
    // Record 2 now holds "Ned" on disk while its entry says LOU.
    std::string bytes = readWhole(dir.file("people.dbf"));
    const int32_t at = t->dataFile->headerLen + t->dataFile->recordLen + 1;
    bytes.replace(size_t(at), 3, "Ned");
    writeWhole(dir.file("people.dbf"), bytes);
    table4selectTag(t, table4findTag(t, "NAME"));
    EXPECT_EQ(placeOf(t, table4seek(t, "LOU")), (Place{2, 3, 0, 0}));
    EXPECT_EQ(personOf(t).name, "Max");
    EXPECT_EQ(placeOf(t, table4seek(t, "L")), (Place{2, 3, 0, 0}));
    EXPECT_EQ(placeOf(t, table4seek(t, "K")), (Place{0, 1, 0, 0}));
    ASSERT_EQ(table4lockFile(t), 0);
    EXPECT_EQ(placeOf(t, table4seek(t, "LOU")), (Place{0, 2, 0, 0}));
    EXPECT_EQ(personOf(t).name, "Ned");
    EXPECT_EQ(table4unlock(t), 0);
}

TEST_F(Navigation, ReadLockLocksEachRecordRead) {
    table4* t = create("people", 1);
    ASSERT_NE(t, nullptr);
    for (int i = 1; i <= 3; ++i) ASSERT_EQ(appendPerson(t, {"P", 1, std::to_string(i), ""}), 0);
    ASSERT_EQ(table4close(t), 0);
    t = open("people", 0);
    table4* other = open("people", 0);
    ASSERT_NE(other, nullptr);
    env.readLock = 1;
    env.unlockAuto = 0;
    ASSERT_EQ(table4go(t, 2), 0);
    EXPECT_EQ(table4isRecordLocked(t, 2), 1);
    // Another handle of the environment cannot read record 2 now.
    EXPECT_EQ(table4go(other, 2), r4locked);
    EXPECT_EQ(table4go(other, 3), 0);
    env.unlockAuto = 2;
    EXPECT_EQ(table4unlock(t), 0);
    EXPECT_EQ(table4go(other, 2), 0);
}

}  // namespace
