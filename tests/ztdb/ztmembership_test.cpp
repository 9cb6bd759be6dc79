// Set membership: a member's rows are tied to its values of the set's first field and follow
// every change of them.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "date_order_pin.h"
#include "ztatom_helpers.h"
#include "ztdb/ztset.h"

using namespace atomtest;

namespace {

constexpr uint32_t kName = 1001;    // field "Name"
constexpr uint32_t kTown = 1002;    // field "Town"
constexpr uint32_t kPeople = 1010;  // set, first field Name
constexpr uint32_t kEmpty = 1011;   // set without fields
constexpr uint32_t kR = 1100;

using Members = std::vector<std::pair<uint32_t, std::string>>;

struct MembershipTest : ::testing::Test {
    DateOrderPin pin{false};
    NewDatabase db{3, false};
    ZTFile& file = db.file;
    uint32_t nameValue = 0, townValue = 0;
    void SetUp() override {
        ASSERT_TRUE(ZTRec(&file).setCounter(5000));
        nameValue = makeField(file, kName, "Name");
        townValue = makeField(file, kTown, "Town");
        makeSet(file, kPeople, "People", {nameValue, townValue});
        makeSet(file, kEmpty, "Nothing", {});
    }
    void expectSound() {
        dbcheck::Report report = db.check();
        EXPECT_TRUE(report.sound()) << report.text();
    }
    int put(uint32_t record, uint32_t field, uint32_t position, const char* text,
            bool asNew = false) {
        ZTAtom a(&file, 0);
        return a.write(record, field, position, text, 0, asNew);
    }
};

// The record's rows are walked field by field: a field or a set with many rows must not hide
// the ones after it, nor one with a single row.
TEST_F(MembershipTest, SetsAreFoundPastFieldsWithManyRows) {
    constexpr uint32_t kPlaces = 1012;  // set, first field Town
    makeSet(file, kPlaces, "Places", {townValue});
    for (uint32_t p = 1; p <= 7; ++p)
        ASSERT_EQ(put(kR, kName, p, ("n" + std::to_string(p)).c_str(), p > 1), 2);
    ASSERT_EQ(put(kR, kTown, 1, "Oslo"), 2);
    ASSERT_TRUE(file.addToSet(kR, kPeople, true));
    ASSERT_TRUE(file.addToSet(kR, kPlaces, true));
    ZTArray<unsigned long> sets;
    ASSERT_EQ(file.getRecordSets(kR, &sets), 2u);
    EXPECT_EQ(sets[0], kPeople);
    EXPECT_EQ(sets[1], kPlaces);
    // An edit of a tied value keeps both sets' ties.
    ASSERT_GE(put(kR, kName, 7, "zz"), 1);
    ASSERT_GE(put(kR, kTown, 1, "Bergen"), 1);
    EXPECT_EQ(file.getRecordSets(kR, &sets), 2u);
    EXPECT_EQ(membersInOrder(file, kPlaces), (Members{{kR, "Bergen"}}));
    EXPECT_EQ(membersInOrder(file, kPeople).size(), 7u);
    expectSound();
}

TEST_F(MembershipTest, MembersAreTiedToTheirFirstFieldValues) {
    EXPECT_EQ(file.getSetFirstField(kPeople), kName);
    EXPECT_EQ(file.getSetFirstField(kEmpty), 0u);
    ASSERT_EQ(put(kR, kName, 1, "y"), 2);
    ASSERT_EQ(put(kR, kName, 2, "x", true), 2);
    ASSERT_EQ(put(kR + 1, kName, 1, "m"), 2);
    ASSERT_EQ(put(kR + 2, kTown, 1, "Oslo"), 2);
    for (uint32_t r : {kR, kR + 1, kR + 2}) ASSERT_TRUE(file.addToSet(r, kPeople, true));
    EXPECT_EQ(membersInOrder(file, kPeople),
              (Members{{kR + 2, "?"}, {kR + 1, "m"}, {kR, "x"}, {kR, "y"}}));
    ZTArray<unsigned long> sets;
    EXPECT_EQ(file.getRecordSets(kR, &sets), 1u);
    EXPECT_EQ(sets[0], kPeople);
    // Membership rows are walked in membership mode only.
    ZTAtom values(&file, 0), rows(&file, ZTAtom::kModeMembers);
    EXPECT_EQ(values.find(kR, kPeople, 0, "", nullptr, false), -1);
    ASSERT_EQ(rows.find(kR, kPeople, 0, "", nullptr, false), 0);
    EXPECT_EQ(rows.linkField, kName);
    EXPECT_TRUE(rows.recordPasses(kPeople, nullptr, nullptr));
    EXPECT_FALSE(rows.recordPasses(kEmpty, nullptr, nullptr));
    // Joining again changes nothing; a set without fields takes nobody.
    ASSERT_TRUE(file.addToSet(kR, kPeople, true));
    ASSERT_TRUE(file.addToSet(kR, kEmpty, true));
    EXPECT_EQ(file.getRecordSets(kR, &sets), 1u);
    EXPECT_EQ(membersInOrder(file, kPeople).size(), 4u);
    expectSound();
}

TEST_F(MembershipTest, WritesKeepTheTies) {
    ASSERT_EQ(put(kR, kTown, 1, "Oslo"), 2);
    ASSERT_TRUE(file.addToSet(kR, kPeople, true));
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{kR, "?"}}));
    // The first value replaces the "?" row; more values add ties; edits re-tie.
    ASSERT_EQ(put(kR, kName, 1, "b"), 2);
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{kR, "b"}}));
    ASSERT_EQ(put(kR, kName, 2, "a", true), 2);
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{kR, "a"}, {kR, "b"}}));
    ASSERT_EQ(put(kR, kName, 1, "c"), 4);
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{kR, "a"}, {kR, "c"}}));
    expectSound();
    // A value that becomes a link to another record's value is tied to that value.
    ASSERT_EQ(put(kR + 1, kName, 1, "shared"), 2);
    ZTAtom owner(&file, 0);
    ASSERT_EQ(owner.find(kR + 1, kName, 0, "", nullptr, false), 0);
    ZTAtom a(&file, 0);
    ASSERT_EQ(a.write(kR, kName, 2, nullptr, owner.valueID), 4);
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{kR, "c"}, {kR, "shared"}}));
    // Removing values: the last one leaves the "?" row.
    ASSERT_EQ(put(kR, kName, 1, ""), 0);
    ASSERT_EQ(put(kR, kName, 2, ""), 0);
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{kR, "?"}}));
    expectSound();
}

