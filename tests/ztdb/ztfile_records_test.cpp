// Whole-record operations: deleting (with the links and ties that share its values),
// duplicating, moving values to another field, the best set of a record and its text line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ztdb/ztset.h"
#include "ztvalue_helpers.h"

namespace {

constexpr uint32_t kName = 1001, kTown = 1002, kNote = 1003, kFriend = 1004, kAge = 1005,
                   kZip = 1006;
constexpr uint32_t kPeople = 1100, kPlaces = 1101, kFriends = 1102;

// Ann (2001) in People, Bob (2002) links to Ann's name and is in Friends by that link.
class ZTFileRecords : public ::testing::Test {
  protected:
    void SetUp() override {
        fx.counter(5000);
        uint32_t name = fx.field(kName, "Name"), town = fx.field(kTown, "Town");
        uint32_t note = fx.field(kNote, "Note"), friendName = fx.field(kFriend, "Friend");
        uint32_t age = fx.field(kAge, "Age"), zip = fx.field(kZip, "Zip");
        names = {name, town, note, friendName, age, zip};
        fx.set(kPeople, "People", {name, town});
        fx.set(kPlaces, "Places", {town});
        fx.set(kFriends, "Friends", {friendName, name});
        annName = fx.value(2001, kName, 1, "Ann");
        fx.value(2001, kTown, 1, "Oslo");
        fx.value(2001, kNote, 1, "n1");
        fx.value(2001, kNote, 2, "n2");
        fx.member(2001, kPeople);
        fx.value(2002, kName, 1, "Bob");
        fx.link(2002, kFriend, 1, annName);
        fx.member(2002, kFriends);
        fx.member(2002, kPeople);
    }
    void open() {
        base = dir.file("records");
        ASSERT_TRUE(fx.write(base)) << fx.error;
        file.setName(base.c_str());
        ASSERT_EQ(file.open(3, false), 3u);
    }
    void expectSound() {
        file.close();
        dbcheck::Report report = dbcheck::checkDatabase(base);
        EXPECT_TRUE(report.sound()) << report.text();
        ASSERT_EQ(file.open(3, false), 3u);
    }

