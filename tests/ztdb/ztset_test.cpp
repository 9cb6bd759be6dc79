// Field lists of sets: loading what is stored (broken entries, gaps, fixed counts), saving
// (positions written and emptied, the fixed count, membership ties), editing and notices.
#include "ztdb/ztset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ztvalue_helpers.h"

namespace {

constexpr uint32_t kFieldList = 1;
constexpr uint32_t kFixedCount = 44;

std::vector<uint32_t> idsOf(const ZTSet& s) {
    return std::vector<uint32_t>(s.data, s.data + s.size);
}

// Fields 1001 A, 1002 B, 1003 C, 1004 D; sets from 1100 as each test writes them.
struct SetFixture {
    dbcheck::Fixture fx;
    uint32_t names[4];
    TempDir dir;
    std::string base;
    ZTFile file{nullptr};
    SetFixture() {
        fx.counter(3000);
        const char* n[] = {"A", "B", "C", "D"};
        for (int i = 0; i < 4; ++i) names[i] = fx.field(1001 + uint32_t(i), n[i]);
    }
    void open() {
        base = dir.file("sets");
        ASSERT_TRUE(fx.write(base)) << fx.error;
        file.setName(base.c_str());
        ASSERT_EQ(file.open(3, false), 3u);
    }
};

TEST(ZTSetLoad, ReadsEveryEntryPastBrokenOnesAndGaps) {
    SetFixture s;
    s.fx.value(1100, 9, 1, "Set");
    s.fx.link(1100, kFieldList, 1, s.names[0]);
    s.fx.link(1100, kFieldList, 2, 9999);        // its field is gone
    s.fx.link(1100, kFieldList, 3, s.names[1]);  // after a gap at 4
    s.fx.value(1100, kFieldList, 5, "");         // an empty value, no link
    s.fx.link(1100, kFieldList, 6, s.names[2]);
    s.fx.link(1100, kFieldList, 7, s.names[0]);  // duplicates stay
    s.open();
    ZTSet set(&s.file, 1100);
    ASSERT_TRUE(set.load());
    EXPECT_EQ(idsOf(set), (std::vector<uint32_t>{1001, 1002, 1003, 1001}));
    EXPECT_EQ(set.getFixedCount(), 4u);
    EXPECT_EQ(set.getFirstID(), 1001u);
    EXPECT_FALSE(set.isModified());
    for (uint32_t i = 0; i < set.size; ++i) EXPECT_EQ(set.getValue(i), ZTSet::kDefaultValue);

    // Saved again, the list takes positions 1 to 4 and the rest the load met is emptied.
    set.setModified(true);
    ASSERT_TRUE(set.save(nullptr));
    std::vector<uint32_t> positions;
    for (const StoredValue& v : rowsOf(s.file, 1100, kFieldList)) positions.push_back(v.position);
    EXPECT_EQ(positions, (std::vector<uint32_t>{1, 2, 3, 4}));
    ZTSet again(&s.file, 1100);
    ASSERT_TRUE(again.load());
    EXPECT_EQ(idsOf(again), idsOf(set));
}

TEST(ZTSetLoad, StoredFixedCounts) {
    SetFixture s;
    const struct {
        const char* stored;  // null: no value
        uint32_t fixed;
    } cases[] = {{nullptr, 3}, {"2", 2}, {"3", 3}, {"1", 1}, {"2x", 3},
                 {"0", 3},     {"4", 3}, {"", 3},  {" 2", 2}};
    uint32_t id = 1100;
    for (const auto& c : cases) {
        s.fx.value(id, 9, 1, "Set " + std::to_string(id));
        for (uint32_t i = 0; i < 3; ++i) s.fx.link(id, kFieldList, i + 1, s.names[i]);
        if (c.stored) s.fx.value(id, kFixedCount, 1, c.stored);
        ++id;
    }
    s.open();
    id = 1100;
    for (const auto& c : cases) {
        ZTSet set(&s.file, id++);
        ASSERT_TRUE(set.load());
        EXPECT_EQ(set.getFixedCount(), c.fixed) << (c.stored ? c.stored : "none");
    }
    ZTSet unbound(&s.file, 0);
    EXPECT_FALSE(unbound.load());
    EXPECT_FALSE(unbound.save(nullptr));
}

// 1600 entries: more than any fixed bound of a load.
TEST(ZTSetLoad, ManyEntriesSurviveLoadAndSave) {
    SetFixture s;
    constexpr uint32_t kCount = 1600;
    std::vector<uint32_t> names;
    for (uint32_t i = 0; i < kCount; ++i)
        names.push_back(s.fx.field(1201 + i, "Field " + std::to_string(i)));
    s.fx.set(1100, "Wide", names);
    s.open();
    ZTSet set(&s.file, 1100);
    ASSERT_TRUE(set.load());
    ASSERT_EQ(set.size, kCount);
    // Move the last entry to the front and save: every entry stays.
    set.insert(1201 + kCount - 1, 0);
    set.setFixedCount(kCount);
    ASSERT_TRUE(set.save(nullptr));
    ZTSet again(&s.file, 1100);
    ASSERT_TRUE(again.load());
    ASSERT_EQ(again.size, kCount);
    EXPECT_EQ(again[0], 1201 + kCount - 1);
    EXPECT_EQ(again[1], 1201u);
    EXPECT_EQ(again[kCount - 1], 1201 + kCount - 2);
    s.file.close();
    dbcheck::Report report = dbcheck::checkDatabase(s.base);
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTSetSave, RoundTripWithFixedCount) {
    NewDatabase db;
    const std::vector<uint32_t> fields =
        makeFields(db.file, {"F0", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9"});
    uint32_t setID = db.file.addSet("Ten");
    ZTSet set(&db.file, setID);
    for (uint32_t i = 0; i < 10; ++i) set.insert(fields[i], i);
    set.setFixedCount(3);
    ZTRefreshInfo info;
    ASSERT_TRUE(set.save(&info));
    EXPECT_FALSE(set.isModified());
    EXPECT_NE(info.find(&db.file, setID), ZTRefreshInfo::kNone);
    EXPECT_EQ(textsOf(db.file, setID, kFixedCount), (std::vector<std::string>{"3"}));

    ZTSet loaded(&db.file, setID);
    ASSERT_TRUE(loaded.load());
    EXPECT_EQ(idsOf(loaded), fields);
    EXPECT_EQ(loaded.getFixedCount(), 3u);
    ZTStr names;
    loaded.getNameList(&names);
    EXPECT_STREQ(names.text, "F0\tF1\tF2\tF3\tF4\tF5\tF6\tF7\tF8\tF9");

    // All fixed: no count is stored.
    loaded.setFixedCount(10);
    ASSERT_TRUE(loaded.save(nullptr));
    EXPECT_TRUE(rowsOf(db.file, setID, kFixedCount).empty());
    ZTSet all(&db.file, setID);
    ASSERT_TRUE(all.load());
    EXPECT_EQ(all.getFixedCount(), 10u);
    dbcheck::Report report = db.check();
    EXPECT_TRUE(report.sound()) << report.text();
}

// A list empties the positions after it that its load met, and none that it never saw.
TEST(ZTSetSave, ShrinkingEmptiesOnlyWhatTheLoadMet) {
    NewDatabase db;
    const std::vector<uint32_t> f = makeFields(db.file, {"A", "B", "C", "D", "E", "F"});
    const uint32_t setID = db.file.addSet("S");
    {
        ZTSet five(&db.file, setID);
        for (uint32_t i = 0; i < 5; ++i) five.insert(f[i], i);
        ASSERT_TRUE(five.save(nullptr));
    }
    ZTSet mine(&db.file, setID);
    ASSERT_TRUE(mine.load());
    {
        // Another user of the database adds a sixth entry meanwhile.
        ZTFile other(db.base.c_str());
        ASSERT_EQ(other.open(3, false), 3u);
        ZTSet theirs(&other, setID);
        ASSERT_TRUE(theirs.load());
        theirs.insert(f[5], 5);
        ASSERT_TRUE(theirs.save(nullptr));
    }
    mine.truncate(3);
    EXPECT_EQ(mine.getFixedCount(), 3u);
    ASSERT_TRUE(mine.save(nullptr));
    std::vector<uint32_t> positions;
    for (const StoredValue& v : rowsOf(db.file, setID, kFieldList)) positions.push_back(v.position);
    EXPECT_EQ(positions, (std::vector<uint32_t>{1, 2, 3, 6}));
    ZTSet loaded(&db.file, setID);
    ASSERT_TRUE(loaded.load());
    EXPECT_EQ(idsOf(loaded), (std::vector<uint32_t>{f[0], f[1], f[2], f[5]}));
}

TEST(ZTSetEdit, InsertRemoveAndFixedPart) {
    ZTSet set;
    for (uint32_t id = 1; id <= 6; ++id) set.insert(id, id - 1);
    set.setFixedCount(2);
    set.setModified(false);
    // An ID already at index 2 inserted at position 5 lands at index 4; the size stays.
    set.insert(3, 5, 7);
    EXPECT_EQ(idsOf(set), (std::vector<uint32_t>{1, 2, 4, 5, 3, 6}));
    EXPECT_EQ(set.getValue(4), 7);
    EXPECT_TRUE(set.isModified());
    EXPECT_EQ(set.getFixedCount(), 2u);
    // Inserting at the fixed count extends the fixed part; past the end appends.
    set.insert(9, 2);
    EXPECT_EQ(set.getFixedCount(), 3u);
    set.insert(10, 100);
    EXPECT_EQ(set[set.size - 1], 10u);
    EXPECT_EQ(set.locate(9), ZTSet::kInFixedPart);
    EXPECT_EQ(set.locate(10), ZTSet::kAfterFixedPart);
    EXPECT_EQ(set.locate(77), ZTSet::kAbsent);
    // Removing from the fixed part shrinks it; an absent ID changes nothing.
    set.remove(1);
    EXPECT_EQ(set.getFixedCount(), 2u);
    set.remove(77);
    EXPECT_EQ(set.size, 7u);
    set.setFixedCount(50);
    EXPECT_EQ(set.getFixedCount(), 7u);
    set.truncate(4);
    EXPECT_EQ(idsOf(set), (std::vector<uint32_t>{2, 9, 4, 5}));
    EXPECT_EQ(set.getFixedCount(), 4u);
    set.setFixedCount(1);
    set.cutAfterFixed();
    EXPECT_EQ(idsOf(set), (std::vector<uint32_t>{2}));
    // Copies carry everything.
    ZTSet copy(set);
    EXPECT_EQ(idsOf(copy), idsOf(set));
    EXPECT_EQ(copy.getFixedCount(), 1u);
    set.clear();
    EXPECT_EQ(set.size, 0u);
    EXPECT_EQ(set.getFixedCount(), 0u);
}

// Members sort by the set's first field: a save re-ties them only when the first entry
// changed. Record 2003's "?" row is stale on purpose (it has a value of A): only a re-tie
// mends it.
class ZTSetTies : public ::testing::Test {
  protected:
    void SetUp() override {
        s.fx.set(1100, "People", {s.names[0], s.names[1]});
        s.fx.value(2001, 1001, 1, "Ann");
        s.fx.value(2001, 1002, 1, "Oslo");
        s.fx.member(2001, 1100);
        s.fx.value(2002, 1001, 1, "Bob");
        s.fx.value(2002, 1001, 2, "Rob");
        s.fx.member(2002, 1100);
        s.fx.value(2003, 1001, 1, "Cid");
        s.fx.value(2003, 1002, 1, "Rome");
        s.fx.value(2003, 1100, 65024, "?", 0x41);
        s.open();
    }
    SetFixture s;
};

TEST_F(ZTSetTies, SameFirstEntryLeavesMembershipRows) {
    const std::vector<StoredValue> before = rowsOf(s.file, 2003, 1100);
    ZTSet set(&s.file, 1100);
    ASSERT_TRUE(set.load());
    set.insert(1003, 2);
    ASSERT_TRUE(set.save(nullptr));
    EXPECT_EQ(rowsOf(s.file, 2003, 1100), before);
}

TEST_F(ZTSetTies, NewFirstEntryRetiesEveryMember) {
    ZTSet set(&s.file, 1100);
    ASSERT_TRUE(set.load());
    set.insert(1002, 0);  // B first
    ASSERT_TRUE(set.save(nullptr));
    EXPECT_EQ(textsOf(s.file, 2001, 1100), (std::vector<std::string>{"Oslo"}));
    EXPECT_EQ(textsOf(s.file, 2002, 1100), (std::vector<std::string>{"?"}));
    EXPECT_EQ(textsOf(s.file, 2003, 1100), (std::vector<std::string>{"Rome"}));
    // An emptied field list leaves the set without members.
    set.clear();
    ASSERT_TRUE(set.save(nullptr));
    for (uint32_t r : {2001u, 2002u, 2003u}) EXPECT_TRUE(rowsOf(s.file, r, 1100).empty()) << r;
    s.file.close();
    dbcheck::Report report = dbcheck::checkDatabase(s.base);
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ZTSetRefresh, ReloadsOnlyAnUnmodifiedList) {
    NewDatabase db;
    const std::vector<uint32_t> f = makeFields(db.file, {"A", "B"});
    const uint32_t setID = db.file.addSet("S");
    ZTSet stored(&db.file, setID);
    stored.insert(f[0], 0);
    ASSERT_TRUE(stored.save(nullptr));

    ZTSet watcher(&db.file, setID), editing(&db.file, setID), empty(&db.file, setID);
    ASSERT_TRUE(watcher.load());
    ASSERT_TRUE(editing.load());
    editing.insert(f[1], 0);
    stored.insert(f[1], 1);
    ZTRefreshInfo info;
    ASSERT_TRUE(stored.save(&info));

    EXPECT_EQ(watcher.refresh(&info), 1);
    EXPECT_EQ(idsOf(watcher), f);
    EXPECT_EQ(watcher.refresh(&info), 0);  // the same notice once only
    EXPECT_EQ(editing.refresh(&info), 0);
    EXPECT_EQ(idsOf(editing), (std::vector<uint32_t>{f[1], f[0]}));
    EXPECT_EQ(empty.refresh(&info), 0);
    EXPECT_EQ(empty.size, 0u);
    ZTRefreshInfo elsewhere;
    elsewhere.addByID(12345, 0, 0, ZTRefreshItem::kChanged);
    ZTSet other(&db.file, setID);
    ASSERT_TRUE(other.load());
    EXPECT_EQ(other.refresh(&elsewhere), 0);
}

}  // namespace