TEST_F(MembershipTest, ANewFirstFieldReTiesEveryMember) {
    for (uint32_t i = 0; i < 5; ++i) {
        ASSERT_EQ(put(kR + i, kName, 1, ("n" + std::to_string(i)).c_str()), 2);
        if (i % 2 == 0) {
            ASSERT_EQ(put(kR + i, kTown, 1, ("t" + std::to_string(4 - i)).c_str()), 2);
        }
        ASSERT_TRUE(file.addToSet(kR + i, kPeople, true));
    }
    // Town becomes the first field: the set record's first entry now links to Town's name.
    ZTAtom entry(&file, 0);
    ASSERT_EQ(entry.write(kPeople, 1, 1, nullptr, townValue), 4);
    ASSERT_EQ(entry.write(kPeople, 1, 2, nullptr, nameValue), 4);
    ASSERT_TRUE(file.rebuildSetTies(kPeople, true));
    EXPECT_EQ(membersInOrder(file, kPeople),
              (Members{{kR + 1, "?"}, {kR + 3, "?"}, {kR + 4, "t0"}, {kR + 2, "t2"}, {kR, "t4"}}));
    expectSound();
    // An emptied field list leaves no member.
    ASSERT_TRUE(file.rebuildSetTies(kPeople, false));
    EXPECT_TRUE(membersInOrder(file, kPeople).empty());
    ZTArray<unsigned long> sets;
    EXPECT_EQ(file.getRecordSets(kR, &sets), 0u);
    EXPECT_EQ(ownTextsOf(file, kR, kName), (std::vector<std::string>{"n0"}));
}

TEST_F(MembershipTest, SavingAFieldListReTiesThroughTheSet) {
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(put(kR + i, kTown, 1, ("t" + std::to_string(3 - i)).c_str()), 2);
        ASSERT_TRUE(file.addToSet(kR + i, kPeople, true));
    }
    ZTSet list(&file, kPeople);
    ASSERT_TRUE(list.load());
    ASSERT_EQ(list.size, 2u);
    list.remove(kName);
    ASSERT_TRUE(list.save(nullptr));
    EXPECT_EQ(file.getSetFirstField(kPeople), kTown);
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{kR + 2, "t1"}, {kR + 1, "t2"}, {kR, "t3"}}));
    list.clear();
    ASSERT_TRUE(list.save(nullptr));
    EXPECT_TRUE(membersInOrder(file, kPeople).empty());
    expectSound();
}