    dbcheck::Fixture fx;
    std::vector<uint32_t> names;
    uint32_t annName = 0;
    TempDir dir;
    std::string base;
    ZTFile file{nullptr};
};

TEST_F(ZTFileRecords, DeleteRecordLeavesNoRowOrLinkToItsValues) {
    open();
    ZTRefreshInfo info;
    ASSERT_TRUE(file.deleteRecord(2001, &info));
    EXPECT_TRUE(typesOf(file, 2001).empty());
    // Bob's link went with the value; he stays in Friends, now without a value of its
    // first field.
    EXPECT_TRUE(rowsOf(file, 2002, kFriend).empty());
    EXPECT_EQ(textsOf(file, 2002, kFriends), (std::vector<std::string>{"?"}));
    EXPECT_EQ(textsOf(file, 2002, kPeople), (std::vector<std::string>{"Bob"}));
    for (const WalkedRow& row : typeWalk(file, kName)) EXPECT_NE(row.value, annName);
    EXPECT_NE(info.find(&file, 2001), ZTRefreshInfo::kNone);
    EXPECT_NE(info.find(&file, 2002), ZTRefreshInfo::kNone);
    // Nothing to delete: nothing changes.
    EXPECT_TRUE(file.deleteRecord(0, nullptr));
    EXPECT_TRUE(file.deleteRecord(2001, nullptr));
    expectSound();
}

TEST_F(ZTFileRecords, DeleteValuesRetiesTheRecord) {
    open();
    ASSERT_TRUE(file.deleteValues(2001, kName, nullptr));
    EXPECT_TRUE(rowsOf(file, 2001, kName).empty());
    EXPECT_EQ(textsOf(file, 2001, kPeople), (std::vector<std::string>{"?"}));
    EXPECT_EQ(textsOf(file, 2001, kTown), (std::vector<std::string>{"Oslo"}));
    ASSERT_TRUE(file.deleteValues(2002, kFriend, nullptr));
    EXPECT_EQ(textsOf(file, 2002, kFriends), (std::vector<std::string>{"?"}));
    expectSound();
}

TEST_F(ZTFileRecords, DuplicateCopiesValuesAndLinksNotMemberships) {
    open();
    const uint32_t ann = file.duplicateRecord(2001, kPlaces);
    ASSERT_GT(ann, 2002u);
    for (uint32_t field : {kName, kTown, kNote})
        EXPECT_EQ(textsOf(file, ann, field), textsOf(file, 2001, field)) << field;
    EXPECT_EQ(rowsOf(file, ann, kNote)[1].position, 2u);
    EXPECT_TRUE(rowsOf(file, ann, kPeople).empty());
    EXPECT_EQ(textsOf(file, ann, kPlaces), (std::vector<std::string>{"Oslo"}));

    const uint32_t bob = file.duplicateRecord(2002, 0);
    ASSERT_NE(bob, 0u);
    const std::vector<StoredValue> link = rowsOf(file, bob, kFriend);
    ASSERT_EQ(link.size(), 1u);
    EXPECT_EQ(link[0].value, annName);
    EXPECT_TRUE(link[0].flags & ZTRec::kFlagLink);
    EXPECT_TRUE(rowsOf(file, bob, kFriends).empty());
    EXPECT_EQ(file.duplicateRecord(4999, kPlaces), 0u);  // no rows
    expectSound();
}

TEST_F(ZTFileRecords, ChangeValueTypeKeepsPositionsTextsAndLinks) {
    open();
    const std::vector<StoredValue> notes = rowsOf(file, 2001, kNote);
    ASSERT_TRUE(file.changeValueType(2001, kNote, kZip));
    EXPECT_TRUE(rowsOf(file, 2001, kNote).empty());
    EXPECT_EQ(rowsOf(file, 2001, kZip), notes);
    const std::vector<StoredValue> link = rowsOf(file, 2002, kFriend);
    ASSERT_TRUE(file.changeValueType(2002, kFriend, kAge));
    EXPECT_EQ(rowsOf(file, 2002, kAge), link);
    EXPECT_TRUE(file.changeValueType(2002, kAge, kAge));
    EXPECT_EQ(rowsOf(file, 2002, kAge), link);
}

TEST_F(ZTFileRecords, RecordText) {
    open();
    ZTSet fields(&file, 0);
    for (uint32_t f : {kName, kNote, kFriend, kTown}) fields.insert(f, fields.size);
    const struct {
        uint32_t record;
        const char* text;
    } cases[] = {{2001, "Ann\tn1|n2\t\tOslo"}, {2002, "Bob\t\tAnn\t"}, {4999, "\t\t\t"}};
    ZTStr text;
    for (const auto& c : cases) {
        file.getRecordText(c.record, &text, &fields);
        EXPECT_STREQ(text.text, c.text) << c.record;
    }
    ZTSet none(&file, 0);
    file.getRecordText(2001, &text, &none);
    EXPECT_STREQ(text.text, "");
}

TEST_F(ZTFileRecords, BestSet) {
    // Sets over the fields of records 3001.. (Name, Town, Note).
    fx.set(1110, "Wide", {names[0], names[1], names[4], names[5]});   // 2 of 4
    fx.set(1111, "Notes", {names[2], names[0], names[1], names[4]});  // 3 of 4
    fx.set(1112, "By age", {names[4], names[0], names[1]});           // first missing
    const struct {
        std::vector<uint32_t> sets;
        uint32_t filter;
        uint32_t best;
    } cases[] = {
        {{kPeople, 1110}, 0, kPeople},      // same hits: the shorter walk
        {{1110, kPeople}, 0, kPeople},      //   in either order
        {{kPeople, 1111}, 0, 1111},         // more hits
        {{1112}, 0, 0},                     // the first field is not the record's
        {{}, 0, 0},                         // in no set
        {{kPeople, 1111}, kName, kPeople},  // only sets whose first field is Name
        {{kPeople, kPlaces}, kTown, kPlaces},
        {{kPeople, kPlaces}, kZip, 0},
    };
    uint32_t record = 3001;
    for (const auto& c : cases) {
        fx.value(record, kName, 1, "R" + std::to_string(record));
        fx.value(record, kTown, 1, "Town");
        fx.value(record, kNote, 1, "Note");
        for (uint32_t s : c.sets) fx.member(record, s);
        ++record;
    }
    open();
    record = 3001;
    for (const auto& c : cases) {
        EXPECT_EQ(file.findBestSet(record, c.filter), c.best) << record;
        ++record;
    }
}

}  // namespace