TEST_F(MembershipTest, LeavingSets) {
    ASSERT_EQ(put(kR, kName, 1, "a"), 2);
    makeSet(file, 1012, "Marked", {nameValue});
    ASSERT_EQ(put(1012, 43, 1, "yes"), 2);
    for (uint32_t s : {kPeople, 1012u}) ASSERT_TRUE(file.addToSet(kR, s, true));
    ZTArray<unsigned long> sets;
    struct Case {
        uint32_t filter;
        std::vector<unsigned long> sets;
    };
    for (const Case& c : {Case{0, {}}, Case{31, {kPeople, 1012}}, Case{2, {1012}},
                          Case{4, {kPeople}}, Case{6, {1012}}}) {
        file.getRecordSetsFiltered(kR, &sets, c.filter);
        EXPECT_EQ(std::vector<unsigned long>(sets.data, sets.data + sets.size), c.sets) << c.filter;
    }
    ZTRefreshInfo info;
    ASSERT_TRUE(file.removeFromSet(kR, kPeople, &info));
    EXPECT_EQ(file.getRecordSets(kR, &sets), 1u);
    ASSERT_TRUE(file.addToSet(kR, kPeople, true));
    ASSERT_TRUE(file.removeFromAllSets(kR, &info));
    EXPECT_EQ(file.getRecordSets(kR, &sets), 0u);
    EXPECT_EQ(ownTextsOf(file, kR, kName), (std::vector<std::string>{"a"}));
    // Leaving works for a set without fields too.
    ASSERT_TRUE(file.addToSet(kR, kEmpty, false));
    expectSound();
}

TEST_F(MembershipTest, ANewRecordJoinsTheSetItIsWrittenFor) {
    ZTAtom a(&file, 0);
    ASSERT_EQ(a.write(0, kTown, 1, "Bergen", 0, true, true, false, kPeople), 3);
    const uint32_t fresh = a.recordID;
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{fresh, "?"}}));
    // A new value of the set's first field joins too; of another field it does not.
    ASSERT_EQ(a.write(kR, kTown, 1, "Oslo", 0, true, true, false, kPeople), 2);
    ASSERT_EQ(a.write(kR, kName, 1, "Eve", 0, true, true, false, kPeople), 2);
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{fresh, "?"}, {kR, "Eve"}}));
    expectSound();
}

TEST_F(MembershipTest, AValueThatGoesTakesTheLinksAndTiesOfOthersAlong) {
    // Records kR + 1 and kR + 2 show kR's name through links and are members sorted by it.
    ASSERT_EQ(put(kR, kName, 1, "Ada"), 2);
    ZTAtom owner(&file, 0);
    ASSERT_EQ(owner.find(kR, kName, 0, "", nullptr, false), 0);
    ZTAtom link(&file, 0);
    ASSERT_EQ(link.write(kR + 1, kName, 1, nullptr, owner.valueID), 2);
    ASSERT_EQ(link.write(kR + 2, kName, 1, nullptr, owner.valueID), 2);
    ASSERT_EQ(put(kR + 2, kName, 2, "Bo", true), 2);
    for (uint32_t r : {kR, kR + 1, kR + 2}) ASSERT_TRUE(file.addToSet(r, kPeople, true));
    EXPECT_EQ(membersInOrder(file, kPeople).size(), 4u);
    ASSERT_EQ(put(kR, kName, 1, ""), 0);
    EXPECT_TRUE(ownTextsOf(file, kR + 1, kName).empty());
    EXPECT_EQ(ownTextsOf(file, kR + 2, kName), (std::vector<std::string>{"Bo"}));
    EXPECT_EQ(membersInOrder(file, kPeople), (Members{{kR, "?"}, {kR + 1, "?"}, {kR + 2, "Bo"}}));
    expectSound();
}

TEST_F(MembershipTest, RowTypes) {
    ASSERT_EQ(put(kR, kTown, 1, "x"), 2);
    ASSERT_EQ(put(kR, kName, 1, "y"), 2);
    ASSERT_TRUE(file.addToSet(kR, kPeople, true));
    ZTArray<ZTFile::RowType> types;
    file.getRowTypes(kR, &types);
    ASSERT_EQ(types.size, 3u);
    EXPECT_EQ(types[0].fieldID, kName);
    EXPECT_EQ(types[1].fieldID, kTown);
    EXPECT_EQ(types[2].fieldID, kPeople);
    EXPECT_EQ(types[2].flags, 0xC1u);
    file.getRowTypes(kR + 50, &types);
    EXPECT_EQ(types.size, 0u);
}

}  // namespace
